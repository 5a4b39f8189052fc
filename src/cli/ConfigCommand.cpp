// corvane-cli config: show the configuration as the program would save it after loading.

#include <string>

#include "CliCommon.h"
#include "settings/AppConfig.h"
#include "settings/MachineDefKeys.h"
#include "support/IniFile.h"

namespace corvane::cli {

namespace {

constexpr const char* ConfigUsage =
    "usage: corvane-cli [--cfg FILE] config show [FILE.cfg]\n"
    "\n"
    "show  prints the configuration FILE (default: the --cfg or default configuration file)\n"
    "      as it would be saved after loading it: older settings imported, version rules\n"
    "      applied. When it names no machine file the machine definition it carries is\n"
    "      printed with it. Nothing is written.\n";

int showConfig(CliContext& context, CliArguments arguments) {
    if (arguments.size() > 1) {
        return fail(context, ExitUsage, "config show takes at most one file (try --help)");
    }
    std::string path;
    if (arguments.size() == 1) {
        path = namedPath(arguments[0]);
        if (path.empty()) {
            return fail(context, ExitUsage, "configuration path is too long: " + arguments[0]);
        }
        std::string error;
        if (!checkReadableFile(path, &error)) {
            return fail(context, ExitFile, error);
        }
    } else if (const int status = resolveConfigFile(context, path); status != ExitSuccess) {
        return status;
    }

    AppConfig config;
    MachineDef machine;
    LoadConfig(path.c_str(), 1, config, machine, ConfigEnvironment{});

    IniFile ini;
    AppConfigStore(ini, config);
    if (config.McnFile[0] == '\0') {
        MachineDefStore(ini, machine.line, machine.config); // saved beside, as at exit
    }
    std::fputs(ini.text().c_str(), context.out);
    return ExitSuccess;
}

} // namespace

int runConfigCommand(CliContext& context, CliArguments arguments) {
    if (const std::optional<int> status = usageAnswer(context, arguments, ConfigUsage))
        return *status;
    if (arguments[0] == "show") {
        return showConfig(context, arguments.subspan(1));
    }
    return fail(context, ExitUsage, "unknown config command '" + arguments[0] + "' (try --help)");
}

} // namespace corvane::cli
