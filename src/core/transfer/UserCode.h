#pragma once
// User codes: a text of hexadecimal digit pairs ("1214") sent as raw bytes around the data,
// by the send engine (leaders and trailers) and the receive engine (start and end).

#include <cstdint>

namespace corvane {

struct TransferContext;

// The number of bytes a user code stands for: one per pair that starts with a hex digit.
int UserCodeByteCount(const char* code);

// Sends the bytes of `code` unconverted, pausing 100 ms after each. A pair that does not start
// with a hexadecimal digit sends nothing; an odd last character is ignored.
// 0 when all went out, -1 when an interrupt was requested while the line refused a byte.
int SendUserCode(TransferContext& ctx, int handle, const char* code);

} // namespace corvane
