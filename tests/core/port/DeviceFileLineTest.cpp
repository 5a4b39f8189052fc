#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "settings/MachineDef.h"
#include "transfer/DeviceFileLine.h"
#include "transfer/PosixSerialLine.h"

namespace corvane {
namespace {

class DeviceFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/corvane-devfile-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }

    void put(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string get() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::string path;
    MachineDef machine;
};

TEST_F(DeviceFile, sendReplacesTheFileWithTheBytesWritten) {
    put("old content that must go");
    OpenedLine opened = OpenDefaultLine(machine, 2, path.c_str());
    ASSERT_NE(opened.line, nullptr);
    ASSERT_TRUE(opened.line->isFile());
    const std::string bytes("%\0\x11\x13\xFFG1\n", 8);
    for (char c : bytes)
        ASSERT_TRUE(opened.line->writeByte(static_cast<uint8_t>(c), 20000));
    opened.line->drainOutput(1000000);
    opened.line->close();
    EXPECT_EQ(get(), bytes);
}

TEST_F(DeviceFile, bytesGatheredBeyondOneBlockAllReachTheFileAtTheClose) {
    // More than one block, and no drain before the close: an interrupted or failing engine
    // may close without one, and nothing accepted may be left behind.
    std::string bytes;
    for (int i = 0; i < 200'000; ++i)
        bytes.push_back(static_cast<char>((i * 7) % 251));
    OpenedLine opened = OpenDefaultLine(machine, 2, path.c_str());
    ASSERT_NE(opened.line, nullptr);
    for (char c : bytes)
        ASSERT_TRUE(opened.line->writeByte(static_cast<uint8_t>(c), 20000));
    opened.line->close();
    EXPECT_EQ(get(), bytes);
}

TEST_F(DeviceFile, bytesTheDiskRefusesAreNotReportedDelivered) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    OpenedLine opened = OpenDefaultLine(machine, 2, "/dev/full");
    ASSERT_NE(opened.line, nullptr);
    for (char c : std::string("%\nG01X1\n"))
        ASSERT_TRUE(opened.line->writeByte(static_cast<uint8_t>(c), 0));
    opened.line->drainOutput(1000000);
    EXPECT_FALSE(opened.line->outputDelivered());
    opened.line->close();
}

TEST_F(DeviceFile, receiveReadsEveryByteThenAnswersNothingAtOnce) {
    const std::string bytes("A\0\x11\x13\xFF", 5);
    put(bytes);
    OpenedLine opened = OpenDefaultLine(machine, 1, path.c_str());
    ASSERT_NE(opened.line, nullptr);
    LineHolds holds;
    ASSERT_TRUE(opened.line->holds(holds));
    EXPECT_FALSE(holds.cts || holds.dsr || holds.xoff);
    std::string got;
    for (;;) {
        const ReadResult r = opened.line->readByte(1000000);
        if (r.status != ReadStatus::Byte) {
            EXPECT_EQ(r.status, ReadStatus::Nothing);
            break;
        }
        got.push_back(static_cast<char>(r.byte));
    }
    EXPECT_EQ(got, bytes);
}

TEST_F(DeviceFile, receiveFromAMissingFileFailsWithTheSystemReason) {
    std::remove(path.c_str());
    OpenedLine opened = OpenDefaultLine(machine, 1, path.c_str());
    EXPECT_EQ(opened.line, nullptr);
    EXPECT_EQ(opened.error.kind, OpenFailure::Other);
    EXPECT_FALSE(opened.error.text.empty());
}

TEST_F(DeviceFile, missingSerialDeviceIsReportedAsNotFound) {
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s",
                  "/dev/corvane-no-such-port");
    OpenedLine opened = OpenDefaultLine(machine, 2, nullptr);
    EXPECT_EQ(opened.line, nullptr);
    EXPECT_EQ(opened.error.kind, OpenFailure::NotFound);
}

TEST_F(DeviceFile, aPlainFileNamedAsSerialPortIsNotASerialPort) {
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", path.c_str());
    OpenedLine opened = OpenDefaultLine(machine, 2, nullptr);
    EXPECT_EQ(opened.line, nullptr);
    EXPECT_EQ(opened.error.kind, OpenFailure::NotASerialPort);
}

} // namespace
} // namespace corvane
