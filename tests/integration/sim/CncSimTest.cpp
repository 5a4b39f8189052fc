// The simulated machine tool checked from the host's side of its pseudo-terminal: what it sends,
// what it records, when it holds the line and how it counts what comes after a hold. Wire bytes
// are written out literally so that a wrong table in the simulator cannot agree with itself.

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <regex>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "../../support/SimProcess.h"

namespace {

using corvane::testing::SimProcess;
using corvane::testing::summaryValue;
using Bytes = std::vector<uint8_t>;

long long nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1'000'000;
}

// The host's end of the line, raw, as a serial port layer would open it.
class HostPort {
public:
    explicit HostPort(const std::string& device) {
        m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0) {
            termios tio{};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~HostPort() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    void write(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += size_t(n);
            } else {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
    }

    // Reads until `count` bytes came or `timeoutMs` passed.
    Bytes read(size_t count, int timeoutMs) {
        Bytes got;
        const auto deadline = nowMs() + timeoutMs;
        while (got.size() < count && nowMs() < deadline) {
            if (auto b = readByte(20))
                got.push_back(*b);
        }
        return got;
    }

    std::optional<uint8_t> readByte(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        if (!(p.revents & POLLIN)) {
            // Hung up (the simulator has gone): poll returns at once, so wait out the time
            // here rather than have the caller's loop spin.
            ::poll(nullptr, 0, timeoutMs);
            return std::nullopt;
        }
        uint8_t b = 0;
        if (::read(m_fd, &b, 1) != 1)
            return std::nullopt;
        return b;
    }

private:
    int m_fd = -1;
};

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "cnc-sim-" + std::to_string(::getpid()) + "-" + name;
}

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// ---- read mode -----------------------------------------------------------------------------

