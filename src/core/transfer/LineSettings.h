#pragma once
// What the machine definition says about the line, in the terms every line implementation
// shares: the device to open, the flow control and the framing. Values outside their lists
// fall back to the documented defaults, so a hand-edited machine file never indexes past a
// table.

#include <string>

#include "transfer/Line.h"

namespace corvane {

struct MachineLine;

// RTS/CTS, DSR/DTR and Xon/Xoff bits of `HandShake`.
constexpr int HandShakeXonXoff = 1;
constexpr int HandShakeDsrDtr = 2;
constexpr int HandShakeRtsCts = 4;

FlowSettings FlowSettingsFor(const MachineLine& line);

// Bits per second for the `BaudRate` index; 9600 for anything outside 0..7.
int BaudRateFor(int index);

// The serial device to open: `PortName` when set, else COM n as /dev/ttyS(n-1).
std::string SerialDeviceName(const MachineLine& line);

} // namespace corvane
