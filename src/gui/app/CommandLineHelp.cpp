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
    "  --help         show this text and exit (also -h, -help, /?)\n"
    "  --version      show the version and exit (also -version)\n"
    "\n"
    "A second start hands its machine file and every NC file to the running window, which\n"
    "sends several files as one list.\n";

// The switch without its leading "--", "-" or "/", in upper case; empty for anything else.
std::string switchName(const std::string& argument) {
    size_t start = 0;
    if (argument.rfind("--", 0) == 0)
        start = 2;
    else if (!argument.empty() && (argument[0] == '-' || argument[0] == '/'))
        start = 1;
    else
        return {};
    std::string name = argument.substr(start);
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

} // namespace

// The usage promises any case and "-" or "/" for every switch, these two included. A path
// such as "/help" that names an existing file is still a switch here: no NC file is named so.
std::optional<std::string> CommandLineAnswer(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        const std::string name = switchName(argument);
        if (name == "HELP" || name == "H" || name == "?")
            return std::string(UsageText);
        if (name == "VERSION")
            return std::string("corvane " CORVANE_VERSION "\n");
    }
    return std::nullopt;
}

} // namespace corvane::gui
