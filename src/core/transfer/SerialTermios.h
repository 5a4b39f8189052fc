#pragma once
// The termios block for a machine's line, built without touching a device so every setting
// can be checked flag by flag.

#include <termios.h>

namespace corvane {

struct MachineLine;

// Starts from `current` (whatever the driver had) and sets what the machine needs: raw mode,
// speed, the frame of FramingFor, CLOCAL|CREAD|HUPCL, CRTSCTS for RTS/CTS. Output XON/XOFF is
// done in user space (IXON stays off); input XON/XOFF uses the kernel's IXOFF with the
// machine's codes when neither is 0, since the kernel cannot send a code of 0.
termios BuildSerialTermios(const termios& current, const MachineLine& line, int direction);

// The B... constant for a rate in bits per second (B9600 for unknown rates).
speed_t SpeedConstant(int bitsPerSecond);

} // namespace corvane
