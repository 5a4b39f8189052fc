#include "transfer/LineSettings.h"

#include <iterator>

#include "settings/MachineDef.h"

namespace corvane {

FlowSettings FlowSettingsFor(const MachineLine& line) {
    FlowSettings flow;
    flow.xonXoff = (line.HandShake & HandShakeXonXoff) != 0;
    flow.xon = static_cast<uint8_t>(line.PtrStart & 0xFF);
    flow.xoff = static_cast<uint8_t>(line.PtrStop & 0xFF);
    flow.dsr = (line.HandShake & HandShakeDsrDtr) != 0;
    flow.cts = (line.HandShake & HandShakeRtsCts) != 0;
    return flow;
}

int BaudRateFor(int index) {
    static constexpr int Rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
    if (index < 0 || index >= static_cast<int>(std::size(Rates)))
        return 9600;
    return Rates[index];
}

std::string SerialDeviceName(const MachineLine& line) {
    if (line.PortName[0] != '\0') {
        // The field is a fixed buffer; never read past it when a file filled it to the brim.
        size_t n = 0;
        while (n < sizeof line.PortName && line.PortName[n] != '\0')
            ++n;
        return std::string(line.PortName, n);
    }
    const int port = line.PortNo < 0 ? 0 : line.PortNo;
    return "/dev/ttyS" + std::to_string(port);
}

} // namespace corvane
