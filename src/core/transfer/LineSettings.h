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

// What the program, rather than the machine definition, decides about a serial line.
struct LineOptions {
    // A pseudo-terminal (a network serial bridge, the simulator) has no line rate and never
    // says how much output is still queued, so a sender could write thousands of characters
    // before the machine's XOFF comes back. With this on, bytes on such a line leave one
    // character time apart, as from a UART at the configured baud rate. Off for bench set-ups
    // where the far end simply reads as fast as it can. No effect on a real serial port.
    bool emulateLineRate = true;
    // A network port may name its device server by host name, looked up through the system's
    // resolver. Off, only addresses are taken (tests, which must not ask a name server).
    bool resolveHostNames = true;
    // How long a device server may take none of the bytes waiting for it, nor answer a
    // question, before the transfer ends as interrupted (0: the line's own 10 s). Tests
    // shorten it.
    uint64_t serverStallMicros = 0;
    // How long a connection whose server went silent without closing it (rebooted, cable
    // pulled) may pass for alive, in seconds (0: the line's own 30 s). Tests shorten it.
    unsigned silentServerSeconds = 0;
};

// Bits per second for the `BaudRate` index; 9600 for anything outside 0..7.
int BaudRateFor(int index);

// One character time in microseconds, rounded up: paced a fraction too fast, bytes would pile
// up in the far UART (16 to 93 of 10,000 at 38400 to 115200) and reach the machine after its
// XOFF.
uint64_t CharacterMicros(int bitsPerCharacter, uint32_t baud);

// The serial device to open: `PortName` read as a port text (COM n as /dev/ttyS(n-1), a bare
// "ttyUSB0" in /dev), else COM (PortNo + 1); a network port as its text.
std::string SerialDeviceName(const MachineLine& line);

} // namespace corvane
