#include "transfer/TimerSlack.h"

#include <sys/prctl.h>

namespace corvane {

void TightTimerSlack::take() {
    constexpr unsigned long TightNanos = 1000;
    if (m_original >= 0)
        return;
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    if (slack >= 0 && static_cast<unsigned long>(slack) > TightNanos &&
        prctl(PR_SET_TIMERSLACK, TightNanos, 0, 0, 0) == 0)
        m_original = slack;
}

void TightTimerSlack::release() {
    if (m_original < 0)
        return;
    prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(m_original), 0, 0, 0);
    m_original = -1;
}

} // namespace corvane
