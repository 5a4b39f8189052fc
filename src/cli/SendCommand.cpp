// corvane-cli send: the send engine from a terminal.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TransferCommands.h"
#include "restart/RestartPlanner.h"
#include "transfer/SendEngine.h"
#include "transfer/SendFileCheck.h"
#include "transfer/TransferContext.h"

namespace corvane::cli {

namespace {

constexpr const char* SendUsage =
    "usage: corvane-cli [--cfg FILE] send [-m MACHINE.MDF] [-p PORT] [-o DEVICE-FILE] [-q]\n"
    "                   [--no-pace] FILE...\n"
    "       corvane-cli [--cfg FILE] send --restart-at WHERE [--dry-run] [-m MACHINE.MDF]\n"
    "                   [-p PORT] [-o DEVICE-FILE] [-q] [--no-pace] FILE\n"
    "\n"
    "Sends up to 32 NC files, in the order given, as one transfer to the machine.\n"
    "  --restart-at WHERE  send one program from a place on: T<n> (the first change to\n"
    "                  tool n), T<n>:<k> (the k-th), N<n> (the block numbered n) or L<n>\n"
    "                  (line n); a header before it puts the machine back in state.\n"
    "                  A place where that cannot be done safely is refused (status 2)\n"
    "  --dry-run       with --restart-at: print the program that would be sent and open\n"
    "                  no port\n"
    "  -m MACHINE.MDF  the machine definition (default: the current machine of the\n"
    "                  configuration; without one, -m or -p must be given)\n"
    "  -p PORT         the port: COM n, a serial device (/dev/ttyUSB0), tcp://HOST:PORT\n"
    "                  or rfc2217://HOST:PORT for a device server (default: the machine's)\n"
    "  -o DEVICE-FILE  write the stream into this file instead of a port\n"
    "  -q              print only the port and the closing lines\n"
    "  --no-pace       on a pseudo-terminal, send as fast as the far end reads (by default\n"
    "                  characters leave at the machine's baud rate, as from a serial port)\n"
    "Ctrl-C interrupts the send; a second Ctrl-C stops at once.\n"
    "\n"
    "Nothing is sent when a file holds a line over 511 characters, a NUL byte, or a\n"
    "character the machine's code cannot carry (on a 7-bit line: anything not ASCII).\n"
    "\n"
    "exit status: 0 completed, 1 interrupted or failed, 2 usage error, 3 the port, the\n"
    "device file or an NC file could not be opened, or a file cannot be sent unchanged\n";

// The size as the queue keeps it (low 32 bits), or an error text.
bool queueFile(const std::string& argument, SendQueueEntry& entry, std::string& error) {
    const std::string path = namedPath(argument);
    if (path.empty()) {
        error = "path is too long: " + argument;
        return false;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": no such file";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": not a file";
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": cannot be read";
        return false;
    }
    close(fd);
    std::snprintf(entry.Name, sizeof entry.Name, "%s", path.c_str());
    entry.Size = static_cast<uint32_t>(static_cast<uint64_t>(info.st_size) & 0xFFFFFFFFu);
    return true;
}

int exitStatusOf(int result) {
    switch (result) {
    case SendCompleted:
        return ExitSuccess;
    case SendFileNotOpened:
    case SendPortNotOpened:
        return ExitFile;
    default:
        return ExitFailure;
    }
}

// The options only a send takes, taken out of the arguments before the shared ones are read.
struct RestartOptions {
    std::string where;
    bool dryRun = false;
};

int takeRestartOptions(const CliContext& context, CliArguments arguments, RestartOptions& restart,
                       std::vector<std::string>& rest) {
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--restart-at") {
            if (i + 1 >= arguments.size())
                return fail(context, ExitUsage, "--restart-at needs a place (try --help)");
            restart.where = arguments[++i];
            if (restart.where.empty())
                return fail(context, ExitUsage, "--restart-at needs a place (try --help)");
            continue;
        }
        if (!optionsEnded && argument == "--dry-run") {
            restart.dryRun = true;
            continue;
        }
        if (argument == "--")
            optionsEnded = true;
        rest.push_back(argument);
    }
    return ExitSuccess;
}

// A private folder holding the restarted program under the program's own name, so the log
// names the program the operator chose.
struct RestartFile {
    std::string folder;
    std::string path;
    ~RestartFile() {
        if (!path.empty())
            ::unlink(path.c_str());
        if (!folder.empty())
            ::rmdir(folder.c_str());
    }
};

