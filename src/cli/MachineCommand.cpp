// corvane-cli machine: show a machine definition, or write a new one from KEY=VALUE pairs.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CliCommon.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "settings/MachineDefKeys.h"
#include "support/IniFile.h"
#include "transfer/PortAddress.h"

namespace corvane::cli {

namespace {

constexpr const char* MachineUsage =
    "usage: corvane-cli [--cfg FILE] machine show [FILE.MDF]\n"
    "       corvane-cli machine new FILE.MDF [KEY=VALUE ...]\n"
    "\n"
    "show  prints the definition as Corvane writes it: the defaults with FILE read over\n"
    "      them, or without FILE the current machine of the configuration.\n"
    "new   writes FILE (replacing the definition it may hold): the defaults with every\n"
    "      KEY=VALUE set. Keys are those of the file (case does not matter); PtpNull and\n"
    "      PtpSpace take three numbers \"before,after,middle\"; numbers may be written 0x11.\n"
    "      A key or value that is not allowed writes nothing.\n";

void printMachine(const CliContext& context, const MachineDef& machine) {
    IniFile ini;
    MachineDefStore(ini, machine.line, machine.config);
    std::fputs(ini.text().c_str(), context.out);
}

// Strict number: decimal with an optional sign, or 0x followed by hex digits; nothing else.
bool parseInteger(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.c_str() + (hex ? 2 : 0);
    if (*begin == '\0' || *begin == ' ' || (hex && (*begin == '-' || *begin == '+'))) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(begin, &end, hex ? 16 : 10);
    return errno == 0 && *end == '\0';
}

// Stores `value` into the field of `entry`, or says why it is not allowed.
bool assign(const MachineDefKey& entry, const std::string& value, MachineDef& machine,
            std::string& error) {
    void* field = MachineDefField(entry, machine.line, machine.config);
    if (entry.kind == ProfileText) {
        if (value.size() > static_cast<std::size_t>(entry.max)) {
            error = std::string(entry.key) + " is at most " + std::to_string(entry.max) +
                    " characters long";
            return false;
        }
        PortAddress port;
        if (std::strcmp(entry.key, "PortName") == 0 && !value.empty() &&
            !ParsePortAddress(value, port)) {
            error = "PortName: '" + value +
                    "' is not a port (COM n, a device path, tcp://HOST:PORT or "
                    "rfc2217://HOST:PORT)";
            return false;
        }
        std::memcpy(field, value.c_str(), value.size() + 1);
        return true;
    }
    int32_t numbers[3] = {};
    int count = 0;
    std::size_t start = 0;
    while (count <= entry.count) {
        const std::size_t separator = value.find_first_of(",;", start);
        const std::string part = value.substr(start, separator - start);
        long long number = 0;
        if (!parseInteger(part, number)) {
            error = std::string(entry.key) + ": '" + part + "' is not a number";
            return false;
        }
        if (number < entry.min || number > entry.max) {
            error = std::string(entry.key) + " must be between " + std::to_string(entry.min) +
                    " and " + std::to_string(entry.max) + ", not " + part;
            return false;
        }
        if (count < entry.count) {
            numbers[count] = static_cast<int32_t>(number);
        }
        ++count;
        if (separator == std::string::npos) {
            break;
        }
        start = separator + 1;
    }
    if (count != entry.count) {
        error = entry.count == 1 ? std::string(entry.key) + " takes one number"
                                 : std::string(entry.key) + " takes " +
                                       std::to_string(entry.count) + " numbers separated by commas";
        return false;
    }
    std::memcpy(field, numbers, sizeof(int32_t) * entry.count);
    return true;
}

int showMachine(CliContext& context, CliArguments arguments) {
    if (arguments.size() > 1) {
        return fail(context, ExitUsage, "machine show takes at most one file (try --help)");
    }
    MachineDef machine;
    MachineDefSetDefaults(machine.line, machine.config);
    if (arguments.size() == 1) {
        const std::string path = namedPath(arguments[0]);
        if (path.empty()) {
            return fail(context, ExitUsage, "machine path is too long: " + arguments[0]);
        }
        std::string error;
        if (!checkReadableFile(path, &error) ||
            !MachineDefReadFile(path.c_str(), machine.line, machine.config, &error)) {
            return fail(context, ExitFile, error);
        }
    } else {
        std::string configPath;
        if (const int status = resolveConfigFile(context, configPath); status != ExitSuccess) {
            return status;
        }
        AppConfig config;
        LoadConfig(configPath.c_str(), 1, config, machine, ConfigEnvironment{});
    }
    printMachine(context, machine);
    return ExitSuccess;
}

int newMachine(CliContext& context, CliArguments arguments) {
    if (arguments.empty()) {
        return fail(context, ExitUsage, "machine new needs a file name (try --help)");
    }
    const std::string path = namedPath(arguments[0]);
    if (path.empty()) {
        return fail(context, ExitUsage, "machine path is too long: " + arguments[0]);
    }
    MachineDef machine;
    MachineDefSetDefaults(machine.line, machine.config);
    for (const std::string& assignment : arguments.subspan(1)) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos) {
            return fail(context, ExitUsage, "'" + assignment + "' is not KEY=VALUE");
        }
        const std::string key = assignment.substr(0, equals);
        const MachineDefKey* entry = FindMachineDefKey(key);
        if (entry == nullptr) {
            return fail(context, ExitUsage, "unknown machine key '" + key + "'");
        }
        std::string error;
        if (!assign(*entry, assignment.substr(equals + 1), machine, error)) {
            return fail(context, ExitUsage, error);
        }
    }
    std::string error;
    if (!MachineDefWriteFile(path.c_str(), machine.line, machine.config, &error)) {
        return fail(context, ExitFile, error.empty() ? path + ": cannot be written" : error);
    }
    return ExitSuccess;
}

} // namespace

int runMachineCommand(CliContext& context, CliArguments arguments) {
    if (const std::optional<int> status = usageAnswer(context, arguments, MachineUsage))
        return *status;
    if (arguments[0] == "show") {
        return showMachine(context, arguments.subspan(1));
    }
    if (arguments[0] == "new") {
        return newMachine(context, arguments.subspan(1));
    }
    return fail(context, ExitUsage, "unknown machine command '" + arguments[0] + "' (try --help)");
}

} // namespace corvane::cli