struct RecordCase {
    const char* name;
    std::vector<std::string> args;
    uint8_t startCode;
    Bytes payload;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes everyByteValue() {
    Bytes b;
    for (int i = 0; i < 256; ++i)
        b.push_back(uint8_t(i));
    return b;
}

class ReadModeRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(ReadModeRecords, sendsTheStartCodeAndRecordsEveryByteInOrder) {
    const RecordCase& c = GetParam();
    const std::string record = tempPath(std::string(c.name) + ".rec");
    std::vector<std::string> args{"read", "--wait-ms",       "0",   "--record",
                                  record, "--exit-after-ms", "4000"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    SimProcess sim;
    ASSERT_TRUE(sim.start(args)) << sim.errors();
    HostPort host(sim.device());
    ASSERT_TRUE(host.isOpen());

    EXPECT_EQ(host.read(1, 2000), Bytes{c.startCode});
    host.write(c.payload);

    ASSERT_EQ(sim.wait(4000), 0) << sim.output() << sim.errors();
    EXPECT_EQ(fileBytes(record), c.payload);
    EXPECT_NE(sim.output().find("received " + std::to_string(c.payload.size()) +
                                " bytes, max after DC3 0, alarms 0"),
              std::string::npos)
        << sim.output();
    ::unlink(record.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadModeRecords,
    ::testing::Values(
        RecordCase{"EndsOnDc4",
                   {},
                   0x11,
                   {0x00, 0x00, 0x12, '%', 0x0A, 'G', '0', '1', 0x0D, 0x0A, 0x80, 0xFF, 0x14}},
        RecordCase{
            "EndsWhenIdle", {"--end-on", "none", "--idle-ms", "150"}, 0x11, everyByteValue()},
        RecordCase{
            "OwnStartCode", {"--xon", "0x91", "--end-on", "DC4"}, 0x91, {'O', '1', 0x8A, 0x94}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CncSimRead, noStartCodeIsSentWithNoStart) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--no-start", "--exit-after-ms", "3000"}));
    HostPort host(sim.device());
    EXPECT_TRUE(host.read(1, 300).empty());
    host.write({'X', 0x14});
    EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
}

TEST(CncSimRead, startCodeIsSentAgainWhenTheHostOpensAnewBeforeData) {
    // A host may empty its input when it opens the port; a start code sent to an earlier open
    // would then be lost.
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--exit-after-ms", "4000"}));
    {
        HostPort first(sim.device());
        EXPECT_EQ(first.read(1, 2000), Bytes{0x11});
    }
    HostPort second(sim.device());
    EXPECT_EQ(second.read(1, 2000), Bytes{0x11});
    second.write({'%', 0x14});
    EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
}

TEST(CncSimRead, theHostsDc1AndDc3BeforeTheDataAreNotTheProgram) {
    // A host that listens on the line between its sends says DC1 and DC3 to the control: they
    // must neither start the data (which would stop the start code) nor be recorded.
    const std::string record = tempPath("codes.bin");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--start-repeat-ms", "100", "--record", record,
                           "--exit-after-ms", "4000"}));
    HostPort host(sim.device());
    EXPECT_EQ(host.read(1, 2000), Bytes{0x11});
    host.write({0x11, 0x13});
    EXPECT_EQ(host.read(1, 2000), Bytes{0x11}) << "the start code stopped";
    host.write({'%', '\n', 'G', '1', '\n', 0x13, '%', 0x14});
    EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
    // After the data started, a DC3 is part of what came.
    EXPECT_EQ(fileBytes(record), (Bytes{'%', '\n', 'G', '1', '\n', 0x13, '%', 0x14}));
    ::unlink(record.c_str());
}

TEST(CncSimRead, lineRateLimitsHowFastCharactersAreTaken) {
    SimProcess sim;
    ASSERT_TRUE(
        sim.start({"read", "--wait-ms", "0", "--line-cps", "100", "--exit-after-ms", "4000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});
    Bytes block(49, 'X');
    block.push_back(0x14);
    const auto started = nowMs();
    host.write(block);
    ASSERT_EQ(sim.wait(4000), 0) << sim.errors();
    // 50 characters at 100 per second, less the two of the initial burst: at least 480 ms.
    EXPECT_GE(nowMs() - started, 450);
    EXPECT_EQ(summaryValue(sim.output(), "received"), 50);
}

TEST(CncSimRead, aHeldLineIsNotIdle) {
    // A host that waits for the DC1 is silent by the machine's wish: the idle end must not
    // cut its program off, however long the control takes to work off its buffer.
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--cps", "40", "--buffer", "100", "--high",
                           "20", "--low", "5", "--end-on", "none", "--idle-ms", "150",
                           "--exit-after-ms", "4000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});
    host.write(Bytes(25, 'A'));
    EXPECT_EQ(host.read(1, 2000), Bytes{0x13});
    // 20 characters worked off at 40 a second: half a second held, more than three idle ends.
    EXPECT_EQ(host.read(1, 2000), Bytes{0x11});
    host.write(Bytes(5, 'B'));
    ASSERT_EQ(sim.wait(4000), 0) << sim.output() << sim.errors();
    EXPECT_EQ(summaryValue(sim.output(), "received"), 30) << sim.output();
}

TEST(CncSimRead, pausesOfItsOwnDoNotKeepAnIdleEndAway) {
    // Random holds go on after the program, never more than 0.8 s apart; the silence between
    // them adds up and still ends the run.
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--hold-random", "7", "--end-on", "none",
                           "--idle-ms", "1000", "--exit-after-ms", "6000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});
    host.write(Bytes(5, 'A'));
    ASSERT_EQ(sim.wait(6000), 0) << sim.output() << sim.errors();
    EXPECT_EQ(summaryValue(sim.output(), "received"), 5) << sim.output();
}

TEST(CncSimRead, hostThatIgnoresDc3RaisesTheOverflowAlarm) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--cps", "10", "--buffer", "100", "--high",
                           "20", "--low", "5", "--tolerance", "10", "--exit-after-ms", "4000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});

    // 60 characters at once: the 20th fills the buffer to the high mark, so 40 follow the DC3.
    Bytes block;
    for (int i = 0; i < 60; ++i)
        block.push_back(uint8_t('A' + i % 26));
    host.write(block);
    EXPECT_EQ(host.read(1, 2000), Bytes{0x13});
    host.write({0x14});

    EXPECT_EQ(sim.wait(4000), 1);
    EXPECT_EQ(summaryValue(sim.output(), "max after DC3"), 41) << sim.output(); // DC4 included
    EXPECT_EQ(summaryValue(sim.output(), "alarms"), 1);
    EXPECT_NE(sim.errors().find("ALARM overflow: 41 characters after DC3"), std::string::npos)
        << sim.errors();
}

// A host that stops at DC3 and goes on at DC1, one character at a time; `paceMs` between
// characters. Returns how many holds it saw.
int sendHonouringFlow(HostPort& host, size_t count, int paceMs) {
    bool held = false;
    int holds = 0;
    size_t sent = 0;
    const auto deadline = nowMs() + 10'000;
    while (sent < count && nowMs() < deadline) {
        while (auto b = host.readByte(held ? 20 : 0)) {
            if (*b == 0x13 && !held) {
                held = true;
                ++holds;
            } else if (*b == 0x11) {
                held = false;
            }
        }
        if (held)
            continue;
        host.write({uint8_t('0' + sent % 10)});
        ++sent;
        if (paceMs > 0)
            ::poll(nullptr, 0, paceMs);
    }
    host.write({0x14});
    return holds;
}

TEST(CncSimRead, hostThatHonoursDc3StaysWithinTolerance) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--cps", "400", "--buffer", "64", "--high",
                           "32", "--low", "8", "--exit-after-ms", "8000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});

    // Paced at about one character per millisecond, as a 9600 baud line would; a pty has no line
    // rate of its own, and a host that writes faster fills the queue ahead of any DC3.
    EXPECT_GE(sendHonouringFlow(host, 200, 1), 1);

    ASSERT_EQ(sim.wait(4000), 0) << sim.output() << sim.errors();
    EXPECT_EQ(summaryValue(sim.output(), "received"), 201);
    EXPECT_GE(summaryValue(sim.output(), "holds"), 1);
    EXPECT_LE(summaryValue(sim.output(), "max after DC3"), 10);
}

TEST(CncSimRead, randomHoldsHoldTheLineWithDc3AndReleaseItWithDc1) {
    SimProcess sim;
    ASSERT_TRUE(
        sim.start({"read", "--wait-ms", "0", "--hold-random", "7", "--exit-after-ms", "8000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});

    // Long enough (over 1.2 s) to pass the longest quiet gap between random holds.
    EXPECT_GE(sendHonouringFlow(host, 400, 3), 1);

    ASSERT_EQ(sim.wait(4000), 0) << sim.output() << sim.errors();
    EXPECT_GE(summaryValue(sim.output(), "holds"), 1);
    EXPECT_EQ(summaryValue(sim.output(), "alarms"), 0);
}

TEST(CncSimRead, holdAfterHoldsOnceAtTheCountForTheGivenTime) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--hold-after", "5", "--hold-ms", "400",
                           "--exit-after-ms", "8000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});

    host.write({'1', '2', '3', '4'});
    EXPECT_TRUE(host.read(1, 150).empty()) << "held before the fifth character";
    host.write({'5'});
    EXPECT_EQ(host.read(1, 1000), Bytes{0x13});
    const auto heldAt = nowMs();
    EXPECT_EQ(host.read(1, 2000), Bytes{0x11});
    const auto heldFor = nowMs() - heldAt;
    EXPECT_GE(heldFor, 350);
    EXPECT_LE(heldFor, 1500);

    // Once only: more characters bring no second hold.
    host.write({'6', '7', '8', '9', '0', '1', '2', 0x14});
    ASSERT_EQ(sim.wait(4000), 0) << sim.output() << sim.errors();
    EXPECT_TRUE(host.read(1, 100).empty());
    EXPECT_EQ(summaryValue(sim.output(), "holds"), 1);
    EXPECT_EQ(summaryValue(sim.output(), "max after DC3"), 0);
}

TEST(CncSimRead, charactersDuringTheFixedHoldCountAfterDc3) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--wait-ms", "0", "--hold-after", "2", "--hold-ms", "300",
                           "--tolerance", "3", "--exit-after-ms", "8000"}));
    HostPort host(sim.device());
    ASSERT_EQ(host.read(1, 2000), Bytes{0x11});

