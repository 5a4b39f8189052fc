#pragma once
// The cadence of a UART for a line that has none of its own (a network device server): one
// byte may leave only one character time after the previous one, so that what is in flight
// when the machine says XOFF is bounded by the round trip instead of by a socket buffer.

#include <algorithm>
#include <cstdint>

namespace corvane {

class CharacterPacer {
public:
    explicit CharacterPacer(uint64_t charMicros = 1042) : m_charMicros(charMicros) {}

    uint64_t charMicros() const { return m_charMicros; }
    // The earliest moment the next byte may leave.
    uint64_t nextAt() const { return m_nextAt; }
    bool ready(uint64_t now) const { return now >= m_nextAt; }

    // A byte left at `now`. A wake-up that came a little late is made up on the next byte
    // (never by more than a quarter character, so no two bytes leave much closer than one
    // character time); after an idle or held line the count starts afresh.
    void sent(uint64_t now) {
        const uint64_t onCadence = m_nextAt + m_charMicros;
        const uint64_t earliest = now + m_charMicros - m_charMicros / 4;
        m_nextAt = onCadence > now ? std::max(onCadence, earliest) : now + m_charMicros;
    }

private:
    uint64_t m_charMicros;
    uint64_t m_nextAt = 0;
};

} // namespace corvane
