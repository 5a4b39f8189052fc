#pragma once
// The line to the machine for one transfer: a serial port, a device file standing in for it,
// or a scripted line in tests. One byte at a time; every wait is bounded by the caller's
// slice so the caller can pump the window and look at the interrupt request in between.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

struct MachineDef;

struct LineHolds {
    bool cts = false;  // CTS off while RTS/CTS handshake is on
    bool dsr = false;  // DSR off while DSR/DTR handshake is on
    bool xoff = false; // the machine sent XOFF (or the send starts waiting for DC1)
};

enum class ReadStatus { Byte, Nothing, Error };
struct ReadResult {
    ReadStatus status = ReadStatus::Nothing;
    uint8_t byte = 0;
};

// How the line applies flow control; built from the machine definition at open.
struct FlowSettings {
    bool xonXoff = false; // take XON/XOFF codes out of the input and hold output on XOFF
    uint8_t xon = 0x11;
    uint8_t xoff = 0x13;
    bool cts = false; // hold output while CTS is off
    bool dsr = false; // hold output while DSR is off
};

class Line {
public:
    virtual ~Line() = default;

    virtual bool isFile() const = 0;
    // Takes in what the machine sent (flow codes update the holds) and reports the holds.
    // False when the state cannot be read.
    virtual bool holds(LineHolds& out) = 0;
    // Writes one byte, waiting at most `waitMicros` for it to leave. False when it did not.
    virtual bool writeByte(uint8_t byte, uint64_t waitMicros) = 0;
    // Waits at most `waitMicros` for one data byte.
    virtual ReadResult readByte(uint64_t waitMicros) = 0;
    // Holds output as if the machine had sent XOFF, until its XON arrives ("waiting for DC1").
    virtual void holdUntilXon() = 0;
    // Blocks until something may have changed on the line (input arrived, a modem line
    // moved) or `waitMicros` passed. Used while the line is held, so the CPU stays idle.
    virtual void waitForChange(uint64_t waitMicros) = 0;

    // The close sequence, in the order the port layer calls them.
    virtual void drainOutput(uint64_t waitMicros) = 0;
    virtual void purge() = 0;
    virtual void dropDtr() = 0;
    virtual void close() = 0;

    // False while bytes that writeByte accepted have not reached the device: a device file
    // gathers them into blocks, and the disk may refuse the last one even after the drain.
    virtual bool outputDelivered() const { return true; }

    // True once the device has gone away (a USB adapter pulled out, the far end of a
    // pseudo-terminal closed): nothing written from now on can arrive, so a transfer waiting
    // for the line to clear should end instead.
    virtual bool lost() const { return false; }
};

// Why an open failed, so the port layer can word it in the language of the run.
enum class OpenFailure { None, Other, PermissionDenied, Busy, NotFound, NotASerialPort };

struct OpenedLine {
    std::unique_ptr<Line> line;
    std::string error; // user-facing reason when line is null
    OpenFailure failure = OpenFailure::None;
    // PermissionDenied: the group that owns the device ("" when unknown);
    // Other: the system's error text.
    std::string detail;
};

// Opens the serial port of the machine definition for `direction` (1 receive, 2 send), or the
// device file `deviceFile` when it is not null.
using LineOpener =
    std::function<OpenedLine(const MachineDef& machine, int direction, const char* deviceFile)>;

} // namespace corvane
