#include "settings/MachineSheetCopy.h"

#include <cstring>

#include "transfer/LineSettings.h"

namespace corvane::gui {

MachineSheetCopy MakeSheetCopy(const MachineDef& live) {
    MachineSheetCopy copy;
    copy.def = live;
    copy.PortNumberShown = live.line.PortNo + 1;
    copy.FlowXonXoff = (live.line.HandShake & HandShakeXonXoff) != 0 ? 1 : 0;
    copy.FlowDsrDtr = (live.line.HandShake & HandShakeDsrDtr) != 0 ? 1 : 0;
    copy.FlowRtsCts = (live.line.HandShake & HandShakeRtsCts) != 0 ? 1 : 0;
    return copy;
}

void FinishSheetCopy(MachineSheetCopy& copy) {
    MachineLine& line = copy.def.line;
    line.PortNo = copy.PortNumberShown - 1;
    const int32_t flowBits = HandShakeXonXoff | HandShakeDsrDtr | HandShakeRtsCts;
    int32_t handShake = line.HandShake & ~flowBits;
    if (copy.FlowXonXoff != 0)
        handShake |= HandShakeXonXoff;
    if (copy.FlowDsrDtr != 0)
        handShake |= HandShakeDsrDtr;
    if (copy.FlowRtsCts != 0)
        handShake |= HandShakeRtsCts;
    line.HandShake = handShake;

    // "*.nc" and ".nc" both mean the extension nc, as when the file is read.
    char* ext = copy.def.config.DefExt;
    ext[sizeof copy.def.config.DefExt - 1] = '\0';
    if (const char* dot = std::strrchr(ext, '.'))
        std::memmove(ext, dot + 1, std::strlen(dot + 1) + 1);
}

} // namespace corvane::gui
