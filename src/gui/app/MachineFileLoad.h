#pragma once
// Choosing a machine file from the window (the file dialog, the machine history, "MDF=", a
// hand-over): the file is the whole machine, read from the defaults, never laid over the
// machine in use; a file that cannot be read is told with its reason and changes nothing.

#include <string>

class QWidget;

namespace corvane::gui {

struct AppState;

// Reads `path` as a whole machine into state.machine. On failure the machine in use stays,
// and `reason` (when given) says why. Nothing is shown.
bool ReadMachineFile(AppState& state, const std::string& path, std::string* reason);

// Tells the user that `path` could not be read and why, that the machine in use stays, and
// (when `consequenceId` is not 0) that string as well.
void TellMachineFileNotRead(const AppState& state, QWidget* parent, const std::string& path,
                            const std::string& reason, int consequenceId = 0);

// Both: reads, and tells when it could not. True when the machine was replaced.
bool TakeMachineFile(AppState& state, QWidget* parent, const std::string& path,
                     int consequenceId = 0);

} // namespace corvane::gui
