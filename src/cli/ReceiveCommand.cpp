// corvane-cli receive: the receive engine from a terminal.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "TransferCommands.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/ReceiveIntoFile.h"
#include "transfer/TransferContext.h"

namespace corvane::cli {

namespace {

constexpr const char* ReceiveUsage =
    "usage: corvane-cli [--cfg FILE] receive [-m MACHINE.MDF] [-p PORT] [-i DEVICE-FILE] [-q]\n"
    "                   [--no-pace] TARGET\n"
    "\n"
    "Receives one NC program that the machine punches and stores it in TARGET (created or\n"
    "replaced), every line ending in CR LF.\n"
    "  -m MACHINE.MDF  the machine definition (default: the current machine of the\n"
    "                  configuration; without one, -m or -p must be given)\n"
    "  -p PORT         the port: COM n, a serial device (/dev/ttyUSB0), tcp://HOST:PORT\n"
    "                  or rfc2217://HOST:PORT for a device server (default: the machine's)\n"
    "  -i DEVICE-FILE  read the stream from this file instead of a port (the file is only\n"
    "                  read)\n"
    "  -q              print only the port and the closing lines\n"
    "  --no-pace       on a pseudo-terminal, send as fast as the far end reads (by default\n"
    "                  characters leave at the machine's baud rate, as from a serial port)\n"
    "Ctrl-C interrupts the receive and keeps the lines stored so far; a second Ctrl-C stops\n"
    "at once.\n"
    "\n"
    "exit status: 0 completed, 1 interrupted or failed, 2 usage error, 3 the port, the\n"
    "device file or the target could not be opened, 4 the machine fell silent (time-out)\n";

int exitStatusOf(const ReceiveOutcome& outcome) {
    switch (outcome.result) {
    case ReceiveDone:
        return outcome.timedOut() ? ExitTimeOut : ExitSuccess;
    case ReceiveTargetNotCreated:
    case ReceivePortNotOpened:
        return ExitFile;
    default:
        return ExitFailure;
    }
}

// The target is created (emptied) before the device file is opened, so the two must differ.
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec))
        return true;
    return a == b;
}

} // namespace

int runReceiveCommand(CliContext& context, CliArguments arguments) {
    TransferOptions options;
    if (const int status = parseTransferOptions(context, arguments, "-i", options))
        return status;
    if (options.help) {
        std::fputs(ReceiveUsage, context.out);
        return ExitSuccess;
    }
    if (options.operands.size() != 1)
        return fail(context, ExitUsage, "receive needs exactly one target file (try --help)");

    AppConfig config;
    MachineDef machine;
    if (const int status = loadTransferSettings(context, options, "-i", config, machine))
        return status;

    SendQueue queue;
    const std::string target = namedPath(options.operands[0]);
    if (target.empty())
        return fail(context, ExitUsage, "target path is too long: " + options.operands[0]);
    if (!options.deviceFile.empty() && sameFile(target, options.deviceFile))
        return fail(context, ExitUsage,
                    "the target and the device file are the same file; the receive would "
                    "empty it before reading it");
    std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", target.c_str());

    ReceiveOutcome outcome;
    runTransfer(options, machine, config, queue, [&outcome](TransferContext& ctx) {
        return ReceiveNcFile(ctx, ctx.queue.Entries[0].Name, &outcome);
    });
    return exitStatusOf(outcome);
}

} // namespace corvane::cli
