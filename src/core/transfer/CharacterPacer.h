#pragma once
// The cadence of a UART for a line that has none of its own (a network device server): one
// byte may leave only one character time after the previous one, so that what is in flight
// when the machine says XOFF is bounded by the round trip instead of by a socket buffer.
// A round trip longer than a few character times would still let too many through, so the
// spacing may be widened to keep what one round trip carries within a budget.

#include <algorithm>
#include <cstdint>

namespace corvane {

class CharacterPacer {
public:
    explicit CharacterPacer(uint64_t charMicros = 1042)
        : m_charMicros(charMicros), m_spacing(charMicros) {}

    uint64_t charMicros() const { return m_charMicros; }
    uint64_t spacing() const { return m_spacing; }
    // Spaces bytes so that no more than `budget` leave within one round trip of `rttMicros`;
    // never closer than one character time.
    void fitRoundTrip(uint64_t rttMicros, uint64_t budget) {
        m_spacing = std::max(m_charMicros, budget > 0 ? rttMicros / budget : rttMicros);
    }
    // The earliest moment the next byte may leave.
    uint64_t nextAt() const { return m_nextAt; }
    bool ready(uint64_t now) const { return now >= m_nextAt; }

    // A byte left at `now`. A wake-up that came a little late is made up on the next byte
    // (never by more than a quarter character, so no two bytes leave much closer than one
    // character time); after an idle or held line the count starts afresh.
    void sent(uint64_t now) {
        const uint64_t onCadence = m_nextAt + m_spacing;
        const uint64_t earliest = now + m_spacing - m_spacing / 4;
        m_nextAt = onCadence > now ? std::max(onCadence, earliest) : now + m_spacing;
    }

private:
    uint64_t m_charMicros;
    uint64_t m_spacing;
    uint64_t m_nextAt = 0;
};

} // namespace corvane
