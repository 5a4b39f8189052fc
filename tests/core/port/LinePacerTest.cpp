// The cadence of an emulated line (a pseudo-terminal, a network device server), on times the
// test chooses: late wake-ups are made up, but the line never runs ahead of its baud rate, nor
// of the wider spacing a long round trip asks for.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "transfer/LinePacer.h"

namespace corvane {
namespace {

constexpr uint64_t Char = 260; // 38400 baud 8N1, rounded

// Sends `count` bytes, each wanted `lateness(i)` after it was due (the wake-up that came
// late, or the engine that was busy), and returns when each left.
template <typename Lateness>
std::vector<uint64_t> sendAll(LinePacer& pacer, int count, Lateness lateness) {
    std::vector<uint64_t> left;
    uint64_t now = 1'000'000;
    for (int i = 0; i < count; ++i) {
        if (!left.empty())
            now = std::max(now, pacer.dueAt()) + lateness(i);
        EXPECT_TRUE(pacer.due(now));
        pacer.sent(now);
        left.push_back(now);
    }
    return left;
}

TEST(LinePacerTest, neverRunsAheadOfTheLineWhateverTheWakeUps) {
    std::mt19937 random(7);
    std::uniform_int_distribution<uint64_t> late(0, 3 * Char);
    LinePacer pacer(Char);
    const std::vector<uint64_t> left = sendAll(pacer, 5000, [&](int) { return late(random); });
    for (size_t i = 1; i < left.size(); ++i)
        ASSERT_GE(left[i] - left[i - 1], Char * 3 / 4) << "byte " << i;
    // Over any stretch, however late its first byte was, the bytes are never more than one
    // character ahead of the line's rate (a UART's holding register); from the start, never.
    for (size_t i = 0; i < left.size(); i += 97)
        for (size_t j = i + 1; j < left.size(); j += 13)
            ASSERT_GE(left[j] - left[i] + Char, (j - i) * Char) << i << ".." << j;
}

TEST(LinePacerTest, lateWakeUpsAreMadeUpSoTheLineStaysFull) {
    // Every wake-up a fifth of a character late, and every 30th byte (a block's end, where the
    // engine logs and pumps) three quarters of a character late: the rate is still the line's.
    LinePacer pacer(Char);
    const int count = 3000;
    const std::vector<uint64_t> left =
        sendAll(pacer, count, [](int i) { return i % 30 == 0 ? Char * 3 / 4 : Char / 5; });
    const uint64_t span = left.back() - left.front();
    EXPECT_LE(span, uint64_t(count) * Char);
    EXPECT_GE(span, uint64_t(count - 1) * Char);
}

TEST(LinePacerTest, anIdleOrHeldLineStartsAfreshInsteadOfBursting) {
    LinePacer pacer(Char);
    pacer.sent(1000);
    EXPECT_EQ(pacer.dueAt(), 1000 + Char);
    EXPECT_FALSE(pacer.due(1000 + Char - 1));
    // Held for a second: the next byte goes at once, the one after a full character later.
    const uint64_t resumed = 1'001'000;
    ASSERT_TRUE(pacer.due(resumed));
    pacer.sent(resumed);
    EXPECT_EQ(pacer.dueAt(), resumed + Char);
}

// One schedule: the moments the engine wants to write (each byte goes when it is wanted or
// when it is due, whichever is later) and the moments the bytes must leave.
struct Schedule {
    const char* name;
    uint64_t charMicros;
    uint64_t roundTrip; // widens the spacing to roundTrip / 8, when more than a character
    std::vector<uint64_t> wanted;
    std::vector<uint64_t> leaves;
};

void PrintTo(const Schedule& s, std::ostream* os) {
    *os << s.name;
}

class LinePacerSchedule : public ::testing::TestWithParam<Schedule> {};

TEST_P(LinePacerSchedule, bytesLeaveWhenTheScheduleSays) {
    const Schedule& s = GetParam();
    LinePacer pacer(s.charMicros);
    if (s.roundTrip)
        pacer.fitRoundTrip(s.roundTrip, 8);
    std::vector<uint64_t> left;
    for (const uint64_t wanted : s.wanted) {
        const uint64_t now = std::max(wanted, pacer.dueAt());
        ASSERT_TRUE(pacer.due(now));
        pacer.sent(now);
        left.push_back(now);
    }
    EXPECT_EQ(left, s.leaves);
}

// Times from 100,000 (the first byte), one character 100.
INSTANTIATE_TEST_SUITE_P(
    Table, LinePacerSchedule,
    ::testing::Values(
        // Every byte waiting: one character apart, as a UART.
        Schedule{"OnTime", 100, 0, {100000, 0, 0, 0}, {100000, 100100, 100200, 100300}},
        // A wake-up 60 late: made up a quarter character a byte, back on the ideal schedule
        // (100400) by the fourth byte after it.
        Schedule{"LateWakeUpMadeUp",
                 100,
                 0,
                 {100000, 100160, 0, 0, 0, 0},
                 {100000, 100160, 100235, 100310, 100400, 100500}},
        // 99 late still counts as a late wake-up; 100 late is a line that stood: no debt.
        Schedule{"AlmostACharacterLate",
                 100,
                 0,
                 {100000, 100199, 0, 0},
                 {100000, 100199, 100274, 100349}},
        Schedule{"HeldAWholeCharacter", 100, 0, {100000, 100200, 0}, {100000, 100200, 100300}},
        // Held (or idle) a second: the next byte at once, the one after a character later, no
        // burst to catch up.
        Schedule{
            "HeldASecond", 100, 0, {100000, 1100000, 0, 0}, {100000, 1100000, 1100100, 1100200}},
        // Idle between blocks by the engine's own choice: each block starts afresh.
        Schedule{
            "IdleBetweenBlocks", 100, 0, {100000, 0, 150000, 0}, {100000, 100100, 150000, 150100}},
        // A round trip of 2 ms at 100 a character: 8 would be 20 on their way; spaced 250.
        Schedule{"WidenedSpacing", 100, 2000, {100000, 0, 0}, {100000, 100250, 100500}},
        // A round trip shorter than 8 characters leaves the character time as it is.
        Schedule{"ShortRoundTrip", 100, 400, {100000, 0}, {100000, 100100}},
        // A late wake-up on the widened spacing is made up by a quarter of that spacing.
        Schedule{"LateOnTheWidenedSpacing",
                 100,
                 2000,
                 {100000, 100400, 0, 0},
                 {100000, 100400, 100588, 100776}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvane
