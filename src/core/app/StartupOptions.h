#pragma once
// What the command line asks for at start-up: switches, the configuration and machine files,
// the NC files to send and the window to notify. Pure: the file system is reached only through
// the lookups the caller passes, so every rule can be tested without files.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/StringTable.h"
#include "transfer/TransferState.h"

namespace corvane {

struct StartupFlags {
    bool Exit = false;    // close after the unattended send
    bool Topmost = false; // frame window above all others
    bool Create = false;  // always a new instance, even with OneInstance set
    // "ASK": the files named are sent only once the user agreed; a file manager opening
    // files is not a user asking for a send.
    bool Ask = false;
    bool ForceJapanese = false; // "JP"
    bool ForceEnglish = false;  // "US"
    // Set by the caller once the "MDF=" file has loaded; never by the reading itself.
    bool MachineFromCommandLine = false;
};

// Longest configuration or machine path, with the folder in front of a relative one.
constexpr size_t StartupPathMax = 260;
// Longest queued file name (the entry's buffer holds the terminator as well).
constexpr size_t QueueNameMax = sizeof(SendQueueEntry::Name) - 1;

// Size of a file in bytes, or nothing when there is no such file.
using FileSizeLookup = std::function<std::optional<uint64_t>(const std::string& path)>;
// True when `path` names an existing file.
using FileExistsCheck = std::function<bool(const std::string& path)>;

struct StartupEnvironment {
    std::string executablePath;
    // Where relative command-line paths point: the current directory on POSIX, where a shell
    // user means them; the executable's folder on Windows, as the program always did there.
    std::string baseFolder;
    // Used when "<executable stem>.cfg" is not beside the executable, e.g.
    // $XDG_CONFIG_HOME/corvane/corvane.cfg.
    std::string defaultConfigPath;
    FileSizeLookup fileSize;
    FileExistsCheck fileExists;
    // Paths start with '/' here, so "/home/ann/a.nc" is a file and not an unknown switch
    // (see IsSwitchArgument).
#ifdef _WIN32
    bool slashRootedPaths = false;
#else
    bool slashRootedPaths = true;
#endif
};

struct StartupOptions {
    StartupFlags flags;
    std::string ConfigPath;  // from "CFG=" or "K", made absolute; empty when none
    std::string MachinePath; // from "MDF=", made absolute; empty when none
    SendQueue Queue;         // Name and Size of each entry, and the count
    // "NOTIFY=" read with "%8x"; 0 when none or unreadable. Whether it names a live target is
    // for the caller to find out.
    uint32_t NotifyWindow = 0;

    std::string ConfigFilePath; // the configuration file to load and save
    std::string HelpFilePath;   // the manual

    // Values refused because they were too long, as they stood on the command line, so the
    // caller can say so instead of using a cut name.
    std::vector<std::string> Refused;
};

// Reads the whole command line and fixes the configuration and help paths.
StartupOptions ReadStartupOptions(const char* commandLine, const StartupEnvironment& env);

// The language the command line forces: Japanese wins over English; nothing when neither.
std::optional<Language> ForcedLanguage(const StartupFlags& flags);

// Whether the machine file named by "MDF=" is to be read over the configuration's machine.
bool ShouldReadMachineFile(const std::string& machinePath, const FileExistsCheck& fileExists);

// The path rules of the command line, exposed for the hand-over receiver and for tests.
// Takes the text between the first and the last double quote when there are two.
std::string StripArgumentQuotes(const std::string& text);
// Empty, '/'-, '\\'-rooted and drive-letter ("C:") paths are kept; others are put after
// `baseFolder`.
std::string ResolveArgumentPath(const std::string& text, const std::string& baseFolder);

} // namespace corvane
