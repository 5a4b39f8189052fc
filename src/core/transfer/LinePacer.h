#pragma once
// The cadence of an emulated UART: when the next byte may leave a line that has no rate of
// its own (a pseudo-terminal). Times are passed in, so the schedule can be checked without a
// clock.
//
// Bytes are due one character time apart on an ideal schedule that runs on from where the
// line started, not from when each byte really left: a wake-up that came a little late is made
// up on the following bytes, so the line stays full although no sleep ends exactly on time.
// Three rules keep it from running ahead of the line it stands for, as a UART with its
// one-character holding register never does:
//  * no byte leaves before its place on the ideal schedule;
//  * no two bytes leave closer than three quarters of a character time, so lost time is made
//    up a quarter character per byte, never in a burst;
//  * a byte a whole character time late or more means the line stood idle or held, not a late
//    wake-up: the schedule starts afresh from it instead of owing the time.
// Together: over any stretch, n bytes take at least n - 2 character times.

#include <algorithm>
#include <cstdint>

namespace corvane {

class LinePacer {
public:
    explicit LinePacer(uint64_t charMicros = 1042) : m_charMicros(charMicros) {}

    void setCharMicros(uint64_t micros) { m_charMicros = micros; }
    uint64_t charMicros() const { return m_charMicros; }

    // The earliest moment for the next byte; 0 before the first.
    uint64_t dueAt() const { return m_dueAt; }
    bool due(uint64_t now) const { return now >= m_dueAt; }

    // A byte left at `now` (never before dueAt()).
    void sent(uint64_t now) {
        if (m_started && now < m_ideal + m_charMicros)
            m_ideal += m_charMicros;
        else
            m_ideal = now + m_charMicros;
        m_started = true;
        m_dueAt = std::max(m_ideal, now + m_charMicros - m_charMicros / 4);
    }

private:
    uint64_t m_charMicros;
    uint64_t m_ideal = 0; // the next byte's place on the ideal schedule
    uint64_t m_dueAt = 0;
    bool m_started = false;
};

} // namespace corvane