    // A host that ignores the DC3: the 2nd character starts the hold, 3rd to 7th follow it.
    host.write({'A', 'B', 'C', 'D', 'E', 'F', 'G'});
    EXPECT_EQ(host.read(1, 1000), Bytes{0x13});
    EXPECT_EQ(host.read(1, 2000), Bytes{0x11});
    host.write({0x14});
    EXPECT_EQ(sim.wait(4000), 1);
    EXPECT_EQ(summaryValue(sim.output(), "max after DC3"), 5) << sim.output();
    EXPECT_EQ(summaryValue(sim.output(), "alarms"), 1);
}

// ---- punch mode ----------------------------------------------------------------------------

struct PunchCase {
    const char* name;
    std::string program;
    std::vector<std::string> args;
    Bytes expected;
};

void PrintTo(const PunchCase& c, std::ostream* os) {
    *os << c.name;
}

class PunchModeCodes : public ::testing::TestWithParam<PunchCase> {};

TEST_P(PunchModeCodes, punchesTheExpectedBytesAfterTheStartCode) {
    const PunchCase& c = GetParam();
    const std::string program = tempPath(std::string(c.name) + ".nc");
    writeFile(program, c.program);
    std::vector<std::string> args{"punch", "--program", program, "--exit-after-ms", "4000"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    SimProcess sim;
    ASSERT_TRUE(sim.start(args)) << sim.errors();
    HostPort host(sim.device());
    host.write({0x11});

    EXPECT_EQ(host.read(c.expected.size(), 2000), c.expected);
    EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
    EXPECT_FALSE(host.readByte(0)) << "more than the program was punched";
    EXPECT_EQ(summaryValue(sim.output(), "sent"), long(c.expected.size()));
    ::unlink(program.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PunchModeCodes,
    ::testing::Values(
        PunchCase{"EiaBlock",
                  "%\nG01X-1.5\n%\n",
                  {"--code", "eia", "--leader", "3"},
                  {0x00, 0x00, 0x00, 0x0B, 0x80, 0x67, 0x20, 0x01, 0x37, 0x40, 0x01, 0x6B, 0x15,
                   0x80, 0x0B, 0x80, 0x14}},
        // clang-format off
        PunchCase{"EiaEveryCharacter",
                  "0123456789\r\nABCDEFGHIJKLM\nNOPQRSTUVWXYZ\n %&()+,-./\ng\n",
                  {"--code", "eia", "--end-code", "none"},
                  {0x20, 0x01, 0x02, 0x13, 0x04, 0x15, 0x16, 0x07, 0x08, 0x19, 0x80,
                   0x61, 0x62, 0x73, 0x64, 0x75, 0x76, 0x67, 0x68, 0x79, 0x51, 0x52, 0x43, 0x54,
                   0x80,
                   0x45, 0x46, 0x57, 0x58, 0x49, 0x32, 0x23, 0x34, 0x25, 0x26, 0x37, 0x38, 0x29,
                   0x80,
                   0x10, 0x0B, 0x0E, 0x1A, 0x4A, 0x70, 0x3B, 0x40, 0x6B, 0x31, 0x80,
                   0x67, 0x80}},
        // clang-format on
        PunchCase{
            "IsoEvenParityCrLf",
            "%\nG01\n",
            {"--code", "iso", "--parity", "even", "--line-end", "crlf", "--leader", "2", "--dc2"},
            {0x00, 0x00, 0x12, 0xA5, 0x8D, 0x0A, 0x47, 0x30, 0xB1, 0x8D, 0x0A, 0x14}},
        PunchCase{"IsoOddParityLf",
                  "G1\n",
                  {"--parity", "odd", "--trailer", "2", "--end-code", "none"},
                  {0xC7, 0x31, 0x8A, 0x00, 0x00}},
        PunchCase{"AsciiCr",
                  "O1\r\nM30\n",
                  {"--code", "ascii", "--line-end", "cr", "--end-code", "DC4"},
                  {'O', '1', 0x0D, 'M', '3', '0', 0x0D, 0x14}},
        PunchCase{"AsciiInChunks",
                  "O1\nG01X1\nM30\n",
                  {"--code", "ascii", "--chunk", "4", "--leader", "2"},
                  {0x00, 0x00, 'O', '1', 0x0A, 'G', '0', '1', 'X', '1', 0x0A, 'M', '3', '0', 0x0A,
                   0x14}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CncSimPunch, waitsForTheStartCodeAndStopsWhileHeld) {
    const std::string program = tempPath("hold.nc");
    writeFile(program, "G01X10.Y20.\nG01X30.Y40.\nM30\n"); // 28 characters
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", program, "--code", "ascii", "--cps", "100",
                           "--exit-after-ms", "5000"}));
    HostPort host(sim.device());

    EXPECT_TRUE(host.read(1, 250).empty()) << "punched before the start code";
    host.write({0x11});
    Bytes got = host.read(5, 1000);
    ASSERT_EQ(got.size(), 5u);
    host.write({0x13});
    // One character may already be on its way when the DC3 goes out; then nothing more.
    Bytes duringHold = host.read(3, 300);
    EXPECT_LE(duringHold.size(), 1u);
    got.insert(got.end(), duringHold.begin(), duringHold.end());
    host.write({0x11});
    Bytes rest = host.read(29 - got.size(), 2000);
    got.insert(got.end(), rest.begin(), rest.end());

    const std::string text = "G01X10.Y20.\nG01X30.Y40.\nM30\n";
    Bytes expected(text.begin(), text.end());
    expected.push_back(0x14);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
    EXPECT_EQ(summaryValue(sim.output(), "holds"), 1);
    ::unlink(program.c_str());
}

TEST(CncSimPunch, severalProgramsGoOutInOrderWithTheirPausesAndOneStartCode) {
    const std::string first = tempPath("first.nc");
    const std::string second = tempPath("second.nc");
    writeFile(first, "G1\n");
    writeFile(second, "G2\n");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", first, "--program", second, "--code", "ascii",
                           "--gaps-ms", "600", "--repeat", "2", "--exit-after-ms", "8000"}));
    HostPort host(sim.device());
    host.write({0x11});
    EXPECT_EQ(host.read(4, 1000), (Bytes{'G', '1', '\n', 0x14}));
    // The pause: nothing for a while, then the next program without another start code.
    EXPECT_TRUE(host.read(1, 300).empty());
    EXPECT_EQ(host.read(4, 2000), (Bytes{'G', '2', '\n', 0x14}));
    EXPECT_EQ(host.read(8, 4000), (Bytes{'G', '1', '\n', 0x14, 'G', '2', '\n', 0x14}));
    EXPECT_EQ(sim.wait(4000), 0) << sim.errors();
    EXPECT_EQ(summaryValue(sim.output(), "sent"), 16);
    ::unlink(first.c_str());
    ::unlink(second.c_str());
}

