// Options and settings shared by "send" and "receive".

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TerminalHost.h"
#include "TransferCommands.h"
#include "settings/AppConfig.h"
#include "settings/MachineDefKeys.h"
#include "support/IniFile.h"
#include "transfer/PortAddress.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/SerialPortList.h"

namespace corvane::cli {

namespace {

// Whether the configuration has a current machine: a machine file that exists, or a definition
// kept in the configuration itself. Without one the machine would be the bare defaults, whose
// port is COM1, and a send would go wherever that happens to lead.
bool configHasMachine(const std::string& configPath, const AppConfig& config) {
    if (config.McnFile[0] != '\0')
        return true;
    const IniFile ini = IniFile::load(configPath);
    return ini.hasSection(MachineInfoSection) || ini.hasSection(MachineLineSection) ||
           ini.hasSection(MachineConfigSection);
}

} // namespace

int parseTransferOptions(const CliContext& context, CliArguments arguments,
                         const char* deviceOption, TransferOptions& options) {
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            options.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (isHelpOption(argument)) {
            options.help = true;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "--no-pace") {
            options.noPace = true;
        } else if (argument == "-m" || argument == "-p" || argument == deviceOption) {
            if (i + 1 >= arguments.size())
                return fail(context, ExitUsage, argument + " needs a value (try --help)");
            const std::string& value = arguments[++i];
            if (argument == "-m")
                options.machineFile = value;
            else if (argument == "-p")
                options.port = value;
            else
                options.deviceFile = value;
        } else {
            return fail(context, ExitUsage, "unknown option '" + argument + "' (try --help)");
        }
    }
    return ExitSuccess;
}

std::string transferTargetLine(const TransferOptions& options, const MachineLine& line) {
    if (!options.deviceFile.empty())
        return "Device file: " + options.deviceFile;
    PortAddress address;
    if (!MachinePortAddress(line, address))
        return "Port: " + SerialDeviceName(line);
    if (address.kind == PortKind::ComNumber)
        return "Port: " + SerialDeviceName(line) + " (COM" + std::to_string(address.comNumber) +
               ")";
    if (address.kind == PortKind::Device)
        return "Port: " + address.device;
    return "Port: " + address.text();
}

LineOptions lineOptionsFor(const TransferOptions& options) {
    LineOptions line;
    line.emulateLineRate = !options.noPace;
    return line;
}

int loadTransferSettings(const CliContext& context, TransferOptions& options,
                         const char* deviceOption, AppConfig& config, MachineDef& machine) {
    if (!options.port.empty() && !options.deviceFile.empty())
        return fail(context, ExitUsage,
                    std::string("-p and ") + deviceOption +
                        " exclude each other: a transfer "
                        "goes to a serial port or to a device file");
    PortAddress portGiven;
    if (!options.port.empty() && !ParsePortAddress(options.port, portGiven))
        return fail(context, ExitUsage,
                    "'" + options.port +
                        "' is not a port: write COM n, a device path, tcp://HOST:PORT or "
                        "rfc2217://HOST:PORT (IPv6 addresses in brackets)");

    std::string configPath;
    if (const int status = resolveConfigFile(context, configPath); status != ExitSuccess)
        return status;
    const bool machineGiven = !options.machineFile.empty();
    LoadConfig(configPath.c_str(), machineGiven ? 0 : 1, config, machine, ConfigEnvironment{});
    if (!machineGiven && options.port.empty() && options.deviceFile.empty() &&
        !configHasMachine(configPath, config))
        return fail(context, ExitUsage,
                    "no machine to use: the configuration " + configPath +
                        " has no current machine; name one with -m MACHINE.MDF or a port "
                        "with -p PORT");

    if (machineGiven) {
        const std::string path = namedPath(options.machineFile);
        if (path.empty())
            return fail(context, ExitUsage, "machine path is too long: " + options.machineFile);
        std::string error;
        if (!checkReadableFile(path, &error) ||
            MachineDefReadWhole(path.c_str(), machine, &error) == 0)
            return fail(context, ExitFile, error);
    }

    if (!options.port.empty()) {
        PortChoice choice;
        ParsePortText(options.port, choice);
        ApplyPortChoice(choice, machine.line);
        machine.config.OutofFile = 0;
    }
    if (!options.deviceFile.empty()) {
        // Naming a device file turns the device into a file for this run, whatever the
        // machine says: the stream goes there instead of to the port.
        options.deviceFile = namedPath(options.deviceFile);
        if (options.deviceFile.empty())
            return fail(context, ExitUsage, "device file path is too long");
        machine.config.OutofFile = 1;
    } else if (machine.config.OutofFile != 0) {
        return fail(context, ExitUsage,
                    std::string("the machine's device is a file: name it with ") + deviceOption +
                        " FILE");
    } else if (PortAddress address; !MachinePortAddress(machine.line, address)) {
        return fail(context, ExitUsage,
                    "the machine's PortName '" + SerialDeviceName(machine.line) +
                        "' is not a port: write COM n, a device path, tcp://HOST:PORT or "
                        "rfc2217://HOST:PORT, or give one with -p");
    }
    return ExitSuccess;
}

int runTransfer(const TransferOptions& options, MachineDef& machine, const AppConfig& config,
                SendQueue& queue, const std::function<int(TransferContext&)>& engine) {
    signal(SIGPIPE, SIG_IGN); // a closed log reader must not kill the transfer
    TransferState state;
    TerminalHost host(
        state,
        TerminalLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")),
        options.quiet, options.deviceFile);
    host.catchInterrupts();
    // Said first and even with -q: a transfer that went to the wrong port is otherwise only
    // found at the machine.
    std::printf("%s\n", transferTargetLine(options, machine.line).c_str());
    std::fflush(stdout);
    const LineOpener openLine = DefaultLineOpener(lineOptionsFor(options));
    TransferContext ctx{machine, config, queue, state, host, openLine, 0, nullptr};
    state.InterruptRequest = 0;
    state.TransferBusy = true;
    const int result = engine(ctx);
    state.TransferBusy = false;
    return result;
}

} // namespace corvane::cli
