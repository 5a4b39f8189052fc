// The receive from signalling to closing message: codes on the wire, log lines, the long-line
// cut, time-outs, interrupts, device files, EIA, skip rules and target failures.

#include <algorithm>

#include "ReceiveFixture.h"

namespace corvane::testing {
namespace {

using Lines = std::vector<std::string>;

class ReceiveEngine : public ReceiveFixture {};

TEST_F(ReceiveEngine, logsCodesEchoAndClosingLinesInOrder) {
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    line().input(std::string("\0\0", 2) + "%\r\nO1234\r\nG00X0\r\nM30\r\n%", 0);

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(logAfterClear(),
              (Lines{"     : [DC1] Send...", "00001: %", "00002: O1234", "00003: G00X0",
                     "00004: M30", "00005: %", "     : [DC3] Send...", "",
                     "==== Completed Receive ====", "FILE [ " + target + " ]"}));
    EXPECT_EQ(host.log.front().text, "\f");
    EXPECT_EQ(host.log[1].colour, 1); // code line
    EXPECT_EQ(host.log[2].colour, 0); // data line
    EXPECT_EQ(written(), "\x11\x13");
    EXPECT_EQ(targetBytes(), "%\r\nO1234\r\nG00X0\r\nM30\r\n%\r\n");
    EXPECT_EQ(outcome.lines, 5);
    EXPECT_EQ(openedDirection, 1);
    EXPECT_EQ(host.statusOf(2), "5");
    EXPECT_EQ(host.statusOf(0), "");
    EXPECT_FALSE(state.TransferRunning);
    ASSERT_GE(host.titles.size(), 2u);
    EXPECT_EQ(host.titles.front(), "1|" + target + "|1");
}

TEST_F(ReceiveEngine, echoOffLeavesOnlyTheClosingLinesAndTheSameFile) {
    config.Echo = 0;
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    line().input("%\nG1\n%", 0);

    receive();

    EXPECT_EQ(logAfterClear(),
              (Lines{"", "==== Completed Receive ====", "FILE [ " + target + " ]"}));
    EXPECT_EQ(targetBytes(), "%\r\nG1\r\n%\r\n");
}

TEST_F(ReceiveEngine, userCodesGoOutAroundTheDataBetweenStartAndEndCode) {
    std::snprintf(machine.config.PtrUser0, sizeof machine.config.PtrUser0, "1214");
    std::snprintf(machine.config.PtrUser1, sizeof machine.config.PtrUser1, "15");
    machine.config.PtrEof = 2;
    line().input("G1\n\x14", 0);

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(written(), "\x11\x12\x14\x15\x13");
    EXPECT_EQ(logAfterClear(),
              (Lines{"     : [DC1] Send...", "     : [user code] Send...", "00001: G1",
                     "     : [user code] Send...", "     : [DC3] Send...", "",
                     "==== Completed Receive ====", "FILE [ " + target + " ]"}));
}

TEST_F(ReceiveEngine, noStartOrEndCodeWhenTheyAreZero) {
    machine.line.PtrStart = 0;
    machine.line.PtrStop = 0;
    machine.line.HandShake = 0;
    machine.config.PtrEof = 1;
    line().input("G1\n%", 0);

    receive();

    EXPECT_EQ(written(), "");
    EXPECT_EQ(logAfterClear(), (Lines{"00001: G1", "00002: %", "",
                                      "==== Completed Receive ====", "FILE [ " + target + " ]"}));
}

// A block longer than the line buffer is cut after 1025 characters; the rest opens the next
// line.
struct CutCase {
    const char* name;
    std::string punched;
    std::string target;
};

class ReceiveLongBlock : public ReceiveFixture, public ::testing::WithParamInterface<CutCase> {};

TEST_P(ReceiveLongBlock, isCutAfter1025Characters) {
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    machine.config.RecvSpace = 2;
    line().input(GetParam().punched, 0);
    receive();
    EXPECT_EQ(targetBytes(), GetParam().target);
}

const std::string A1025(1025, 'A');
const CutCase Cuts[] = {
    {"Longer", "%\n" + A1025 + "BBBBB\n%", "%\r\n" + A1025 + "\r\nBBBBB\r\n%\r\n"},
    {"ExactlyFull", "%\n" + A1025 + "\n%", "%\r\n" + A1025 + "\r\n%\r\n"},
    {"FullThenEndMark", "%\n" + A1025 + "%", "%\r\n" + A1025 + "%\r\n"},
    {"FullThenSpace", "%\n" + A1025 + " B\n%", "%\r\n" + A1025 + "\r\n B\r\n%\r\n"},
    // A CR that meets a full buffer is still a CR: it never lands inside a stored line.
    {"FullThenCrLf", "%\n" + A1025 + "\r\nB\n%", "%\r\n" + A1025 + "\r\nB\r\n%\r\n"},
    {"TwiceTheBuffer", "%\n" + A1025 + A1025 + "\n%",
     "%\r\n" + A1025 + "\r\n" + A1025 + "\r\n%\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Cuts, ReceiveLongBlock, ::testing::ValuesIn(Cuts),
                         [](const ::testing::TestParamInfo<CutCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReceiveEngine, timeOutBeforeTheDataLeavesAnEmptyFileAndSendsNoEndCode) {
    machine.config.PtrTimeOut = 2000;
    line(); // the machine never answers

    EXPECT_EQ(receive(), 0);

    EXPECT_TRUE(outcome.timedOut());
    EXPECT_TRUE(targetExists());
    EXPECT_EQ(targetBytes(), "");
    EXPECT_EQ(written(), "\x11");
    EXPECT_EQ(logAfterClear(), (Lines{"     : [DC1] Send...", "",
                                      "==== Receive TimeOut ====", "FILE [ " + target + " ]"}));
    EXPECT_GE(clock.now(), 2'000'000u);
}

TEST_F(ReceiveEngine, timeOutInsideTheDataStoresTheUnfinishedLine) {
    machine.config.PtrTimeOut = 1000;
    std::snprintf(machine.config.PtrUser1, sizeof machine.config.PtrUser1, "15");
    line().input("G1\nG2", 0);

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(targetBytes(), "G1\r\nG2\r\n");
    EXPECT_EQ(written(), "\x11"); // neither the after user code nor the end code
    EXPECT_EQ(closingLines(), (Lines{"==== Receive TimeOut ====", "FILE [ " + target + " ]"}));
}

TEST_F(ReceiveEngine, slowMachineWithinTheTimeOutIsNotCutOff) {
    machine.config.PtrTimeOut = 1000;
    machine.config.PtrEof = 1;
    line().input("G1\n", 0);
    line().input("G2\n", 900'000);
    line().input("%", 1'700'000);

    receive();

    EXPECT_EQ(targetBytes(), "G1\r\nG2\r\n%\r\n");
    EXPECT_EQ(closingLines().at(0), "==== Completed Receive ====");
}

TEST_F(ReceiveEngine, interruptKeepsStoredLinesAndLosesTheUnfinishedOne) {
    line().input("%\nG1\nG2", 0);
    interruptAtMicros = 5'000'000;

    EXPECT_EQ(receive(), -1);

    EXPECT_EQ(targetBytes(), "%\r\nG1\r\n");
    EXPECT_EQ(written(), "\x11");
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
    EXPECT_FALSE(state.TransferRunning);
}

TEST_F(ReceiveEngine, interruptWhileWaitingForTheLeader) {
    line();
    interruptAtMicros = 3'000'000;

    EXPECT_EQ(receive(), -1);

    EXPECT_EQ(targetBytes(), "");
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
}

TEST_F(ReceiveEngine, startCodeHeldUntilInterruptEndsWithoutData) {
    line().holdUntilXon(); // the machine sent XOFF and never lets go
    line().input("%\nG1\n%", 0);
    interruptAtMicros = 2'000'000;

    EXPECT_EQ(receive(), 1010);

    EXPECT_EQ(written(), "");
    EXPECT_EQ(targetBytes(), "");
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
}

TEST_F(ReceiveEngine, endCodeThatCannotGoOutIsGivenUpSilently) {
    machine.config.PtrEof = 1;
    line().input("G1\n%", 0);
    line().failWritesAfter(1); // DC1 goes, DC3 never

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(written(), "\x11");
    const auto log = logAfterClear();
    EXPECT_NE(std::find(log.begin(), log.end(), "     : [DC3] Send..."), log.end());
    EXPECT_EQ(closingLines().at(0), "==== Completed Receive ====");
}

TEST_F(ReceiveEngine, targetThatCannotBeCreatedOpensNoPort) {
    const std::string nowhere = target + ".missing/RECV.NC";

    EXPECT_EQ(receive(nowhere), 1000);

    EXPECT_EQ(opens, 0);
    EXPECT_EQ(logAfterClear(),
              (Lines{"", "==== Can not open the file ====", "FILE [ " + nowhere + " ]"}));
}

TEST_F(ReceiveEngine, portThatCannotBeOpenedLeavesAnEmptyTarget) {
    failOpen = true;
    line();

    EXPECT_EQ(receive(), 1001);

    EXPECT_TRUE(targetExists());
    EXPECT_EQ(targetBytes(), "");
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
}

struct DeviceFileCase {
    const char* name;
    std::string content;
    int timeOut;
    const char* closing;
    const char* target;
};

class ReceiveDeviceFile : public ReceiveFixture,
                          public ::testing::WithParamInterface<DeviceFileCase> {};

// The device file is read only: no start code, user code or end code is written into it.
TEST_P(ReceiveDeviceFile, endsAtEndOfFileAndWritesNothingIntoIt) {
    const auto& c = GetParam();
    machine.config.OutofFile = 1;
    machine.config.PtrTimeOut = c.timeOut;
    std::snprintf(machine.config.PtrUser0, sizeof machine.config.PtrUser0, "1214");
    std::snprintf(machine.config.PtrUser1, sizeof machine.config.PtrUser1, "15");
    line(true).input(c.content, 0);

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(written(), "");
    EXPECT_EQ(targetBytes(), c.target);
    EXPECT_EQ(closingLines().at(0), c.closing);
    const auto log = logAfterClear();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("     : [", 0) == 0; }),
              0);
}

const DeviceFileCase DeviceFiles[] = {
    {"LeaderOnly", std::string("\0\0\0  \r", 6), 0, "==== Completed Receive ====", ""},
    {"Empty", "", 0, "==== Completed Receive ====", ""},
    {"LeaderOnlyWithTimeOut", std::string("\0\0  ", 4), 1000, "==== Receive TimeOut ====", ""},
    {"ProgramWithoutEndMark", "%\nG1\nM30", 0, "==== Completed Receive ====", "%\r\nG1\r\nM30\r\n"},
    {"ProgramWithTimeOut", "%\nG1\nM30", 1000, "==== Receive TimeOut ====", "%\r\nG1\r\nM30\r\n"},
};

INSTANTIATE_TEST_SUITE_P(DeviceFiles, ReceiveDeviceFile, ::testing::ValuesIn(DeviceFiles),
                         [](const ::testing::TestParamInfo<DeviceFileCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReceiveEngine, eiaProgramReadsBackAsAscii) {
    machine.line.OutCode = 1;
    machine.line.HandShake = 0;
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    // Blank tape, %, G01X-1.5, end of block, M30 with its parity bit set, end of block, %.
    const std::string tape("\x10\x10\x0B\x80"
                           "\x67\x20\x01\x37\x40\x01\x6B\x15\x80"
                           "\xD4\x13\xA0\x80"
                           "\x0B",
                           18);
    line().input(tape, 0);

    EXPECT_EQ(receive(), 0);

    EXPECT_EQ(targetBytes(), "%\r\nG01X-1.5\r\nM30\r\n%\r\n");
    EXPECT_EQ(written(), "\x11\x13"); // codes go out unchanged under EIA
}

TEST_F(ReceiveEngine, skipRulesDropAndCutLinesAndEchoCountsStoredLinesOnly) {
    machine.config.PtrEof = 1;
    std::snprintf(machine.config.ReceiveSkipLine, sizeof machine.config.ReceiveSkipLine, "/");
    std::snprintf(machine.config.ReceiveSkipCode, sizeof machine.config.ReceiveSkipCode, "M01");
    line().input("G0X1\n/G1X2\nM01 G1\nM01\nM30%", 0);

    receive();

    EXPECT_EQ(targetBytes(), "G0X1\r\nG1\r\nM30%\r\n");
    EXPECT_EQ(logAfterClear(), (Lines{"     : [DC1] Send...", "00001: G0X1", "00002: G1",
                                      "00003: M30%", "     : [DC3] Send...", "",
                                      "==== Completed Receive ====", "FILE [ " + target + " ]"}));
}

TEST_F(ReceiveEngine, bytesAbove127LoseOnlyTheirParityBit) {
    machine.config.PtrEof = 1;
    // ISO with even parity in bit 7: 'G' is 0xC7, '1' is 0xB1.
    line().input("\xC7\xB1\n%", 0);
    receive();
    EXPECT_EQ(targetBytes(), "G1\r\n%\r\n");
}

TEST_F(ReceiveEngine, fullDiskEndsAsFailedReceiveWithAMessage) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    machine.config.PtrEof = 1;
    line().input("G1\nG2\n%", 0);

    const int result = receive("/dev/full");

    EXPECT_NE(result, 0);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find("/dev/full"), std::string::npos);
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
}

TEST_F(ReceiveEngine, targetRemovedDuringTheReceiveIsNotReportedAsCompleted) {
    machine.config.PtrEof = 1;
    line().input("G1\n", 0);
    line().input("%", 1'000'000);
    host.onPump = [this] {
        if (clock.now() > 500'000 && targetExists())
            std::filesystem::remove(target);
    };

    EXPECT_NE(receive(), 0);

    EXPECT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(closingLines(), (Lines{"==== Interrupted Receive ===="}));
}

TEST_F(ReceiveEngine, existingTargetIsReplaced) {
    {
        std::ofstream old(target, std::ios::binary);
        old << "OLD CONTENT THAT IS LONGER\r\n";
    }
    machine.config.PtrEof = 1;
    line().input("G1\n%", 0);
    receive();
    EXPECT_EQ(targetBytes(), "G1\r\n%\r\n");
}

} // namespace
} // namespace corvane::testing

namespace corvane::testing {

// An adapter pulled out in the middle of a receive: the transfer ends at once as interrupted,
// the user is told why, and every line already stored stays in the target.
TEST_F(ReceiveEngine, aVanishedDeviceEndsTheReceiveKeepingTheStoredLines) {
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    line().input("%\nO1234\nG00X0\n", 0);
    line().input("M30\n", 5'000'000);
    line().loseDeviceAt(2'000'000);

    EXPECT_EQ(receive(), -1);

    EXPECT_EQ(targetBytes(), "%\r\nO1234\r\nG00X0\r\n");
    EXPECT_EQ(host.errors, (std::vector<std::string>{"The connection to the port was lost."}));
    EXPECT_EQ(host.log.back().text, "==== Interrupted Receive ====");
    // Ended when the device went (plus the close's one-second pause), not at the next byte.
    EXPECT_LE(clock.now(), 3'000'000u);
}

} // namespace corvane::testing
