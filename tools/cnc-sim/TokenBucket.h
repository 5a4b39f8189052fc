#pragma once
// Paces characters at a fixed rate per second. A rate of 0 means "no limit". The burst bounds
// how many characters may be taken at once after a quiet spell, so a late wake-up catches up
// a little but never releases a flood.

#include <cstddef>
#include <cstdint>

namespace cncsim {

class TokenBucket {
public:
    TokenBucket(unsigned ratePerSecond, unsigned burst, int64_t nowUs);

    bool unlimited() const { return m_rate == 0; }
    // Whole characters that may be taken now.
    size_t available(int64_t nowUs);
    void take(size_t count);
    // The moment at which the next whole character becomes available.
    int64_t nextAt(int64_t nowUs);

private:
    void refill(int64_t nowUs);

    unsigned m_rate;
    double m_burst;
    double m_tokens = 0.0;
    int64_t m_lastUs;
};

} // namespace cncsim
