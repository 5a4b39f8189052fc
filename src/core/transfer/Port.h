#pragma once
// The port layer: open, byte I/O, line check and close, with the integer results the engines
// test. The handle is 0 while the context's line is open, negative when none is.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transfer/Line.h"

namespace corvane {

struct TransferContext;

int ComOpen(TransferContext& ctx, int direction);                 // handle >= 0, or -2
int ComWriteByte(TransferContext& ctx, int handle, uint8_t byte); // 0 written, -1 refused
int ComReadByte(TransferContext& ctx, int handle); // 0..255, -1 nothing/interrupted, -2 time-out
int ComCheckLine(TransferContext& ctx, int handle, int reading); // 1 clear, 0 held
// 0 closed, -1 no handle, -3 closed but the device did not take everything written (a device
// file on a full disk; the user has been told).
int ComClose(TransferContext& ctx, int handle);

// How long one step of a network open may keep the window waiting.
constexpr uint64_t OpenSliceMicros = 20'000;

// Takes a line that is still reaching its device (a network server) to the end of its open:
// `wait` blocks on the caller's event queue for a slice and returns false to give up (an
// interrupt; `interrupted` is then set). On failure the line is gone and `message` says why.
OpenedLine FinishOpen(OpenedLine opened, const std::function<uint64_t()>& now,
                      const std::function<bool(uint64_t)>& wait, bool* interrupted = nullptr);

// Puts `args` into the "%s" places of a table text, in order.
std::string FormatLineText(const char* format, const std::vector<std::string>& args);

} // namespace corvane