TEST(CncSimPunch, keepsTheLineUpUntilTheHostHasReadEverythingAndFailsWhenItNeverDoes) {
    const std::string program = tempPath("drain.nc");
    writeFile(program, "G01X1\n");
    for (bool reads : {true, false}) {
        SCOPED_TRACE(reads);
        SimProcess sim;
        ASSERT_TRUE(sim.start({"punch", "--program", program, "--code", "ascii", "--drain-ms",
                               "300", "--exit-after-ms", "5000"}));
        HostPort host(sim.device());
        host.write({0x11});
        if (reads) {
            // Read late, when the whole program has long been written: the line is still up
            // and nothing is lost.
            ::poll(nullptr, 0, 150);
            EXPECT_EQ(host.read(7, 1000), (Bytes{'G', '0', '1', 'X', '1', 0x0A, 0x14}));
            EXPECT_EQ(sim.wait(3000), 0) << sim.errors();
            EXPECT_FALSE(host.readByte(0));
        } else {
            EXPECT_EQ(sim.wait(3000), 1);
            EXPECT_NE(sim.errors().find("the host did not read the last 7 characters"),
                      std::string::npos)
                << sim.errors();
        }
    }
    ::unlink(program.c_str());
}

// ---- command line --------------------------------------------------------------------------

