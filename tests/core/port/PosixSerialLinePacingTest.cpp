// A pseudo-terminal neither sends at the baud rate nor reports what is still queued, so the
// serial line spaces its bytes itself. These tests look at the wall clock on purpose: the
// spacing is the behaviour under test. They never sleep on their own; every wait is the
// line's.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "PtyPair.h"
#include "settings/MachineDef.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

class LinePacing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << "no pseudo-terminals here";
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.HandShake = 1;
        machine.line.OutCode = 2; // ASCII: the frame comes from DataLen, Parity and Stop
        machine.line.DataLen = 1;
        machine.line.Parity = 0;
        machine.line.Stop = 1;
        machine.line.BaudRate = 0; // 300 baud, 11 bits: 36667 us per character
    }

    // The moments around each write of `bytes`, one by one: just before the call and just
    // after it returned. The line's own write lies between the two, so bounds taken from
    // "before" on one side and "after" on the other hold however this thread is preempted.
    struct Timed {
        std::vector<Clock::time_point> before, after;
    };
    static Timed writeTimed(Line& line, const std::string& bytes) {
        Timed t;
        for (char c : bytes) {
            t.before.push_back(Clock::now());
            EXPECT_TRUE(line.writeByte(static_cast<uint8_t>(c), 1'000'000));
            t.after.push_back(Clock::now());
        }
        return t;
    }
    static long long microsBetween(Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration_cast<std::chrono::microseconds>(b - a).count();
    }

    PtyPair pty;
    MachineDef machine;
};

