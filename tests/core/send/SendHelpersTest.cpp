#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "SendFixture.h"
#include "transfer/Port.h"
#include "transfer/UserCode.h"

namespace corvane::testing {
namespace {

TEST(FormatRemainingTime, widthsAndUnits) {
    const struct {
        uint32_t millis;
        const char* text;
    } cases[] = {
        {0, " 0S"},
        {999, " 0S"},
        {59999, "59S"},
        {60000, " 1M 0S"},
        {3599999, "59M59S"},
        {3600000, " 1H 0M 0S"},
        {3725000, " 1H 2M 5S"},
        {360000000, "100H 0M 0S"},
    };
    for (const auto& c : cases) {
        std::string out = "junk";
        EXPECT_EQ(FormatRemainingTime(c.millis, out), 1);
        EXPECT_EQ(out, c.text) << c.millis;
    }
}

TEST_F(SendFixture, userCodePairsBecomeRawBytesWithAPauseAfterEach) {
    machine.config.LfCode = 1; // a raw 0A must not grow a CR
    const struct {
        const char* code;
        std::string bytes;
        int count;
    } cases[] = {
        {"1214", "\x12\x14", 2},
        {"121", "\x12", 1},
        {"1", "", 0},
        {"", "", 0},
        {"0a0A", "\x0a\x0a", 2},
        {"fF", "\xff", 1},
        {"G112", "\x12", 1}, // a pair without a
                             // leading hex digit sends
                             // nothing
        {"1G", "\x01", 1},   // the number ends at the first non-digit
    };
    const int handle = ComOpen(ctx, DirectionSend);
    ASSERT_GE(handle, 0);
    for (const auto& c : cases) {
        const size_t before = wire().size();
        const uint64_t start = clock.now();
        EXPECT_EQ(SendUserCode(ctx, handle, c.code), 0);
        EXPECT_EQ(wire().substr(before), c.bytes) << c.code;
        EXPECT_EQ(clock.now() - start, 100000u * c.bytes.size()) << c.code;
        EXPECT_EQ(UserCodeByteCount(c.code), c.count) << c.code;
    }
    ComClose(ctx, handle);
}

TEST_F(SendFixture, userCodeInterruptedWhileHeldFailsAndSendsNothing) {
    machine.line.HandShake = 4;
    useLine(FlowSettings{false, 0x11, 0x13, true, false});
    line().setCtsHeld(true);
    const int handle = ComOpen(ctx, DirectionSend);
    ASSERT_GE(handle, 0);
    host.onPump = [this] { state.InterruptRequest = 1; };
    EXPECT_EQ(SendUserCode(ctx, handle, "1214"), -1);
    EXPECT_EQ(wire(), "");
    ComClose(ctx, handle);
}

TEST_F(SendFixture, tempCopyIsAByteForByteCopyWithTheProgramPrefix) {
    std::string content = "G0\r\nX\x00\xff\n";
    content += std::string(20000, 'Y');
    const std::string path = addFile("A.NC", content);
    char temp[260];
    ASSERT_NE(MakeTempCopy(path.c_str(), temp), 0);
    const std::filesystem::path copy(temp);
    EXPECT_EQ(copy.parent_path(), tempFolder);
    EXPECT_EQ(copy.filename().string().rfind("CVN", 0), 0u);
    std::ifstream in(copy, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    std::filesystem::remove(copy);
}

TEST_F(SendFixture, tempCopyOfAMissingFileLeavesNothingBehind) {
    char temp[260] = "x";
    EXPECT_EQ(MakeTempCopy((folder / "GONE.NC").c_str(), temp), 0);
    EXPECT_STREQ(temp, "");
    EXPECT_EQ(leftTempCopies(), 0);
}

} // namespace
} // namespace corvane::testing
