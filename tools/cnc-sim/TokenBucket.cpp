#include "TokenBucket.h"

#include <algorithm>
#include <limits>

namespace cncsim {

TokenBucket::TokenBucket(unsigned ratePerSecond, unsigned burst, int64_t nowUs)
    : m_rate(ratePerSecond), m_burst(std::max(1u, burst)), m_lastUs(nowUs) {}

void TokenBucket::refill(int64_t nowUs) {
    if (nowUs > m_lastUs) {
        m_tokens = std::min(m_burst, m_tokens + double(nowUs - m_lastUs) * m_rate / 1e6);
        m_lastUs = nowUs;
    }
}

size_t TokenBucket::available(int64_t nowUs) {
    if (unlimited())
        return std::numeric_limits<size_t>::max();
    refill(nowUs);
    return size_t(m_tokens);
}

void TokenBucket::take(size_t count) {
    if (!unlimited())
        m_tokens = std::max(0.0, m_tokens - double(count));
}

int64_t TokenBucket::nextAt(int64_t nowUs) {
    if (unlimited())
        return nowUs;
    refill(nowUs);
    if (m_tokens >= 1.0)
        return nowUs;
    return nowUs + int64_t((1.0 - m_tokens) * 1e6 / m_rate) + 1;
}

} // namespace cncsim