TEST_F(LinePacing, bytesOnAPseudoTerminalLeaveOneCharacterTimeApart) {
    auto line = PosixSerialLine::adopt(pty.takeSlave(), machine, 2);
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(line->pacesOutput());
    EXPECT_EQ(line->charMicros(), 36'667u);

    const auto t = writeTimed(*line, "%G01");
    // A late wake-up may be made up on the next byte, by a quarter character at most; over
    // several bytes the rate is never above the line's.
    for (size_t i = 1; i < t.after.size(); ++i) {
        EXPECT_GE(microsBetween(t.before[i - 1], t.after[i]), 36'667 * 3 / 4 - 100) << "byte " << i;
        EXPECT_GE(microsBetween(t.before[0], t.after[i]), long(i) * 36'667 - 100) << "byte " << i;
    }
    EXPECT_EQ(pty.received(), "%G01");
}

TEST_F(LinePacing, rateFollowsTheBaudRateAndTheFrame) {
    struct Case {
        int baudRate, outCode, dataLen, parity, stop;
        uint64_t micros;
    };
    const Case cases[] = {
        {0, 2, 1, 0, 1, 36'667}, // 300 baud 8N2
        {5, 0, 1, 0, 0, 1'042},  // 9600 baud, ISO is 7E1 whatever DataLen says (rounded up)
        {5, 1, 0, 2, 1, 1'146},  // 9600 baud, EIA is 8N, here with two stop bits
        {7, 2, 1, 2, 0, 287},    // 38400 baud 8E1
        {42, 2, 0, 0, 0, 938},   // an unknown index runs at 9600; 7N1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.baudRate);
        PtyPair local;
        ASSERT_TRUE(local.ok());
        machine.line.BaudRate = c.baudRate;
        machine.line.OutCode = c.outCode;
        machine.line.DataLen = c.dataLen;
        machine.line.Parity = c.parity;
        machine.line.Stop = c.stop;
        auto line = PosixSerialLine::adopt(local.takeSlave(), machine, 2);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(line->charMicros(), c.micros);
    }
}

TEST_F(LinePacing, withoutEmulationBytesLeaveAtOnce) {
    LineOptions options;
    options.emulateLineRate = false;
    auto line = PosixSerialLine::adopt(pty.takeSlave(), machine, 2, options);
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->pacesOutput());

    // Paced, the four bytes would take three character times at least.
    const auto t = writeTimed(*line, "%G01");
    EXPECT_LT(microsBetween(t.before.front(), t.after.back()), 2 * 36'667);
    EXPECT_EQ(pty.received(), "%G01");
}

TEST_F(LinePacing, openingByNameDetectsThePseudoTerminal) {
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s",
                  pty.slaveName().c_str());
    for (bool emulate : {true, false}) {
        SCOPED_TRACE(emulate);
        LineOptions options;
        options.emulateLineRate = emulate;
        OpenedLine opened = OpenDefaultLine(machine, 2, nullptr, options);
        ASSERT_NE(opened.line, nullptr) << opened.error.text;
        auto* serial = dynamic_cast<PosixSerialLine*>(opened.line.get());
        ASSERT_NE(serial, nullptr);
        EXPECT_EQ(serial->pacesOutput(), emulate);
        opened.line->close();
    }
    // The opener a transfer context takes carries the options too.
    LineOptions off;
    off.emulateLineRate = false;
    OpenedLine opened = DefaultLineOpener(off)(machine, 2, nullptr);
    ASSERT_NE(opened.line, nullptr) << opened.error.text;
    EXPECT_FALSE(dynamic_cast<PosixSerialLine&>(*opened.line).pacesOutput());
}

TEST_F(LinePacing, anXoffArrivingWithinTheCharacterTimeStopsTheNextByte) {
    auto line = PosixSerialLine::adopt(pty.takeSlave(), machine, 2);
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(line->writeByte('A', 1'000'000));
    pty.send("\x13"); // while 'A' is still "on the wire"
    EXPECT_FALSE(line->writeByte('B', 60'000));
    EXPECT_EQ(pty.received(), "A");

    pty.send("\x11");
    EXPECT_TRUE(line->writeByte('B', 1'000'000));
    EXPECT_EQ(pty.received(), "B");
}

TEST_F(LinePacing, drainWaitsOutTheLastCharacter) {
    auto line = PosixSerialLine::adopt(pty.takeSlave(), machine, 2);
    ASSERT_NE(line, nullptr);
    const auto beforeWrite = Clock::now(); // the write itself is later still
    ASSERT_TRUE(line->writeByte('%', 1'000'000));
    line->drainOutput(1'000'000);
    EXPECT_GE(microsBetween(beforeWrite, Clock::now()), 36'667 - 100);
}

TEST_F(LinePacing, aVanishedDeviceIsReportedAsLost) {
    for (bool emulate : {true, false}) {
        SCOPED_TRACE(emulate);
        PtyPair local;
        ASSERT_TRUE(local.ok());
        LineOptions options;
        options.emulateLineRate = emulate;
        auto line = PosixSerialLine::adopt(local.takeSlave(), machine, 2, options);
        ASSERT_NE(line, nullptr);
        ASSERT_TRUE(line->writeByte('%', 1'000'000));
        EXPECT_FALSE(line->lost());

        local.closeMaster(); // the far end goes away, as an unplugged adapter does
        EXPECT_FALSE(line->writeByte('G', 20'000));
        EXPECT_TRUE(line->lost());
        LineHolds holds;
        EXPECT_FALSE(line->holds(holds));
    }
}

// A machine that punches faster than the receive takes the bytes: the line stops taking input
// from the driver while its own backlog is full, so the sender is held by the pseudo-terminal
// (on a serial port: by the driver's flow control) and not a single byte is lost.
TEST_F(LinePacing, aReceiveThatFallsBehindLosesNothing) {
    PtyPair local;
    ASSERT_TRUE(local.ok());
    machine.line.HandShake = 0;
    auto line = PosixSerialLine::adopt(local.takeSlave(), machine, 1);
    ASSERT_NE(line, nullptr);

    std::string punched;
    for (int i = 0; punched.size() < 300'000; ++i)
        punched += "N" + std::to_string(i) + "G01X" + std::to_string(i % 977) + ".\n";
    const int master = local.masterFd();
    size_t sent = 0;
    std::thread machineSide([&] {
        while (sent < punched.size()) {
            pollfd p{master, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0)
                return;
            const ssize_t n = ::write(master, punched.data() + sent,
                                      std::min<size_t>(4096, punched.size() - sent));
            if (n > 0)
                sent += static_cast<size_t>(n);
        }
    });

    std::string stored;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (stored.size() < punched.size() && Clock::now() < deadline) {
        // The engine looks at the line's holds far more often than it stores a byte.
        LineHolds holds;
        for (int look = 0; look < 20; ++look)
            ASSERT_TRUE(line->holds(holds));
        for (int n = 0; n < 200 && stored.size() < punched.size(); ++n) {
            const ReadResult r = line->readByte(100'000);
            if (r.status != ReadStatus::Byte)
                break;
            stored += static_cast<char>(r.byte);
        }
    }
    machineSide.join();
    ASSERT_EQ(sent, punched.size());
    ASSERT_EQ(stored.size(), punched.size());
    EXPECT_TRUE(stored == punched);
}

// The machine's end goes away right after its last characters: what the line had already
// taken from the driver is still read out, and only then is the loss reported. (What was still
// in the driver is gone with it: the kernel empties a hung-up terminal.)
TEST_F(LinePacing, whatArrivedBeforeTheDeviceWentIsStillRead) {
    PtyPair local;
    ASSERT_TRUE(local.ok());
    machine.line.HandShake = 0;
    auto line = PosixSerialLine::adopt(local.takeSlave(), machine, 1);
    ASSERT_NE(line, nullptr);
    std::string punched;
    while (punched.size() < 3000)
        punched += "G01X" + std::to_string(punched.size()) + "\n";
    local.send(punched);
    LineHolds holds;
    ASSERT_TRUE(line->holds(holds)); // the engine looks at the line before it reads
    local.closeMaster();

    std::string stored;
    for (;;) {
        const ReadResult r = line->readByte(200'000);
        if (r.status != ReadStatus::Byte)
            break;
        stored += static_cast<char>(r.byte);
    }
    EXPECT_EQ(stored, punched);
    EXPECT_TRUE(line->lost());
}

} // namespace
} // namespace corvane::testing
