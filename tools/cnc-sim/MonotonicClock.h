#pragma once
// The simulator measures every rate and time-out on CLOCK_MONOTONIC so that a change of the
// wall clock during a long soak run cannot stretch or cut a hold.

#include <cstdint>
#include <ctime>

namespace cncsim {

inline int64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// A poll() time-out in whole milliseconds for a deadline in microseconds: rounded up, so that
// a wake-up never comes before the deadline and the loop does not turn over empty.
inline int pollTimeoutMs(int64_t nowUs, int64_t deadlineUs, int capMs) {
    if (deadlineUs <= nowUs)
        return 0;
    int64_t ms = (deadlineUs - nowUs + 999) / 1000;
    return ms > capMs ? capMs : int(ms);
}

} // namespace cncsim
