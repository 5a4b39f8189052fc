// Start Check, End Check and Space Character against one punched stream: every combination.

#include "ReceiveFixture.h"

namespace corvane::testing {
namespace {

// What the machine punches: a leader, a comment line, a first %, a block with spaces, a line of
// spaces, M30, the closing %, DC4, and a block after it. Then the line stays silent.
const std::string Punched = "  \r(A 1)\r\n%\r\nG01 X1 \r\n  \r\nM30\r\n%\x14G9\r\n";

struct CheckCase {
    int begin;    // PtrBegin
    int eof;      // PtrEof
    int space;    // RecvSpace
    bool timeOut; // the data ends by time-out instead of an end mark
    const char* target;
};

class ReceiveChecks : public ReceiveFixture, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(ReceiveChecks, storesExactlyTheLinesTheSettingsKeep) {
    const CheckCase& c = GetParam();
    machine.config.PtrBegin = c.begin;
    machine.config.PtrEof = c.eof;
    machine.config.RecvSpace = c.space;
    machine.config.PtrTimeOut = 500;
    line().input(Punched, 0);

    const int result = receive();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(targetBytes(), c.target);
    EXPECT_EQ(outcome.timedOut(), c.timeOut);
    // The end code goes out only when the data ended on its own.
    EXPECT_EQ(written(), c.timeOut ? std::string("\x11") : std::string("\x11\x13"));
    const auto closing = closingLines();
    ASSERT_EQ(closing.size(), 2u);
    EXPECT_EQ(closing[0], c.timeOut ? "==== Receive TimeOut ====" : "==== Completed Receive ====");
    EXPECT_EQ(closing[1], "FILE [ " + target + " ]");
}

// Begin 0 starts the data at '(' and keeps the first % as data; Begin 1 starts it at that %.
// End 1/3 ends at the first % inside the data (stored), End 2 at DC4 (not stored), End 0 never.
const CheckCase Cases[] = {
    {0, 0, 0, true, "(A1)\r\n%\r\nG01X1\r\nM30\r\n%\x14G9\r\n"},
    {0, 0, 1, true, "(A 1)\r\n%\r\nG01 X1\r\nM30\r\n%\x14G9\r\n"},
    {0, 0, 2, true, "(A 1)\r\n%\r\nG01 X1 \r\n  \r\nM30\r\n%\x14G9\r\n"},
    {0, 1, 0, false, "(A1)\r\n%\r\n"},
    {0, 1, 1, false, "(A 1)\r\n%\r\n"},
    {0, 1, 2, false, "(A 1)\r\n%\r\n"},
    {0, 2, 0, false, "(A1)\r\n%\r\nG01X1\r\nM30\r\n%\r\n"},
    {0, 2, 1, false, "(A 1)\r\n%\r\nG01 X1\r\nM30\r\n%\r\n"},
    {0, 2, 2, false, "(A 1)\r\n%\r\nG01 X1 \r\n  \r\nM30\r\n%\r\n"},
    {0, 3, 0, false, "(A1)\r\n%\r\n"},
    {0, 3, 1, false, "(A 1)\r\n%\r\n"},
    {0, 3, 2, false, "(A 1)\r\n%\r\n"},
    {1, 0, 0, true, "%\r\nG01X1\r\nM30\r\n%\x14G9\r\n"},
    {1, 0, 1, true, "%\r\nG01 X1\r\nM30\r\n%\x14G9\r\n"},
    {1, 0, 2, true, "%\r\nG01 X1 \r\n  \r\nM30\r\n%\x14G9\r\n"},
    {1, 1, 0, false, "%\r\nG01X1\r\nM30\r\n%\r\n"},
    {1, 1, 1, false, "%\r\nG01 X1\r\nM30\r\n%\r\n"},
    {1, 1, 2, false, "%\r\nG01 X1 \r\n  \r\nM30\r\n%\r\n"},
    {1, 2, 0, false, "%\r\nG01X1\r\nM30\r\n%\r\n"},
    {1, 2, 1, false, "%\r\nG01 X1\r\nM30\r\n%\r\n"},
    {1, 2, 2, false, "%\r\nG01 X1 \r\n  \r\nM30\r\n%\r\n"},
    {1, 3, 0, false, "%\r\nG01X1\r\nM30\r\n%\r\n"},
    {1, 3, 1, false, "%\r\nG01 X1\r\nM30\r\n%\r\n"},
    {1, 3, 2, false, "%\r\nG01 X1 \r\n  \r\nM30\r\n%\r\n"},
};

INSTANTIATE_TEST_SUITE_P(AllSettings, ReceiveChecks, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<CheckCase>& info) {
                             return "Begin" + std::to_string(info.param.begin) + "Eof" +
                                    std::to_string(info.param.eof) + "Space" +
                                    std::to_string(info.param.space);
                         });

// Line ends as machines send them: CR LF and LF CR give one line per block, CR alone none.
struct LineEndCase {
    const char* name;
    const char* punched;
    const char* target;
};

class ReceiveLineEnds : public ReceiveFixture, public ::testing::WithParamInterface<LineEndCase> {};

TEST_P(ReceiveLineEnds, giveOneLinePerBlock) {
    machine.config.PtrBegin = 1;
    machine.config.PtrEof = 1;
    line().input(GetParam().punched, 0);
    receive();
    EXPECT_EQ(targetBytes(), GetParam().target);
    EXPECT_EQ(closingLines().at(0), "==== Completed Receive ====");
}

const LineEndCase LineEnds[] = {
    {"CrLf", "%\r\nG1\r\nG2\r\n%", "%\r\nG1\r\nG2\r\n%\r\n"},
    {"LfCr", "%\n\rG1\n\rG2\n\r%", "%\r\nG1\r\nG2\r\n%\r\n"},
    {"LfOnly", "%\nG1\nG2\n%", "%\r\nG1\r\nG2\r\n%\r\n"},
    {"CrAloneJoins", "%\nG1\rG2\n%", "%\r\nG1G2\r\n%\r\n"},
    {"LfCrCr", "%\n\r\rG1\n\r\r%", "%\r\nG1\r\n%\r\n"},
    {"EmptyLinesDropped", "%\n\n\nG1\n\n%", "%\r\nG1\r\n%\r\n"},
    // The end mark is stored at the end of whatever its line held.
    {"EndMarkAfterText", "%\nM30%", "%\r\nM30%\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Machines, ReceiveLineEnds, ::testing::ValuesIn(LineEnds),
                         [](const ::testing::TestParamInfo<LineEndCase>& info) {
                             return std::string(info.param.name);
                         });

struct LeaderCase {
    const char* name;
    std::string punched;
    const char* target;
};

class ReceiveLeaderNone : public ReceiveFixture,
                          public ::testing::WithParamInterface<LeaderCase> {};

TEST_P(ReceiveLeaderNone, skipsTheLeaderUpToTheFirstData) {
    machine.config.PtrBegin = 0;
    machine.config.PtrEof = 1;
    machine.config.OutofFile = 1; // a device file keeps NULs, so the engine must drop them
    line(true).input(GetParam().punched, 0);
    receive();
    EXPECT_EQ(targetBytes(), GetParam().target);
}

const LeaderCase Leaders[] = {
    {"NulSpaceCrControl", std::string("\0\0  \r\x01\x02G1\n%", 11), "G1\r\n%\r\n"},
    {"LineFeedStartsUnstored", "\r\nG1\n%", "G1\r\n%\r\n"},
    {"DelStartsAndIsStored", "  \x7FG1\n%", "\x7FG1\r\n%\r\n"},
    {"NulInsideDataDropped",
     std::string("G\0"
                 "1\n%",
                 5),
     "G1\r\n%\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Leaders, ReceiveLeaderNone, ::testing::ValuesIn(Leaders),
                         [](const ::testing::TestParamInfo<LeaderCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace corvane::testing
