// corvane-cli: the settings and the transfer engines from a terminal. This file only finds
// the verb; each verb lives in its own file and is listed in the table below.

#include <cstdio>
#include <string>
#include <vector>

#include "CliCommon.h"
#include "ServeCommand.h"
#include "TransferCommands.h"
#include "app/ConfigLocation.h"

using namespace corvane::cli;

namespace {

constexpr CliCommand Commands[] = {
    {"machine", runMachineCommand,
     "machine show [FILE.MDF]          print a machine definition\n"
     "  machine new FILE.MDF [KEY=VALUE ...]  write a definition: defaults with KEY=VALUE set"},
    {"config", runConfigCommand,
     "config show [FILE.cfg]           print the configuration as it would be saved"},
    {"send", runSendCommand,
     "send [-m MDF] [-p PORT] [-o FILE] [-q] NC-FILE...\n"
     "                                   send NC files to the machine (exit 0/1/2/3)"},
    {"receive", runReceiveCommand,
     "receive [-m MDF] [-p PORT] [-i FILE] [-q] TARGET\n"
     "                                   receive one program into TARGET (exit 0/1/2/3/4)"},
    {"serve", runServeCommand,
     "serve [-m MDF] [-p PORT] [--inbox DIR] [--library DIR] [LINE.ini]\n"
     "                                   serve one machine line unattended (exit 0/2/3)"},
    {"shop", runShopCommand,
     "shop status --broker URL [--wait-ms N]\n"
     "                                   every served line's state, from the shop's broker\n"
     "  shop send --broker URL LINE NAME  have LINE send library program NAME (exit 0/1)"},
    {"journal", runJournalCommand,
     "journal verify FILE...           check that transfer journals are as written (exit 0/1/2)"},
};

void printUsage(std::FILE* stream) {
    std::fputs("usage: corvane-cli [--cfg FILE] COMMAND [ARGS]\n\ncommands:\n", stream);
    for (const CliCommand& command : Commands) {
        std::fprintf(stream, "  %s\n", command.synopsis);
    }
    std::fputs("\noptions:\n"
               "  --cfg FILE   the configuration file (default: corvane.cfg beside the program\n"
               "               when it exists, else $XDG_CONFIG_HOME/corvane/corvane.cfg);\n"
               "               corvane-cli reads it and never writes it\n"
               "  --help       this text; COMMAND --help for one command\n"
               "  --version    the version of corvane-cli\n"
               "\nexit status: 0 success, 1 failure, 2 usage error, 3 a named file does not\n"
               "exist or cannot be read or written\n",
               stream);
}

} // namespace

int main(int argc, char** argv) {
    CliContext context;
    context.executablePath = corvane::ExecutablePath(argc > 0 ? argv[0] : nullptr);

    // --cfg may stand anywhere, so that it can be added at the end of a command line.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--cfg") {
            if (i + 1 >= argc) {
                return fail(context, ExitUsage, "--cfg needs a file name");
            }
            context.configPath = argv[++i];
        } else if (argument.rfind("--cfg=", 0) == 0) {
            context.configPath = argument.substr(6);
            if (context.configPath.empty()) {
                return fail(context, ExitUsage, "--cfg needs a file name");
            }
        } else {
            arguments.push_back(argument);
        }
    }

    if (arguments.empty()) {
        printUsage(stderr);
        return ExitUsage;
    }
    if (isHelpOption(arguments.front())) {
        printUsage(stdout);
        return ExitSuccess;
    }
    if (arguments.front() == "--version") {
        std::fputs("corvane-cli " CORVANE_VERSION "\n", stdout);
        return ExitSuccess;
    }
    for (const CliCommand& command : Commands) {
        if (arguments.front() == command.name) {
            return command.run(context, CliArguments(arguments).subspan(1));
        }
    }
    fail(context, ExitUsage, "unknown command '" + arguments.front() + "' (try --help)");
    return ExitUsage;
}
