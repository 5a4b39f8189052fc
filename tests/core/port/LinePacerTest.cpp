// The cadence of an emulated line, on times the test chooses: late wake-ups are made up, but
// the line never runs ahead of its baud rate.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
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

} // namespace
} // namespace corvane
