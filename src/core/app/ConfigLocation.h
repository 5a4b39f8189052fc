#pragma once
// Which configuration file a program uses when the command line names none. A portable
// install opts in by putting "<program stem>.cfg" beside the program; everyone else gets a
// file in the user's configuration folder.

#include <string>

namespace corvane {

// The running program's own path; `argv0` when the system cannot tell.
std::string ExecutablePath(const char* argv0);

// "<stem>.cfg" beside `programPath` (the path with its extension replaced).
std::string ConfigFileBeside(const std::string& programPath);

// $XDG_CONFIG_HOME/corvane/corvane.cfg, else $HOME/.config/corvane/corvane.cfg (on Windows
// %APPDATA%\corvane\corvane.cfg); empty when none of them is set. Null or empty values count
// as unset.
std::string UserConfigFilePath(const char* xdgConfigHome, const char* home);

// ConfigFileBeside when that file exists, else UserConfigFilePath from the environment.
std::string DefaultConfigFilePath(const std::string& programPath);

// Creates the folder that is to hold `configPath` (the user folder does not exist before the
// first save). 1 when it exists afterwards; 0 with the reason in `error` otherwise.
int EnsureConfigFolder(const std::string& configPath, std::string* error);

} // namespace corvane
