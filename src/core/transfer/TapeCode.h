#pragma once
// ISO, EIA and ASCII on the wire: the EIA tables and the character operations.

#include <cstdint>

namespace corvane {

struct TransferContext;

extern const uint8_t EiaSendTable[128];
extern const uint8_t EiaReceiveTable[256];

// 0 sent (or passed over under a pending interrupt), -1 interrupted while the line refused it.
int SendTapeChar(TransferContext& ctx, int handle, uint8_t character, int convert);
// ASCII 0..127, or the negative result of ComReadByte.
int ReceiveTapeChar(TransferContext& ctx, int handle);

} // namespace corvane
