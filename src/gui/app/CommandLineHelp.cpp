#include "app/CommandLineHelp.h"

namespace corvane::gui {

namespace {

constexpr const char* UsageText =
    "usage: corvane [-SWITCH ...] [NC-FILE ...]\n"
    "\n"
    "The Corvane window: sends NC programs to a CNC machine tool and receives them back.\n"
    "NC files named here are sent to the current machine at once.\n"
    "\n"
    "Switches (one leading - or /, any case):\n"
    "  -MDF=FILE      use this machine definition for this run (not saved at exit)\n"
    "  -CFG=FILE      use this configuration file (also -KFILE)\n"
    "  -EXIT          close once the NC files named here have been sent\n"
    "  -ASK           ask before sending the NC files named here (file managers use it)\n"
    "  -CREATE        start a new window even when one is running\n"
    "  -TOPMOST       keep the window above all others\n"
    "  -JP, -US       Japanese or English texts, whatever the desktop's language\n"
    "  -NOTIFY=HEX    report the send's progress to the caller's socket corvane-notify-HEX\n"
    "\n"
    "  --help         show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "A second start hands its machine file and first NC file to the running window.\n";

} // namespace

std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help")
            return std::string(UsageText);
        if (argument == "--version")
            return std::string("corvane " CORVANE_VERSION "\n");
    }
    return std::nullopt;
}

} // namespace corvane::gui
