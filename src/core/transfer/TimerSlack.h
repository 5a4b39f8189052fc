#pragma once
// A paced line wakes once a character to write the next one. Linux lets a sleeping thread's
// timer fire up to its timer slack late (50 µs by default), which at 38400 baud is a sixth of a
// character each time: the line would lose that much of its rate. While a paced line is open,
// its thread's slack is tightened to a microsecond and put back when the line closes.

namespace corvane {

class TightTimerSlack {
public:
    TightTimerSlack() = default;
    ~TightTimerSlack() { release(); }
    TightTimerSlack(const TightTimerSlack&) = delete;
    TightTimerSlack& operator=(const TightTimerSlack&) = delete;

    // Tightens the calling thread's slack; nothing when it is tight already.
    void take();
    // Puts back what the thread had before take().
    void release();

private:
    long m_original = -1;
};

} // namespace corvane