TEST(CncSimCommandLine, refusesBadUsageAndProgramsWithoutACode) {
    const std::string program = tempPath("semicolon.nc");
    writeFile(program, "G01;\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"drill"}, 2, "unknown mode"},
        {{"read", "--cps", "fast"}, 2, "--cps"},
        {{"read", "--buffer", "100", "--high", "200"}, 2, "--high"},
        {{"read", "--hold-after", "-1"}, 2, "--hold-after"},
        {{"read", "--hold-ms", "soon"}, 2, "--hold-ms"},
        {{"punch"}, 2, "--program"},
        {{"punch", "--program", program, "--chunk", "0"}, 2, "--chunk"},
        {{"punch", "--program", program, "--code", "ebcdic"}, 2, "--code"},
        {{"punch", "--program", program, "--code", "eia"}, 1, "';' (0x3B) has no EIA code"},
        {{"punch", "--program", tempPath("missing.nc")}, 1, "cannot read"},
    };
    for (const Case& c : cases) {
        SimProcess sim;
        EXPECT_FALSE(sim.start(c.args));
        EXPECT_EQ(sim.wait(3000), c.status) << c.args.front() << " " << sim.errors();
        EXPECT_NE(sim.errors().find(c.message), std::string::npos) << sim.errors();
    }
    ::unlink(program.c_str());
}

TEST(CncSimCommandLine, helpGoesToStdoutWithStatusZero) {
    SimProcess sim;
    EXPECT_FALSE(sim.start({"--help"}));
    EXPECT_EQ(sim.wait(3000), 0);
    EXPECT_NE(sim.output().find("usage: cnc-sim read"), std::string::npos);
}

TEST(CncSimCommandLine, linkPointsAtTheDeviceAndGoesAwayAtTheEnd) {
    const std::string link = tempPath("ttyCNC");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--link", link, "--exit-after-ms", "4000"}));
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.device());

    sim.terminate();
    EXPECT_EQ(sim.wait(3000), 1);
    EXPECT_NE(sim.output().find("received 0 bytes"), std::string::npos);
    EXPECT_NE(::access(link.c_str(), F_OK), 0);
}

} // namespace
