#pragma once
// A serial port through termios, with output flow control done in user space.

#include <string>
#include <termios.h>

#include "transfer/Line.h"
#include "transfer/LineInput.h"
#include "transfer/LinePacer.h"
#include "transfer/LineSettings.h"
#include "transfer/TimerSlack.h"

namespace corvane {

struct MachineDef;

class PosixSerialLine : public Line {
public:
    // Opens `device` exclusively and sets it up for the machine and `direction`.
    static OpenedLine open(const std::string& device, const MachineDef& machine, int direction);
    static OpenedLine open(const std::string& device, const MachineDef& machine, int direction,
                           const LineOptions& options);
    // Takes over an already open terminal (a pty end in tests and the benchmark): the same
    // set-up as open() without the exclusive lock.
    static std::unique_ptr<PosixSerialLine> adopt(int fd, const MachineDef& machine, int direction);
    static std::unique_ptr<PosixSerialLine> adopt(int fd, const MachineDef& machine, int direction,
                                                  const LineOptions& options);
    ~PosixSerialLine() override;

    // The settings the driver did not take (a pty ignores CS7 and parity, some USB adapters
    // CRTSCTS), e.g. "CS7 PARENB"; empty when all took.
    const std::string& droppedSettings() const { return m_dropped; }
    // True when the device cannot say what is still queued (a pseudo-terminal) and bytes
    // are therefore spaced one character time apart here.
    bool pacesOutput() const { return m_paced; }
    // One character time at the line's rate and framing, in microseconds.
    uint64_t charMicros() const { return m_charMicros; }

    bool isFile() const override { return false; }
    bool holds(LineHolds& out) override;
    bool writeByte(uint8_t byte, uint64_t waitMicros) override;
    ReadResult readByte(uint64_t waitMicros) override;
    void holdUntilXon() override { m_input.holdUntilXon(); }
    void waitForChange(uint64_t waitMicros) override;
    void drainOutput(uint64_t waitMicros) override;
    void purge() override;
    void dropDtr() override;
    void close() override;
    bool lost() const override { return m_lost; }
    bool setDirection(const MachineDef& machine, int direction) override;
    // The dropped settings of a real port, as a warning for the log.
    std::vector<LineMessage> openWarnings() const override;

private:
    PosixSerialLine(int fd, const FlowSettings& flow);
    bool setUp(const MachineDef& machine, int direction, const LineOptions& options, int& error);
    // Moves everything the machine has sent so far through the flow filter. False when the
    // device reports an error (unplugged adapter, hung-up line).
    bool takeInput();
    // takeInput() unless the input was looked at a moment ago (by a read, or by a poll that
    // saw nothing arrive): a byte's check before its write then costs no system call.
    bool takeInputUnlessFresh(uint64_t now);
    // Bytes still in the driver's output queue; 0 when the driver cannot say.
    int outputQueued() const;
    // Waits for input at most `micros`. False when the device reports a hang-up or error.
    bool waitForInput(uint64_t micros);
    // Notes an errno from a read or write: the ones that mean the device has gone.
    void noteError(int error);
    // Notes what poll said about the device: a hang-up means it has gone.
    void notePoll(short revents);

    int m_fd;
    std::string m_device; // as opened; empty when adopted
    FlowSettings m_flow;
    LineInput m_input;
    int m_direction = 0;
    termios m_original{};
    bool m_haveOriginal = false;
    bool m_lowLatencySet = false;
    int m_originalSerialFlags = 0;
    uint64_t m_charMicros = 1042; // one character at 9600 baud
    std::string m_dropped;
    bool m_paced = false;
    LinePacer m_pacer;          // paced: when the next byte may leave
    uint64_t m_inputSeenAt = 0; // when the input was last found taken in (0: never)
    bool m_inputSeen = false;
    TightTimerSlack m_timerSlack;
    bool m_lost = false;
};

// The opener the program uses: the device file when one was chosen, else the serial port of
// the machine definition.
OpenedLine OpenDefaultLine(const MachineDef& machine, int direction, const char* deviceFile);
OpenedLine OpenDefaultLine(const MachineDef& machine, int direction, const char* deviceFile,
                           const LineOptions& options);
// OpenDefaultLine with `options`, in the form a transfer context takes.
LineOpener DefaultLineOpener(const LineOptions& options);

} // namespace corvane
