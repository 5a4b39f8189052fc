#pragma once
// ISO, EIA and ASCII on the wire: the EIA tables and the character operations.

#include <cstdint>

namespace corvane {

struct TransferContext;
struct MachineLine;

extern const uint8_t EiaSendTable[128];
extern const uint8_t EiaReceiveTable[256];

// 0 sent (or passed over under a pending interrupt), -1 interrupted while the line refused it.
int SendTapeChar(TransferContext& ctx, int handle, uint8_t character, int convert);
// ASCII 0..127, or the negative result of ComReadByte.
int ReceiveTapeChar(TransferContext& ctx, int handle);

// The frame a port opens with. The codes carry parity themselves (EIA) or the frame adds it
// (ISO send); a receive always takes 8 bits without parity and ReceiveTapeChar strips bit 7.
struct Framing {
    int dataBits = 8;
    char parity = 'N'; // 'N' none, 'O' odd, 'E' even
    int stopBits = 1;
};
// direction: 1 receive, 2 send. ISO send 7E, EIA send 8N, ASCII send from DataLen/Parity
// (other values: 8 bits, no parity); Stop 1 gives two stop bits, anything else one.
Framing FramingFor(const MachineLine& line, int direction);

} // namespace corvane
