#pragma once
// The cadence of an emulated UART: when the next byte may leave a line that has no rate of
// its own (a pseudo-terminal, a network device server). Times are passed in, so the schedule
// can be checked without a clock.
//
// Bytes are due one spacing apart on an ideal schedule that runs on from where the line
// started, not from when each byte really left: a wake-up that came a little late is made up
// on the following bytes, so the line stays full although no sleep ends exactly on time.
// Three rules keep it from running ahead of the line it stands for, as a UART with its
// one-character holding register never does:
//  * no byte leaves before its place on the ideal schedule;
//  * no two bytes leave closer than three quarters of a spacing, so lost time is made up a
//    quarter per byte, never in a burst;
//  * a byte a whole spacing late or more means the line stood idle or held, not a late
//    wake-up: the schedule starts afresh from it instead of owing the time.
// Together: over any stretch, n bytes take at least n - 2 spacings.
//
// The spacing is one character time, so that what is in flight when the machine says XOFF is
// bounded by the round trip rather than by a buffer. Where a round trip is worth more
// characters than a control accepts after its XOFF (a fast line, a slow network), the spacing
// is widened so that no more than a few leave within one round trip.

#include <algorithm>
#include <cstdint>

namespace corvane {

class LinePacer {
public:
    explicit LinePacer(uint64_t charMicros = 1042)
        : m_charMicros(charMicros), m_spacing(charMicros) {}

    // A new character time; the spacing goes back to it.
    void setCharMicros(uint64_t micros) {
        m_charMicros = micros;
        m_spacing = micros;
    }
    uint64_t charMicros() const { return m_charMicros; }
    // The time between two bytes: one character time, or more on a long round trip.
    uint64_t spacing() const { return m_spacing; }
    // Spaces bytes so that no more than `budget` leave within one round trip of `rttMicros`;
    // never closer than one character time.
    void fitRoundTrip(uint64_t rttMicros, uint64_t budget) {
        m_spacing = std::max(m_charMicros, budget > 0 ? rttMicros / budget : rttMicros);
    }

    // The earliest moment for the next byte; 0 before the first.
    uint64_t dueAt() const { return m_dueAt; }
    bool due(uint64_t now) const { return now >= m_dueAt; }

    // A byte left at `now` (never before dueAt()).
    void sent(uint64_t now) {
        if (m_started && now < m_ideal + m_spacing)
            m_ideal += m_spacing;
        else
            m_ideal = now + m_spacing;
        m_started = true;
        m_dueAt = std::max(m_ideal, now + m_spacing - m_spacing / 4);
    }

private:
    uint64_t m_charMicros;
    uint64_t m_spacing;
    uint64_t m_ideal = 0; // the next byte's place on the ideal schedule
    uint64_t m_dueAt = 0;
    bool m_started = false;
};

} // namespace corvane
