// The data path and the user-space XON/XOFF of the serial line, with a pseudo-terminal as
// the machine. A pty has no modem lines and ignores framing, so only bytes are tested here.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include "PortFixture.h"
#include "PtyPair.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::testing {
namespace {

class PtyLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminals here";
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.HandShake = 0;
        machine.line.OutCode = 2;
    }
    std::unique_ptr<PosixSerialLine> adopt(int direction) {
        return PosixSerialLine::adopt(pty.takeSlave(), machine, direction);
    }
    std::string readAll(Line& line) {
        std::string out;
        for (;;) {
            const ReadResult r = line.readByte(50'000);
            if (r.status != ReadStatus::Byte)
                return out;
            out.push_back(static_cast<char>(r.byte));
        }
    }

    PtyPair pty;
    MachineDef machine;
};

TEST_F(PtyLine, bytesGoBothWaysUnchanged) {
    auto line = adopt(2);
    ASSERT_NE(line, nullptr);
    const std::string out("%\nG01 X-1.5\r\n\x7F\xFF\x80\x03", 17);
    for (char c : out)
        ASSERT_TRUE(line->writeByte(static_cast<uint8_t>(c), 1'000'000));
    EXPECT_EQ(pty.received(), out);

    const std::string in("N10\r\n\x04\x1A\xFF\x80", 9);
    pty.send(in);
    EXPECT_EQ(readAll(*line), in);
}

TEST_F(PtyLine, opensTheDeviceNamedByPortNameAndRestoresItsSettingsAtClose) {
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s",
                  pty.slaveName().c_str());
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &before), 0);
    OpenedLine opened = OpenDefaultLine(machine, 2, nullptr);
    ASSERT_NE(opened.line, nullptr) << opened.error.text;
    EXPECT_FALSE(opened.line->isFile());
    ASSERT_TRUE(opened.line->writeByte('%', 1'000'000));
    EXPECT_EQ(pty.received(), "%");
    opened.line->close();

    termios after{};
    ASSERT_EQ(tcgetattr(pty.slaveFd(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST_F(PtyLine, nulsAreDroppedAfterTheFlowCodes) {
    machine.line.HandShake = 1;
    machine.line.PtrStart = 0x00; // NUL is the XON here, so it must reach the filter first
    machine.line.PtrStop = 0x13;
    auto line = adopt(1);
    ASSERT_NE(line, nullptr);
    pty.send(std::string("A\x13"
                         "B\0C",
                         5));
    EXPECT_EQ(readAll(*line), "ABC");
    LineHolds holds;
    ASSERT_TRUE(line->holds(holds));
    EXPECT_FALSE(holds.xoff);

    machine.line.HandShake = 0;
}

TEST_F(PtyLine, nulsAreDroppedWithoutFlowControl) {
    auto line = adopt(1);
    ASSERT_NE(line, nullptr);
    pty.send(std::string("\0A\0\0B\0", 6));
    EXPECT_EQ(readAll(*line), "AB");
}

TEST_F(PtyLine, customCodesHoldAndReleaseAndOthersAreData) {
    struct Case {
        int start, stop;
        std::string xon, xoff, data;
    };
    const Case cases[] = {
        {0x05, 0x06, "\x05", "\x06", "\x11\x13"},
        {0x00, 0x13, std::string(1, '\0'), "\x13", "\x11"},
        {0x11, 0x00, "\x11", std::string(1, '\0'), "\x13"},
        {0x191, 0x293, "\x91", "\x93", "\x11\x13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        PtyPair local;
        ASSERT_TRUE(local.ok());
        machine.line.HandShake = 7; // a pty has no modem lines: they must not hold it
        machine.line.PtrStart = c.start;
        machine.line.PtrStop = c.stop;
        auto line = PosixSerialLine::adopt(local.takeSlave(), machine, 2);
        ASSERT_NE(line, nullptr);

        ASSERT_TRUE(line->writeByte('A', 1'000'000));
        EXPECT_EQ(local.received(), "A");

        local.send(c.xoff + c.data);
        usleep(20'000);
        LineHolds holds;
        ASSERT_TRUE(line->holds(holds));
        EXPECT_TRUE(holds.xoff);
        EXPECT_FALSE(line->writeByte('B', 30'000));
        EXPECT_EQ(local.received(), "");

        local.send(c.xon);
        EXPECT_TRUE(line->writeByte('B', 1'000'000));
        EXPECT_EQ(local.received(), "B");
        EXPECT_EQ(readAll(*line), c.data);
    }
}

TEST_F(PtyLine, waitingForDc1SendsNothingBeforeTheMachinesXon) {
    machine.line.HandShake = 1;
    machine.config.Xoff = 1;
    ManualClock clock;
    RecordingHost host(clock);
    AppConfig config;
    SendQueue queue;
    TransferState state;
    TransferContext ctx{machine,
                        config,
                        queue,
                        state,
                        host,
                        [&](const MachineDef& m, int direction, const char*) {
                            OpenedLine opened;
                            opened.line = PosixSerialLine::adopt(pty.takeSlave(), m, direction);
                            return opened;
                        },
                        0,
                        {}};
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ComWriteByte(ctx, 0, '%'), -1);
    EXPECT_EQ(pty.received(), "");
    EXPECT_EQ(host.statusOf(1), "Xoff");

    pty.send("\x11");
    int attempts = 0;
    while (ComWriteByte(ctx, 0, '%') != 0 && attempts < 100)
        ++attempts;
    EXPECT_LT(attempts, 100);
    EXPECT_EQ(pty.received(), "%");
    EXPECT_EQ(host.statusOf(1), "");
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

} // namespace
} // namespace corvane::testing
