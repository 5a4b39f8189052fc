#include "transfer/LineSettings.h"

#include <iterator>

#include "settings/MachineDef.h"
#include "transfer/PortAddress.h"

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

uint64_t CharacterMicros(int bitsPerCharacter, uint32_t baud) {
    if (baud == 0)
        baud = 9600;
    const uint64_t bits = static_cast<uint64_t>(bitsPerCharacter) * 1'000'000u;
    return (bits + baud - 1) / baud;
}

std::string SerialDeviceName(const MachineLine& line) {
    // The file's text goes through the one port reader, so "COM3", "3", "ttyUSB0" or a path
    // with a blank in front open the device they name, never a relative path of that name.
    PortAddress address;
    if (MachinePortAddress(line, address)) {
        switch (address.kind) {
        case PortKind::ComNumber:
            return "/dev/ttyS" + std::to_string(address.comNumber - 1);
        case PortKind::Device:
            return address.device;
        case PortKind::RawTcp:
        case PortKind::Rfc2217:
            return address.text();
        }
    }
    // Not a port text: named as written, for the message that refuses it.
    size_t n = 0;
    while (n < sizeof line.PortName && line.PortName[n] != '\0')
        ++n;
    return std::string(line.PortName, n);
}

} // namespace corvane
