#include "transfer/AckTiming.h"

namespace corvane {

void AckTiming::sent(uint64_t total, uint64_t at) {
    if (!m_sent.empty() && m_sent.back().total >= total)
        return;
    // Bounded where the kernel never says what it acknowledged. Dropping the oldest can only
    // make an acknowledgement look prompt, never a reading server look stopped.
    if (m_sent.size() >= MaxSent)
        m_sent.pop_front();
    m_sent.push_back(Sent{total, at});
}

void AckTiming::acknowledged(uint64_t acked, uint64_t ackAt, uint64_t roundTrip) {
    if (acked <= m_acked)
        return;
    // The first byte this acknowledgement covers is the one that waited longest for it.
    while (!m_sent.empty() && m_sent.front().total <= m_acked)
        m_sent.pop_front();
    if (m_sent.empty()) {
        m_acked = acked;
        return;
    }
    const uint64_t waited = ackAt > m_sent.front().at ? ackAt - m_sent.front().at : 0;
    m_acked = acked;
    if (waited <= roundTrip + LateMicros) {
        if (m_prompt < KnownPrompt)
            ++m_prompt;
        if (++m_run >= ReadingRun)
            pause();
        return;
    }
    m_run = 0;
    if (m_late < StoppedRun)
        ++m_late;
    if (m_lateSince == 0)
        m_lateSince = ackAt != 0 ? ackAt : 1;
}

} // namespace corvane
