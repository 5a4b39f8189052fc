#pragma once
// What the machine property sheet edits: a copy of the live machine definition and the values
// its controls show in another form than the file keeps them (the port counted from 1, the
// three flow-control bits as separate boxes). The live definition changes only when the
// sheet is closed with OK or Save.

#include <cstdint>

#include "settings/MachineDef.h"

namespace corvane::gui {

struct MachineSheetCopy {
    MachineDef def;
    int32_t PortNumberShown = 1; // PortNo + 1
    int32_t FlowXonXoff = 0;     // HandShake bit 0
    int32_t FlowDsrDtr = 0;      // HandShake bit 1
    int32_t FlowRtsCts = 0;      // HandShake bit 2
};

// The copy the sheet starts from.
MachineSheetCopy MakeSheetCopy(const MachineDef& live);

// Folds the shown values back into the definition: PortNo from PortNumberShown, the flow bits
// into HandShake (its other bits kept), DefExt without anything up to its last dot.
void FinishSheetCopy(MachineSheetCopy& copy);

} // namespace corvane::gui
