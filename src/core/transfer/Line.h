#pragma once
// The line to the machine for one transfer: a serial port, a device file standing in for it,
// or a scripted line in tests. One byte at a time; every wait is bounded by the caller's
// slice so the caller can pump the window and look at the interrupt request in between.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// A text for the user, as a string-table id and the values for its "%s" places, so that the
// port layer can word it in the language of the run.
// An argument is either a text as it stands (a host name, a value) or a table text by id (the
// name of a setting).
struct MessageArg {
    MessageArg(std::string value) : text(std::move(value)) {}
    MessageArg(const char* value) : text(value) {}
    static MessageArg table(int id) {
        MessageArg arg("");
        arg.textId = id;
        return arg;
    }
    std::string text;
    int textId = 0;
};

struct LineMessage {
    int textId = 0; // 0: no message
    std::vector<MessageArg> args;
};

enum class OpenProgress { Done, Pending, Failed };

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
    // What to tell the user once lost() is true; 0 for the port layer's general text.
    virtual LineMessage lostReason() const { return {}; }

    // A line may still be reaching its device when the opener returns it (a network server
    // connecting and agreeing on the line settings). The port layer calls this, never blocking,
    // with its host's clock, and pumps the window between calls until it is no longer Pending.
    virtual OpenProgress continueOpen(uint64_t nowMicros) {
        (void)nowMicros;
        return OpenProgress::Done;
    }
    // Sets an open line up for a transfer the other way (framing, what input is kept)
    // without closing it or emptying its input: a program the machine starts punching between
    // two transfers, or a start code it sent meanwhile, is still there for the next one. A line
    // turned to receive forgets the flow codes taken so far: an XON from the end of a send
    // must not pass for the start code of a later one. False when this line cannot change
    // direction in place and has to be opened anew.
    virtual bool setDirection(const MachineDef& machine, int direction) {
        (void)machine;
        (void)direction;
        return false;
    }

    // Why continueOpen failed.
    virtual LineMessage openFailure() const { return {}; }
    // Settings the device did not take as asked (a driver that cannot do 7 data bits, a device
    // server that set another rate): shown as warnings in the log once the line is open.
    virtual std::vector<LineMessage> openWarnings() const { return {}; }
};

// Why an open failed, so the port layer can word it in the language of the run.
enum class OpenFailure { None, Other, PermissionDenied, Busy, NotFound, NotASerialPort };

struct OpenError {
    OpenFailure kind = OpenFailure::None;
    // PermissionDenied: the group that owns the device ("" when unknown); otherwise the
    // system's error text.
    std::string text;
    // When set, the reason in the user's language (it then words the failure alone).
    LineMessage message;
};

struct OpenedLine {
    std::unique_ptr<Line> line;
    OpenError error; // why, when line is null
};

// Opens the serial port of the machine definition for `direction` (1 receive, 2 send), or the
// device file `deviceFile` when it is not null.
using LineOpener =
    std::function<OpenedLine(const MachineDef& machine, int direction, const char* deviceFile)>;

} // namespace corvane
