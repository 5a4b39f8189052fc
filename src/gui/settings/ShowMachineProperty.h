#pragma once
// Runs the machine property sheet on the program's state: the command "Property of
// machine..." and the step after a machine file has been chosen.

#include "settings/MachineSheetHooks.h"

class QWidget;

namespace corvane::gui {

struct AppState;

// Shows the sheet until it is closed with OK or Cancel; Open and Save close it and show it
// again on the new state. `firstPage` 0..3 selects the page shown first, -1 the first page.
// OK and Save make the edited definition live and write it to McnFile (or, while McnFile is
// empty, into the configuration file), Open reloads the live definition from the chosen file,
// Cancel drops the edits of the last showing. Returns 1 (OK) or 2 (Cancel).
int ShowMachineProperty(AppState& state, QWidget* owner, int firstPage,
                        const MachineSheetHooks& hooks = {});

} // namespace corvane::gui
