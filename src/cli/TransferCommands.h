#pragma once
// The two transfer verbs, "send" and "receive", and what they share: the machine, the port or
// device file, the language and the terminal host around one run of an engine.

#include <functional>
#include <string>
#include <vector>

#include "CliCommon.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "transfer/LineSettings.h"
#include "transfer/TransferContext.h"

namespace corvane::cli {

// A receive that ended because the machine fell silent for PtrTimeOut milliseconds.
constexpr int ExitTimeOut = 4;

int runSendCommand(CliContext& context, CliArguments arguments);
int runReceiveCommand(CliContext& context, CliArguments arguments);

// The options both verbs take. Everything that is not an option lands in `operands`.
struct TransferOptions {
    std::string machineFile; // -m
    std::string port;        // -p
    std::string deviceFile;  // -o (send) or -i (receive)
    bool quiet = false;      // -q
    bool noPace = false;     // --no-pace
    bool help = false;
    std::vector<std::string> operands;
};

// Reads the arguments; `deviceOption` is "-o" or "-i". ExitSuccess, or the status to end with
// after the message was printed.
int parseTransferOptions(const CliContext& context, CliArguments arguments,
                         const char* deviceOption, TransferOptions& options);

// How the serial line is driven: --no-pace turns off the line-rate emulation on a
// pseudo-terminal.
LineOptions lineOptionsFor(const TransferOptions& options);

// The configuration (for Echo) and the machine: -m when given, else the current machine of the
// configuration; -p and the device file laid over it. Nothing is ever written back.
int loadTransferSettings(const CliContext& context, TransferOptions& options,
                         const char* deviceOption, AppConfig& config, MachineDef& machine);

// The first line of a transfer's log: the port the machine's line goes to ("Port:
// /dev/ttyS0 (COM1)", "Port: rfc2217://HOST:PORT") or the device file named instead.
std::string transferTargetLine(const TransferOptions& options, const MachineLine& line);

// Runs one engine call under a terminal host that catches Ctrl-C, with the transfer state
// set up as the window's command dispatch would; returns what `engine` returned.
int runTransfer(const TransferOptions& options, MachineDef& machine, const AppConfig& config,
                SendQueue& queue, const std::function<int(TransferContext&)>& engine);

} // namespace corvane::cli
