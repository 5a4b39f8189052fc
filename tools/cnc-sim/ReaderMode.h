#pragma once
// The machine reads a program from the host, as a control with a tape-reader buffer does:
// characters are taken off the line as they arrive, the buffer is executed at --cps, the line
// is held with the XOFF code at the high mark and released with XON at the low mark, and every
// character that still arrives after an XOFF is counted against the control's tolerance.

#include <cstdint>
#include <random>

#include "MonotonicClock.h"
#include "Options.h"
#include "Reporter.h"
#include "TokenBucket.h"

namespace cncsim {

class Pty;
class SignalWatch;

class ReaderMode {
public:
    ReaderMode(const ReadOptions& options, Pty& pty, SignalWatch& signals);
    // Runs to the end and prints the summary; returns the exit status.
    int run();

private:
    enum class Outcome { Running, Ended, TimeLimit, Stopped, Failed };

    void tick(int64_t nowUs);
    void readLine(int64_t nowUs);
    void onByte(uint8_t byte, int64_t nowUs);
    void updateBufferHold();
    void updateRandomHold(int64_t nowUs);
    void updateFixedHold(int64_t nowUs);
    void setLineHeld(bool held);
    void closeHoldEvent();
    void letHostReadCodes();
    bool sendCode(int code, const char* why);
    int pollTimeout(int64_t nowUs);
    bool isEndCode(uint8_t byte) const;
    static bool isCode(uint8_t byte, int code);

    const ReadOptions& m_options;
    Pty& m_pty;
    SignalWatch& m_signals;
    int64_t m_startUs;
    Reporter m_report;
    Recorder m_recorder;
    TokenBucket m_execution;
    TokenBucket m_line;

    Outcome m_outcome = Outcome::Running;
    int64_t m_startDueUs = -1; // when the start code goes out next, -1 = not planned
    bool m_dataStarted = false;
    // Since when the host has been silent, the time the line was held since left out: a host
    // waiting for our DC1 is not idle.
    int64_t m_quietSinceUs = 0;
    int64_t m_heldSinceUs = 0;
    uint64_t m_received = 0;

    long m_fill = 0;     // characters in the buffer, not yet executed
    uint64_t m_lost = 0; // characters that found the buffer full

    bool m_bufferHold = false;
    bool m_randomHold = false;
    bool m_fixedHold = false;
    int64_t m_fixedHoldEndUs = -1; // end of the --hold-after hold once it has begun
    bool m_lineHeld = false;
    long m_afterHold = 0; // characters since the XOFF of the hold that is on
    long m_maxAfterHold = 0;
    uint64_t m_totalAfterHold = 0;
    uint64_t m_holds = 0;
    int m_alarms = 0;

    bool m_waitingForOpen; // request mode: bytes before the host's next open are not the reply
    std::mt19937 m_random;
    int64_t m_nextRandomUs = -1;
};

} // namespace cncsim
