#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/TransferFixture.h"
#include "transfer/Port.h"
#include "transfer/TapeCode.h"

using namespace corvane;
using corvane::testing::TransferFixture;

namespace {

// One open line for one test: a scripted machine on a clock the test moves.
struct Rig : TransferFixture {
    FlowSettings flow;
    TestLine* line = nullptr;
    TransferContext ctx = contextWith([this](const MachineDef&, int, const char* deviceFile) {
        OpenedLine opened;
        auto l = std::make_unique<TestLine>(clock, flow, deviceFile != nullptr);
        line = l.get();
        opened.line = std::move(l);
        return opened;
    });
    int handle = -1;

    explicit Rig(int outCode, int lfCode = 0) {
        machine.line.OutCode = outCode;
        machine.line.HandShake = 0;
        machine.config.LfCode = lfCode;
    }
    // Opens for `direction`; a file device when `file` is set.
    void open(int direction, bool file = false) {
        if (file) {
            machine.config.OutofFile = 1;
            host.deviceFile = "/dev/null/stand-in";
        }
        handle = ComOpen(ctx, direction);
        ASSERT_GE(handle, 0);
        ASSERT_NE(line, nullptr);
    }
    int send(const std::string& text, int convert = 1) {
        for (char c : text) {
            const int r = SendTapeChar(ctx, handle, static_cast<uint8_t>(c), convert);
            if (r != 0)
                return r;
        }
        return 0;
    }
    std::string written() const { return line->written(); }
};

} // namespace

TEST(SendTapeChar, convertedCharactersOnTheWire) {
    struct Case {
        int outCode, lfCode;
        std::string text;
        int convert;
        std::string wire;
    };
    const Case cases[] = {
        {1, 0, "G01X-1.5", 1, "\x67\x20\x01\x37\x40\x01\x6B\x15"},
        {1, 0, "\n", 1, "\x80"},
        {1, 3, "\n", 1, "\x80"}, // EIA ignores LfCode
        {1, 1, " %g", 1, std::string("\x10\x0B\x00", 3)},
        {1, 0, "\xC1", 1, "\x61"}, // looked up without bit 7
        {1, 0, "G", 0, "G"},       // convert 0 leaves the byte alone
        {0, 3, "\n", 1, "\x0A\x0D\x0D"},
        {0, 1, "X1\n", 1, "X1\x0D\x0A"},
        {0, 2, "\n", 1, "\x0D"},
        {0, 0, "\n", 1, "\x0A"},
        {0, 9, "\n", 1, "\x0A"},
        {0, 1, "\n", 0, "\x0A"}, // start, stop and user codes go out as given
        {2, 1, "\n", 1, "\x0D\x0A"},
        {2, 0, "g(\xC1", 1, "g(\xC1"},
    };
    for (const Case& c : cases) {
        Rig rig(c.outCode, c.lfCode);
        rig.open(DirectionSend);
        EXPECT_EQ(rig.send(c.text, c.convert), 0);
        EXPECT_EQ(rig.written(), c.wire) << "code " << c.outCode << " lf " << c.lfCode;
    }
}

TEST(SendTapeChar, aPendingInterruptPassesTheCharacterOver) {
    Rig rig(0, 1);
    rig.open(DirectionSend);
    rig.state.InterruptRequest = 2;
    EXPECT_EQ(SendTapeChar(rig.ctx, rig.handle, '\n', 1), 0);
    EXPECT_EQ(rig.written(), "");
}

TEST(SendTapeChar, aHeldLineIsRetriedUntilItClears) {
    Rig rig(1);
    rig.machine.line.HandShake = 4;
    rig.flow.cts = true;
    rig.open(DirectionSend);
    rig.line->setCtsHeld(true);
    int pumps = 0;
    rig.host.onPump = [&] {
        if (++pumps == 5)
            rig.line->setCtsHeld(false);
    };
    EXPECT_EQ(SendTapeChar(rig.ctx, rig.handle, 'G', 1), 0);
    EXPECT_EQ(rig.written(), "\x67");
    EXPECT_GE(pumps, 5);
    EXPECT_GT(rig.clock.now(), 0u); // the retries waited on the line, they did not spin
}

TEST(SendTapeChar, anInterruptWhileHeldGivesUpWithoutWriting) {
    Rig rig(0, 3);
    rig.machine.line.HandShake = 4;
    rig.flow.cts = true;
    rig.open(DirectionSend);
    rig.line->holdCtsAfter(1, 60'000'000); // held after the LF of LF CR CR
    rig.host.onPump = [&] {
        if (rig.clock.now() > 5'000'000)
            rig.state.InterruptRequest = 1;
    };
    EXPECT_EQ(SendTapeChar(rig.ctx, rig.handle, '\n', 1), -1);
    EXPECT_EQ(rig.written(), "\x0A"); // the two CRs never went out
}

TEST(SendTapeChar, aFailingWriteWaitsOnTheLineUntilInterrupted) {
    Rig rig(0);
    rig.open(DirectionSend);
    rig.line->failWritesAfter(0);
    rig.host.onPump = [&] {
        if (rig.clock.now() >= 2'000'000)
            rig.state.InterruptRequest = 1;
    };
    EXPECT_EQ(SendTapeChar(rig.ctx, rig.handle, 'G', 1), -1);
    EXPECT_EQ(rig.written(), "");
    EXPECT_LE(rig.host.pumps, 200); // slices of the port, not a spin
}

TEST(SendTapeChar, withoutAPortNothingIsRetried) {
    Rig rig(0);
    rig.host.onPump = [&] { FAIL() << "pumped without a port"; };
    EXPECT_EQ(SendTapeChar(rig.ctx, -1, 'G', 1), -1);
}

TEST(ReceiveTapeChar, bytesReadBackAsAscii) {
    struct Case {
        int outCode;
        std::string input;
        int result;
    };
    const Case cases[] = {
        {1, "\x80", 0x0A}, {1, "\x0B", '%'},  {1, "\x8B", 0x0B}, {1, "\x93", 0x13},
        {1, "\x13", '3'},  {1, "\x11", 0x11}, {1, "\x67", 'G'},  {1, "\x03", 0x00},
        {1, "\xFF", 0x7F}, {0, "\xB1", '1'},  {0, "G", 'G'},     {2, "\xC7", 'G'},
    };
    for (const Case& c : cases) {
        Rig rig(c.outCode);
        rig.open(DirectionReceive);
        rig.line->input(c.input);
        EXPECT_EQ(ReceiveTapeChar(rig.ctx, rig.handle), c.result)
            << "code " << c.outCode << " byte 0x" << std::hex
            << (static_cast<int>(c.input[0]) & 0xFF);
    }
}

TEST(ReceiveTapeChar, aZeroByteIsReturnedAsZero) {
    Rig rig(0);
    rig.open(DirectionReceive, true); // a device file keeps its NUL bytes
    rig.line->input(std::string(1, '\0'));
    EXPECT_EQ(ReceiveTapeChar(rig.ctx, rig.handle), 0);
}

TEST(ReceiveTapeChar, nothingOrATimeOutComesBackAsThePortsStatus) {
    Rig rig(1);
    rig.open(DirectionReceive);
    EXPECT_EQ(ReceiveTapeChar(rig.ctx, rig.handle), -1);

    Rig timed(1);
    timed.machine.config.PtrTimeOut = 50;
    timed.open(DirectionReceive);
    EXPECT_EQ(ReceiveTapeChar(timed.ctx, timed.handle), -2);
}