int runRestart(CliContext& context, TransferOptions& options, const RestartOptions& restart) {
    if (options.operands.size() != 1)
        return fail(context, ExitUsage, "--restart-at takes exactly one NC file");
    RestartPlace place;
    if (!ParseRestartPlace(restart.where, place))
        return fail(context, ExitUsage,
                    "'" + restart.where +
                        "' is not a restart place: write T<n>, T<n>:<k>, N<n> or L<n>");

    // A dry run prints text before any machine's codes and opens nothing: it needs a machine
    // only to check one that was named.
    AppConfig config;
    MachineDef machine;
    const bool machineNamed =
        !options.machineFile.empty() || !options.port.empty() || !options.deviceFile.empty();
    if (!restart.dryRun || machineNamed)
        if (const int status = loadTransferSettings(context, options, "-o", config, machine))
            return status;

    SendQueue queue;
    std::string error;
    if (!queueFile(options.operands[0], queue.Entries[0], error))
        return fail(context, ExitFile, error);
    std::FILE* program = std::fopen(queue.Entries[0].Name, "rb");
    if (program == nullptr)
        return fail(context, ExitFile, std::string(queue.Entries[0].Name) + ": cannot be read");
    const RestartPlan plan = PlanRestart(program, place);
    if (!plan.allowed) {
        std::fclose(program);
        return fail(context, ExitUsage, plan.refusal);
    }

    if (restart.dryRun) {
        const bool written = WriteRestartProgram(program, plan, context.out);
        std::fclose(program);
        return written ? ExitSuccess : fail(context, ExitFailure, "the program could not be read");
    }

    RestartFile file;
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::string folder = fromEnvironment != nullptr && fromEnvironment[0] != '\0'
                             ? std::string(fromEnvironment)
                             : std::string("/tmp");
    folder += "/corvane-restart-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::fclose(program);
        return fail(context, ExitFile, "no temporary folder for the restarted program");
    }
    file.folder = folder;
    const char* slash = std::strrchr(queue.Entries[0].Name, '/');
    file.path = folder + "/" + (slash != nullptr ? slash + 1 : queue.Entries[0].Name);
    std::FILE* out = std::fopen(file.path.c_str(), "wb");
    bool written = out != nullptr && WriteRestartProgram(program, plan, out);
    if (out != nullptr && std::fclose(out) != 0)
        written = false;
    std::fclose(program);
    if (!written || file.path.size() >= sizeof queue.Entries[0].Name)
        return fail(context, ExitFile, "the restarted program could not be written");

    // From here on the restart is a plain send of that program.
    if (!queueFile(file.path, queue.Entries[0], error))
        return fail(context, ExitFile, error);
    queue.Count = 1;
    return exitStatusOf(runTransfer(options, machine, config, queue,
                                    [](TransferContext& ctx) { return SendNcData(ctx); }));
}

} // namespace

int runSendCommand(CliContext& context, CliArguments allArguments) {
    RestartOptions restart;
    std::vector<std::string> rest;
    if (const int status = takeRestartOptions(context, allArguments, restart, rest))
        return status;
    const CliArguments arguments(rest);
    TransferOptions options;
    if (const int status = parseTransferOptions(context, arguments, "-o", options))
        return status;
    if (options.help) {
        std::fputs(SendUsage, context.out);
        return ExitSuccess;
    }
    if (restart.dryRun && restart.where.empty())
        return fail(context, ExitUsage, "--dry-run goes with --restart-at (try --help)");
    if (!restart.where.empty())
        return runRestart(context, options, restart);
    if (options.operands.empty())
        return fail(context, ExitUsage, "send needs at least one NC file (try --help)");
    if (options.operands.size() > static_cast<size_t>(SendQueueCapacity))
        return fail(context, ExitUsage, "send takes at most 32 files");

    AppConfig config;
    MachineDef machine;
    if (const int status = loadTransferSettings(context, options, "-o", config, machine))
        return status;

    SendQueue queue;
    for (const std::string& operand : options.operands) {
        std::string error;
        if (!queueFile(operand, queue.Entries[queue.Count], error))
            return fail(context, ExitFile, error);
        ++queue.Count;
    }
    // Nothing goes out when a file would reach the machine changed: the whole list is looked
    // at before the port opens, and the file and line are named.
    for (int i = 0; i < queue.Count; ++i) {
        const std::string name = queue.Entries[i].Name;
        const SendFileCheck check = CheckSendFile(name.c_str(), machine);
        if (check.fault == SendFileFault::Binary)
            return fail(context, ExitFile,
                        name + ", line " + std::to_string(check.line) +
                            ": the file holds a NUL byte; it looks like a binary file, not an NC "
                            "program, so nothing was sent.");
        if (check.fault == SendFileFault::LineTooLong || check.fault == SendFileFault::NotCarried)
            return fail(context, ExitFile,
                        DescribeSendFileCheck(check, name, machine.line, Language::English));
    }

    return exitStatusOf(runTransfer(options, machine, config, queue,
                                    [](TransferContext& ctx) { return SendNcData(ctx); }));
}

} // namespace corvane::cli
