// When a device server's acknowledgements say it reads, on the patterns measured against a
// running and a SIGSTOPped ser2net: a reading Linux server acknowledges each byte as it reads
// it, a stopped one only every 40 ms or so, with a prompt acknowledgement now and then.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "transfer/AckTiming.h"

namespace corvane {
namespace {

constexpr uint64_t Char = 260; // 38400 baud, one byte each
constexpr uint64_t Trip = 50;  // loopback's shortest round trip

// Sends a byte every character time from `from` to `until`; `ackAt(i, sentAt)` says when the
// server's kernel acknowledges byte i (with all before it). Returns the time it ended.
uint64_t run(AckTiming& timing, uint64_t& count, uint64_t from, uint64_t until,
             const std::function<uint64_t(uint64_t, uint64_t)>& ackAt) {
    uint64_t now = from;
    for (; now < until; now += Char) {
        timing.sent(++count, now);
        const uint64_t at = ackAt(count, now);
        timing.acknowledged(count, at, Trip);
    }
    return now;
}

uint64_t reading(uint64_t i, uint64_t sentAt) {
    // A busy server wakes up late now and then.
    return sentAt + Trip + (i % 500 == 0 ? 120'000 : 200);
}

// The delayed-acknowledgement timer, 40 ms after the first byte it covers; every 300th
// byte acknowledged at once, as a kernel does after a segment's worth.
uint64_t stopped(uint64_t i, uint64_t sentAt) {
    return i % 300 == 0 ? sentAt + Trip : sentAt + 40'000;
}

TEST(AckTimingTest, aServerThatStopsReadingIsLateFromThenOnAndOnlyThen) {
    AckTiming timing;
    uint64_t count = 0;
    uint64_t now = run(timing, count, 1'000'000, 6'000'000, reading);
    EXPECT_EQ(timing.lateSince(), 0u);
    const uint64_t stop = now;
    now = run(timing, count, now, now + 12'000'000, stopped);
    ASSERT_NE(timing.lateSince(), 0u);
    EXPECT_LE(timing.lateSince() - stop, 50'000u);
    // Read again: a run of prompt acknowledgements clears it.
    run(timing, count, now, now + 10 * Char, reading);
    EXPECT_EQ(timing.lateSince(), 0u);
}

TEST(AckTimingTest, aHoldForgivesAndAServerThatAlwaysDelaysIsNeverJudged) {
    AckTiming timing;
    uint64_t count = 0;
    uint64_t now = run(timing, count, 1'000'000, 3'000'000, reading);
    now = run(timing, count, now, now + 1'000'000, stopped);
    ASSERT_NE(timing.lateSince(), 0u);
    timing.pause();
    EXPECT_EQ(timing.lateSince(), 0u);
    // A server whose serial side was full for a moment as the send ended: late, not stopped.
    now = run(timing, count, now, now + 3 * Char,
              [](uint64_t, uint64_t sentAt) { return sentAt + 45'000; });
    EXPECT_EQ(timing.lateSince(), 0u);

    // Its first acknowledgements come at once (a kernel's quick ones), then all on its timer.
    AckTiming delaying;
    count = 0;
    run(delaying, count, 1'000'000, 20'000'000,
        [](uint64_t i, uint64_t sentAt) { return i <= 16 ? sentAt + Trip : sentAt + 200'000; });
    EXPECT_EQ(delaying.lateSince(), 0u);
}

} // namespace
} // namespace corvane
