#pragma once
// The port layer: open, byte I/O, line check and close, with the integer results the engines
// test. The handle is 0 while the context's line is open, negative when none is.

#include <cstdint>

namespace corvane {

struct TransferContext;

int ComOpen(TransferContext& ctx, int direction);  // handle >= 0, or -2
int ComWriteByte(TransferContext& ctx, int handle, uint8_t byte); // 0 written, -1 refused
int ComReadByte(TransferContext& ctx, int handle);  // 0..255, -1 nothing/interrupted, -2 time-out
int ComCheckLine(TransferContext& ctx, int handle, int reading); // 1 clear, 0 held
// 0 closed, -1 no handle, -3 closed but the device did not take everything written (a device
// file on a full disk; the user has been told).
int ComClose(TransferContext& ctx, int handle);

} // namespace corvane
