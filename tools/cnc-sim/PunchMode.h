#pragma once
// The machine punches a program to the host: it waits for the host's start code, then sends
// the leader, the program in the chosen code and the end code, one character at a time so
// that an XOFF from the host stops it before the next character.

#include <cstdint>
#include <random>
#include <vector>

#include "MonotonicClock.h"
#include "Options.h"
#include "Reporter.h"
#include "TokenBucket.h"

namespace cncsim {

class Pty;
class SignalWatch;

// The whole output of one punch: leader, DC2, program, trailer, end code.
std::vector<uint8_t> punchBytes(const PunchOptions& options, const std::vector<uint8_t>& program);

class PunchMode {
public:
    // `outputs`: one punch per program, sent in order with the pauses of the options between.
    PunchMode(const PunchOptions& options, std::vector<std::vector<uint8_t>> outputs, Pty& pty,
              SignalWatch& signals);
    int run();
    // Request mode: the host opened the device again after the output (the reply begins);
    // the punch ended there without reading what came after.
    bool reopened() const { return m_reopened; }

private:
    enum class Phase { WaitStart, Sending, Draining, Lingering, Done };

    void onHostBytes(const uint8_t* data, size_t size);
    bool matches(uint8_t byte, int code) const;
    bool sendNext(int64_t nowUs);
    bool advance(int64_t nowUs); // phase changes by time; false when the run must stop
    int pollTimeout(int64_t nowUs);
    // The pause before program `index` (1 for the second).
    int64_t gapUsBefore(size_t index);

    const PunchOptions& m_options;
    std::vector<std::vector<uint8_t>> m_outputs;
    size_t m_current = 0;      // the program being punched
    size_t m_position = 0;     // characters of it sent
    int64_t m_gapUntilUs = -1; // in a pause between programs until then
    std::mt19937 m_random;
    Pty& m_pty;
    SignalWatch& m_signals;
    int64_t m_startUs;
    Reporter m_report;
    Recorder m_recorder;
    TokenBucket m_rate;

    Phase m_phase;
    size_t m_sent = 0;
    bool m_held = false;
    uint64_t m_holds = 0;
    int64_t m_phaseDeadlineUs = 0;
    int64_t m_allReadSinceUs = -1; // when the host was first seen with nothing left to read
    int m_status = 0;
    bool m_reopened = false;
};

} // namespace cncsim
