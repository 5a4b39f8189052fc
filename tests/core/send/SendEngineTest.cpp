#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "SendFixture.h"
#include "support/StringIds.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::testing {
namespace {

using namespace std::string_literals;

// Parameterised suites are named after their cases.
const auto caseName = [](const auto& info) { return std::string(info.param.name); };

// A machine set up by `setup` is sent `files`, one after the other; `wire` is all that goes out.
struct StreamCase {
    const char* name;
    std::function<void(MachineDef&)> setup;
    std::vector<std::string> files;
    std::string wire;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name;
}

class StreamFixture : public SendFixture, public ::testing::WithParamInterface<StreamCase> {
protected:
    // Sets the machine up and sends the files of the case.
    int sendCase() {
        const StreamCase& c = GetParam();
        if (c.setup)
            c.setup(machine);
        for (size_t i = 0; i < c.files.size(); ++i)
            addFile("F" + std::to_string(i) + ".NC", c.files[i]);
        return send();
    }
};

// N10, N20, ... in front of the blocks.
void numberByTen(MachineDef& m) {
    m.config.NnoBase = 10;
    m.config.NnoIncr = 10;
}

// ---------------------------------------------------------------- framing of the stream

const StreamCase framingCases[] = {
    {"nothingAround", nullptr, {"G1\n"}, "G1\n"},
    {"startAndStopCodes",
     [](MachineDef& m) {
         m.line.PtpStart = 0x12;
         m.line.PtpStop = 0x14;
     },
     {"G1\n"},
     "\x12G1\n\x14"},
    {"otherStartAndStopCodesGoOutRaw",
     [](MachineDef& m) {
         m.line.PtpStart = 0x0A;
         m.line.PtpStop = 0x0A;
         m.config.LfCode = 1;
     },
     {"G1\n"},
     "\x0AG1\r\n\x0A"},
    {"nullsAndSpacesBeforeMiddleAfter",
     [](MachineDef& m) {
         m.config.PtpNull[0] = 2;
         m.config.PtpNull[1] = 3;
         m.config.PtpNull[2] = 1;
         m.config.PtpSpace[0] = 1;
         m.config.PtpSpace[1] = 2;
         m.config.PtpSpace[2] = 1;
     },
     {"G1\n", "G2\n"},
     "\0\0 G1\n\0 G2\n  \0\0\0"s},
    {"middleLeadersOnlyBetweenFiles",
     [](MachineDef& m) { m.config.PtpNull[2] = 1; },
     {"G1\n", "G2\n", "G3\n"},
     "G1\n\0G2\n\0G3\n"s},
    {"erCodeBefore", [](MachineDef& m) { m.config.ErCode = 1; }, {"G1\n"}, "%G1\n"},
    {"erCodeAfter", [](MachineDef& m) { m.config.ErCode = 2; }, {"G1\n"}, "G1\n%"},
    {"erCodeBothWithHeadLineFeedInCrLf",
     [](MachineDef& m) {
         m.config.ErCode = 3;
         m.config.HeadLf = 1;
         m.config.LfCode = 1;
     },
     {"G1\n"},
     "%\r\nG1\r\n%"},
    {"headLineFeedOnlyWhenExactlyOne",
     [](MachineDef& m) { m.config.HeadLf = 2; },
     {"G1\n"},
     "G1\n"},
    {"userCodesRawAtTheirPlaces",
     [](MachineDef& m) {
         m.config.LfCode = 1;
         std::strcpy(m.config.PtpUser0, "0A");
         std::strcpy(m.config.PtpUser1, "0d0d");
         std::strcpy(m.config.PtpUser2, "7F");
     },
     {"G1\n", "G2\n"},
     "\x0AG1\r\n\x7FG2\r\n\x0D\x0D"},
    {"shortUserCodeSendsNothing",
     [](MachineDef& m) { std::strcpy(m.config.PtpUser0, "1"); },
     {"G1\n"},
     "G1\n"},
    {"everythingInOrder",
     [](MachineDef& m) {
         m.line.PtpStart = 0x12;
         m.line.PtpStop = 0x14;
         m.config.PtpNull[0] = m.config.PtpNull[1] = m.config.PtpNull[2] = 1;
         m.config.PtpSpace[0] = m.config.PtpSpace[1] = m.config.PtpSpace[2] = 1;
         m.config.ErCode = 3;
         m.config.HeadLf = 1;
         std::strcpy(m.config.PtpUser0, "AA");
         std::strcpy(m.config.PtpUser2, "BB");
         std::strcpy(m.config.PtpUser1, "CC");
     },
     {"G1\n", "G2\n"},
     "\x12\0 %\n\xAAG1\n\0 \xBBG2\n\xCC% \0\x14"s},
};

class Framing : public StreamFixture {};

TEST_P(Framing, streamIsFramedAsConfigured) {
    EXPECT_EQ(sendCase(), 0);
    EXPECT_EQ(wire(), GetParam().wire);
    EXPECT_EQ(leftTempCopies(), 0);
}

INSTANTIATE_TEST_SUITE_P(Leaders, Framing, ::testing::ValuesIn(framingCases), caseName);

TEST_F(SendFixture, echoLinesNameEveryLeaderAndBlock) {
    machine.line.PtpStart = 0x12;
    machine.line.PtpStop = 0x14;
    machine.config.PtpNull[0] = machine.config.PtpNull[1] = 2;
    machine.config.PtpSpace[0] = machine.config.PtpSpace[1] = 1;
    machine.config.ErCode = 3;
    machine.config.HeadLf = 1;
    std::strcpy(machine.config.PtpUser0, "AA");
    std::strcpy(machine.config.PtpUser1, "CC");
    const std::string path = addFile("A.NC", "G1\n(C)\nX2\n");
    ASSERT_EQ(send(), 0);

    const std::vector<RecordingHost::LogLine> expected = {
        {0, "\f"},
        {0, ""},
        {0, "==== [ " + path + " ] ===="},
        {0, ""},
        {1, "     : [DC2] Send..."},
        {1, "     : [null] Send..."},
        {1, "     : [space] Send..."},
        {1, "     : [%] Send..."},
        {1, "     : [line feed code] Send..."},
        {1, "     : [user code] Send..."},
        {0, "00001: G1"},
        {0, "00002: X2"},
        {1, "     : [user code] Send..."},
        {1, "     : [%] Send..."},
        {1, "     : [space] Send..."},
        {1, "     : [null] Send..."},
        {1, "     : [DC4] Send..."},
        {0, ""},
        // 2 nulls, space, %, LF, user code, 3 + 3 block characters, user code, %, space,
        // 2 nulls; the start and stop codes do not count.
        {0, "==== Completed Send [17] byte ===="},
    };
    ASSERT_EQ(host.log.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(host.log[i].colour, expected[i].colour) << i;
        EXPECT_EQ(host.log[i].text, expected[i].text) << i;
    }
    EXPECT_EQ(wire(), "\x12\0\0 %\n\xAAG1\nX2\n\xCC% \0\0\x14"s);
}

TEST_F(SendFixture, echoOffKeepsOnlyHeaderAndFinalLine) {
    config.Echo = 0;
    machine.config.PtpNull[0] = 3;
    machine.config.LfCode = 3; // a line feed counts once however it goes out
    const std::string path = addFile("A.NC", "G1\n");
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(logTexts(), (std::vector<std::string>{"\f", "", "==== [ " + path + " ] ====", "", "",
                                                    "==== Completed Send [6] byte ===="}));
    EXPECT_EQ(wire(), "\0\0\0G1\n\r\r"s);
}

TEST_F(SendFixture, statusPartsFollowTheSend) {
    std::strcpy(machine.config.PtpUser0, "1214");
    machine.config.PtpSpace[0] = 1;
    addFile("A.NC", "G1\nG2\n");
    ASSERT_EQ(send(), 0);
    std::vector<std::string> activity;
    for (const auto& [part, text] : host.status)
        if (part == StatusActivity)
            activity.push_back(text);
    EXPECT_EQ(activity, (std::vector<std::string>{"space", "1214", "G1", "G2", ""}));
    EXPECT_EQ(host.statusOf(StatusBlocks), "2");
}

// ---------------------------------------------------------------- block rules end to end

const StreamCase programCases[] = {
    {"commentsRemoved",
     [](MachineDef& m) { m.config.SendSpace = 1; },
     {"(HEADER)\nG00X0(MOVE)\n  (C)\n\n"},
     "G00X0\n  \n\n"},
    {"commentsKept",
     [](MachineDef& m) {
         m.config.Comment = 1;
         m.config.SendSpace = 1;
     },
     {"(HEADER)\nG00X0(MOVE)\n  (C)\n\n"},
     "(HEADER)\nG00X0(MOVE)\n  (C)\n\n"},
    {"percentKept", nullptr, {"%\nG00X0\n%\n"}, "%\nG00X0\n%\n"},
    {"percentDeleted",
     [](MachineDef& m) { m.config.DeleteErCode = 1; },
     {"%\nG00X0\n%\n"},
     "G00X0\n"},
    {"percentDeletedButFramingKept",
     [](MachineDef& m) {
         m.config.DeleteErCode = 1;
         m.config.ErCode = 3;
     },
     {"%\nG00X0\n%\n"},
     "%G00X0\n%"},
    {"wordBreak",
     [](MachineDef& m) { m.config.WordBreak = 1; },
     {"G01X-10.Y20.\nx10y20\nG01 X1\n"},
     "G01 X-10. Y20.\nx10y20\nG01 X1\n"},
    {"blockNumbersRunAcrossFiles",
     numberByTen,
     {"O1234\nG00X0\nN5G01\n%\n", "G01X1\n"},
     "O1234\nN10G00X0\nN5G01\n%\nN20G01X1\n"},
    {"blockNumbersWithWordBreak",
     [](MachineDef& m) {
         numberByTen(m);
         m.config.WordBreak = 1;
     },
     {"G00X0\n", "G01X1\n"},
     "N10 G00 X0\nN20 G01 X1\n"},
    {"blankLinesDroppedWithoutNumbers", numberByTen, {"G0\n\n   \nG1\n"}, "N10G0\nN20G1\n"},
    {"blankLinesSentWithoutNumbers",
     [](MachineDef& m) {
         numberByTen(m);
         m.config.SendSpace = 1;
     },
     {"G0\n\n   \nG1\n"},
     "N10G0\n\n   \nN20G1\n"},
    {"blankLineEvenGetsASpace",
     [](MachineDef& m) {
         m.config.SendSpace = 1;
         m.config.TVCheck = 1;
     },
     {"\n"},
     " \n"},
    {"skipRules",
     [](MachineDef& m) {
         std::strcpy(m.config.SendSkipLine, "/");
         std::strcpy(m.config.SendSkipCode, "M08");
     },
     {"/G0\nG01 M08 X10\n"},
     "G01  X10\n"},
    {"crLfReadAsLf",
     [](MachineDef& m) { m.config.SendSpace = 1; },
     {"G1\r\n\r\nA\r\r\nB"},
     "G1\n\nA\r\nB\n"},
    {"eightBitBytesPassUnchanged",
     [](MachineDef& m) { m.config.Comment = 1; },
     {"G1(\xE5\x8A\xA0\xFF)\n"},
     "G1(\xE5\x8A\xA0\xFF)\n"},
    {"lastLineWithoutLineFeed", nullptr, {"G1\nG2"}, "G1\nG2\n"},
};

class Programs : public StreamFixture {};

TEST_P(Programs, blocksAreReworkedAsConfigured) {
    EXPECT_EQ(sendCase(), 0);
    EXPECT_EQ(wire(), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(Blocks, Programs, ::testing::ValuesIn(programCases), caseName);

struct TvCase {
    int lfCode;
    int tvCheck;
    std::string wire;
};

void PrintTo(const TvCase& c, std::ostream* os) {
    *os << "LfCode " << c.lfCode << ", TVCheck " << c.tvCheck;
}

class TvCheck : public SendFixture, public ::testing::WithParamInterface<TvCase> {};

TEST_P(TvCheck, parityCountsTheLineFeedOnceWhateverItBecomes) {
    machine.config.LfCode = GetParam().lfCode;
    machine.config.TVCheck = GetParam().tvCheck;
    addFile("A.NC", "G00X0\nG00X\n");
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(wire(), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    EveryLfCode, TvCheck,
    ::testing::Values(TvCase{0, 1, "G00X0\nG00X \n"}, TvCase{1, 1, "G00X0\r\nG00X \r\n"},
                      TvCase{2, 1, "G00X0\rG00X \r"}, TvCase{3, 1, "G00X0\n\r\rG00X \n\r\r"},
                      TvCase{0, 2, "G00X0 \nG00X\n"}, TvCase{1, 2, "G00X0 \r\nG00X\r\n"},
                      TvCase{2, 2, "G00X0 \rG00X\r"}, TvCase{3, 2, "G00X0 \n\r\rG00X\n\r\r"}));

TEST_F(SendFixture, eiaProgramGoesOutInTapeCode) {
    machine.line.OutCode = 1;
    machine.line.PtpStart = 0x12;
    machine.line.PtpStop = 0x14;
    machine.config.LfCode = 1; // has no say under EIA
    machine.config.ErCode = 3;
    machine.config.HeadLf = 1;
    machine.config.Comment = 1;
    machine.config.PtpNull[0] = 2;
    machine.config.PtpNull[1] = 2;
    machine.config.PtpSpace[0] = 1;
    addFile("A.NC", "O0001\r\nG01X-1.5(a)\nM30\n");
    ASSERT_EQ(send(), 0);
    const std::string expected = "\x12"                     // DC2, raw
                                 "\x00\x00"                 // nulls
                                 "\x10"                     // space
                                 "\x0B"                     // %
                                 "\x80"                     // head line feed
                                 "\x46\x20\x20\x20\x01\x80" // O0001
                                 "\x67\x20\x01\x37\x40\x01\x6B\x15\x1A\x00\x4A\x80" // G01X-1.5(a)
                                 "\x54\x13\x20\x80"                                 // M30
                                 "\x0B"                                             // %
                                 "\x00\x00"                                         // nulls
                                 "\x14"s;                                           // DC4, raw
    EXPECT_EQ(wire(), expected);
}

TEST_F(SendFixture, longLineGoesOutInPiecesOf511) {
    numberByTen(machine);
    machine.config.TVCheck = 1;
    addFile("A.NC", "G" + std::string(599, '1') + "\n");
    ASSERT_EQ(send(), 0);
    // 511 characters behind "N10" make 514 (even): the space makes the count with the line
    // feed even. The 89 characters of the rest start with a digit and take no number.
    EXPECT_EQ(wire(), "N10G" + std::string(510, '1') + " \n" + std::string(89, '1') + "\n");
    EXPECT_EQ(host.statusOf(StatusBlocks), "2");
}

// A line that fills the read exactly is one block: its line end is not read as a blank line
// of its own (which a machine that keeps blank lines would have been sent as an extra block).
TEST_F(SendFixture, lineOfExactly511GoesOutAsOneBlock) {
    const std::string line511 = "G" + std::string(510, '1');
    for (const char* end : {"\n", "\r\n"}) {
        for (int sendSpace : {0, 1}) {
            SCOPED_TRACE(std::string(end).size() * 10 + sendSpace);
            useLine(FlowSettings{});
            queue = SendQueue{};
            machine.config.SendSpace = sendSpace;
            addFile("A.NC", line511 + end + "G2" + end);
            ASSERT_EQ(send(), 0);
            EXPECT_EQ(wire(), line511 + "\nG2\n");
            EXPECT_EQ(host.statusOf(StatusBlocks), "2");
        }
    }
}

TEST_F(SendFixture, crLfSplitAtThePieceBoundaryStaysOneLineFeed) {
    // 510 characters and CR LF read as 511 characters ending in the line feed.
    addFile("A.NC", std::string(510, 'X') + "\r\nG2\r\n");
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(wire(), std::string(510, 'X') + "\nG2\n");
}

// ---------------------------------------------------------------- progress and notices

TEST_F(SendFixture, noticesReportBeginProgressEndAndSuccess) {
    addFile("A.NC", "G1\r\nG2\r\n");
    addFile("B.NC", "(C)\nG3\n");
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(host.notices, (std::vector<std::pair<uint32_t, uint32_t>>{
                                {10, 15}, {11, 4}, {11, 8}, {11, 12}, {11, 15}, {12, 0}, {1, 0}}));
    EXPECT_EQ(host.progress, (std::vector<uint32_t>{0, 4, 8, 12, 15, 0}));
    EXPECT_EQ(host.progressTotal, 15u);
    EXPECT_FALSE(host.progressVisible);
}

TEST_F(SendFixture, stateTitleAndPositionAroundTheSend) {
    const std::string a = addFile("A.NC", "G1\n");
    const std::string b = addFile("B.NC", "G2\n");
    std::vector<int> positions;
    bool runningSeen = false;
    host.onPump = [&] {
        runningSeen = runningSeen || state.TransferRunning;
        positions.push_back(queue.Position);
    };
    ASSERT_EQ(send(), 0);
    EXPECT_TRUE(runningSeen);
    EXPECT_FALSE(state.TransferRunning);
    EXPECT_EQ(queue.Position, 0);
    EXPECT_NE(std::find(positions.begin(), positions.end(), 1), positions.end());
    EXPECT_EQ(host.titles, (std::vector<std::string>{"2|" + a + "|1", "2|" + b + "|1", "2||0"}));
}

// One millisecond per byte on the wire; the program is 4000 bytes in lines of 10.
class RemainingTime : public SendFixture {
protected:
    RemainingTime() {
        afterWrite = [this] { clock.advance(1000); };
        for (int i = 0; i < 400; ++i)
            program += "G01X12345\n";
    }
    std::string program;
};

TEST_F(RemainingTime, isEstimatedFromTheDataRate) {
    addFile("A.NC", program);
    ASSERT_EQ(send(), 0);
    std::vector<std::string> remaining;
    for (const auto& [part, text] : host.status)
        if (part == StatusRemaining)
            remaining.push_back(text);
    // First estimate once 1024 bytes are read (1030 after 103 lines), then once a second.
    EXPECT_EQ(remaining, (std::vector<std::string>{" 2S", " 1S", " 0S"}));
}

// A Japanese window shows the time in its own words, as its manual says (" 2分 5秒").
TEST_F(RemainingTime, isShownInTheLanguageOfTheWindow) {
    host.language = Language::Japanese;
    addFile("A.NC", program);
    ASSERT_EQ(send(), 0);
    std::vector<std::string> remaining;
    for (const auto& [part, text] : host.status)
        if (part == StatusRemaining)
            remaining.push_back(text);
    EXPECT_EQ(remaining, (std::vector<std::string>{" 2秒", " 1秒", " 0秒"}));

    std::string text;
    FormatRemainingTime(3723000, text, WexLoadString(Language::Japanese, IDS_FMT_REMAINING_HMS),
                        WexLoadString(Language::Japanese, IDS_FMT_REMAINING_MS),
                        WexLoadString(Language::Japanese, IDS_FMT_REMAINING_S));
    EXPECT_EQ(text, " 1時 2分 3秒");
    FormatRemainingTime(125000, text, WexLoadString(Language::Japanese, IDS_FMT_REMAINING_HMS),
                        WexLoadString(Language::Japanese, IDS_FMT_REMAINING_MS),
                        WexLoadString(Language::Japanese, IDS_FMT_REMAINING_S));
    EXPECT_EQ(text, " 2分 5秒");
    FormatRemainingTime(125000, text, "", nullptr, "");
    EXPECT_EQ(text, " 2M 5S");
}

TEST_F(RemainingTime, ofAGrownFileNeverGoesNegative) {
    const std::string path = (folder / "A.NC").string();
    std::ofstream(path, std::ios::binary) << program;
    listFile(path, 100); // listed when it was still small
    ASSERT_EQ(send(), 0);
    int shown = 0;
    for (const auto& [part, text] : host.status) {
        if (part == StatusRemaining) {
            EXPECT_EQ(text, " 0S");
            ++shown;
        }
    }
    EXPECT_GT(shown, 0);
}

// ---------------------------------------------------------------- timing

TEST_F(SendFixture, pausesAfterOpeningAndAfterTheStartCode) {
    std::vector<uint64_t> times;
    afterWrite = [&] { times.push_back(clock.now()); };
    machine.line.PtpStart = 0x12;
    addFile("A.NC", "G1\n");
    ASSERT_EQ(send(), 0);
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[0], 1000000u); // DC2 one second after the open
    EXPECT_EQ(times[1], 2000000u); // data one second after DC2

    times.clear();
    useLine(FlowSettings{});
    clock.set(0);
    machine.line.PtpStart = 0;
    ASSERT_EQ(send(), 0);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0], 1000000u);
}

TEST_F(SendFixture, stopCodeIsGivenUpAfterFiveTries) {
    machine.line.PtpStop = 0x14;
    addFile("A.NC", "G1\n");
    line().failWritesAfter(3);
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(wire(), "G1\n");
    // open 1 s; five failed writes of 20 ms with 500 ms between them; close settles 1 s.
    EXPECT_EQ(clock.now(), 1000000u + 5 * 20000u + 4 * 500000u + 1000000u);
    const auto texts = logTexts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 3], "     : [DC4] Send...");
    EXPECT_EQ(texts.back(), "==== Completed Send [3] byte ====");
}

TEST_F(SendFixture, stopCodeTriesEndOnInterrupt) {
    machine.line.PtpStop = 0x14;
    addFile("A.NC", "G1\n");
    line().failWritesAfter(3);
    // Successful writes take no time here: the first failed try moves the clock.
    host.onPump = [this] {
        if (clock.now() > 1000000u)
            state.InterruptRequest = 1;
    };
    ASSERT_EQ(send(), 0);
    // one failed try, no pause
    EXPECT_EQ(clock.now(), 1000000u + 20000u + 1000000u);
    EXPECT_EQ(finalLine(), "==== Completed Send [3] byte ====");
}

// ---------------------------------------------------------------- failures

TEST_F(SendFixture, portThatDoesNotOpenEndsTheSend) {
    openFails = true;
    addFile("A.NC", "G1\n");
    EXPECT_EQ(send(), 1002);
    EXPECT_EQ(wire(), "");
    EXPECT_EQ(logTexts(), (std::vector<std::string>{"\f", "", "==== Interrupted Send ===="}));
    EXPECT_EQ(host.notices, (std::vector<std::pair<uint32_t, uint32_t>>{{12, 0}, {2, 0}}));
    EXPECT_EQ(host.errors.size(), 1u);
    EXPECT_FALSE(state.TransferRunning);
}

TEST_F(SendFixture, deletedSecondFileStopsTheListWithoutTrailers) {
    machine.line.PtpStop = 0x14;
    machine.config.ErCode = 3;
    machine.config.PtpNull[2] = 1;
    machine.config.PtpSpace[1] = 2;
    addFile("A.NC", "G1\n");
    const std::string gone = (folder / "GONE.NC").string();
    listFile(gone, 10);
    addFile("C.NC", "G3\n");
    EXPECT_EQ(send(), 1001);
    EXPECT_EQ(wire(), "%G1\n");
    EXPECT_EQ(finalLine(), "==== Can not open the file [" + gone + "] ====");
    EXPECT_EQ(host.notices.back(), (std::pair<uint32_t, uint32_t>{2, 0}));
    EXPECT_EQ(leftTempCopies(), 0);
    EXPECT_EQ(queue.Position, 0);
}

struct InterruptCase {
    const char* name;
    std::string when; // the wire content at which the interrupt is requested
    std::string wire;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.name;
}

class InterruptMidFile : public SendFixture, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(InterruptMidFile, stopsAfterTheBlockWithoutTrailers) {
    machine.line.PtpStop = 0x14;
    machine.config.ErCode = 3;
    addFile("A.NC", "G1\nG2\nG3\n");
    const std::string when = GetParam().when;
    afterWrite = [this, when] {
        if (wire() == when)
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(send(), 1018);
    EXPECT_EQ(wire(), GetParam().wire);
    EXPECT_EQ(finalLine(), "==== Interrupted Send ====");
    EXPECT_EQ(host.notices.back(), (std::pair<uint32_t, uint32_t>{2, 0}));
    EXPECT_EQ(host.notices[host.notices.size() - 2], (std::pair<uint32_t, uint32_t>{12, 0}));
    EXPECT_EQ(leftTempCopies(), 0);
    EXPECT_FALSE(state.TransferRunning);
}

INSTANTIATE_TEST_SUITE_P(Points, InterruptMidFile,
                         ::testing::Values(InterruptCase{"betweenBlocks", "%G1\nG2\n", "%G1\nG2\n"},
                                           // the rest of the block is passed over silently
                                           InterruptCase{"insideABlock", "%G1\nG", "%G1\nG"}),
                         caseName);

TEST_F(SendFixture, interruptAmongDroppedLinesIsSeen) {
    addFile("A.NC", "G1\n(A)\n(B)\n(C)\nG2\n");
    int comments = 0;
    host.onPump = [&] {
        if (host.statusOf(StatusActivity) == "(B)" && ++comments == 1)
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(send(), 1018);
    EXPECT_EQ(wire(), "G1\n");
}

TEST_F(SendFixture, interruptDuringTrailersStillCompletes) {
    machine.line.PtpStop = 0x14;
    machine.config.ErCode = 2;
    machine.config.PtpSpace[1] = 3;
    machine.config.PtpNull[1] = 2;
    addFile("A.NC", "G1\n");
    afterWrite = [this] {
        if (wire() == "G1\n%")
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(send(), 0);
    // The spaces and nulls are passed over (and counted); the stop code still goes out.
    EXPECT_EQ(wire(), "G1\n%\x14");
    EXPECT_EQ(finalLine(), "==== Completed Send [9] byte ====");
    EXPECT_EQ(host.notices.back(), (std::pair<uint32_t, uint32_t>{1, 0}));
}

struct HeldCase {
    const char* name;
    std::function<void(MachineDef&)> setup;
    size_t holdAfter; // bytes that go out before CTS drops for good
    int result;
    std::string wire;
};

void PrintTo(const HeldCase& c, std::ostream* os) {
    *os << c.name;
}

class InterruptWhileHeld : public SendFixture, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(InterruptWhileHeld, resultNamesWhereTheSendStopped) {
    machine.line.HandShake = 4;
    if (GetParam().setup)
        GetParam().setup(machine);
    useLine(FlowSettings{false, 0x11, 0x13, true, false});
    line().holdCtsAfter(GetParam().holdAfter, 600000000);
    addFile("A.NC", "G1\n");
    host.onPump = [this] {
        if (!host.flow.empty())
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(send(), GetParam().result);
    EXPECT_EQ(wire(), GetParam().wire);
    EXPECT_EQ(finalLine(), "==== Interrupted Send ====");
    EXPECT_EQ(host.flow.front(), "-----> [CTS] Waiting for a signal...");
}

INSTANTIATE_TEST_SUITE_P(
    Places, InterruptWhileHeld,
    ::testing::Values(
        HeldCase{"startCode", [](MachineDef& m) { m.line.PtpStart = 0x12; }, 0, 1010, ""},
        HeldCase{"leaderNull", [](MachineDef& m) { m.config.PtpNull[0] = 5; }, 2, 1011, "\0\0"s},
        HeldCase{"leaderSpace", [](MachineDef& m) { m.config.PtpSpace[0] = 5; }, 0, 1012, ""},
        HeldCase{"leaderPercent", [](MachineDef& m) { m.config.ErCode = 1; }, 0, 1013, ""},
        HeldCase{"headLineFeed", [](MachineDef& m) { m.config.HeadLf = 1; }, 0, 1014, ""},
        HeldCase{"leaderUserCode", [](MachineDef& m) { std::strcpy(m.config.PtpUser0, "1214"); }, 1,
                 1015, "\x12"},
        HeldCase{"block", nullptr, 1, 1017, "G"},
        HeldCase{"trailerUserCode", [](MachineDef& m) { std::strcpy(m.config.PtpUser1, "AA"); }, 3,
                 1020, "G1\n"},
        HeldCase{"trailerPercent", [](MachineDef& m) { m.config.ErCode = 2; }, 3, 1021, "G1\n"},
        HeldCase{"trailerSpace", [](MachineDef& m) { m.config.PtpSpace[1] = 1; }, 3, 1022, "G1\n"},
        HeldCase{"trailerNull", [](MachineDef& m) { m.config.PtpNull[1] = 1; }, 3, 1023, "G1\n"}),
    caseName);

TEST_F(SendFixture, heldLineMakesTheSendWaitNotFail) {
    machine.line.HandShake = 4;
    useLine(FlowSettings{false, 0x11, 0x13, true, false});
    line().holdCtsAfter(1, 3000000);
    addFile("A.NC", "G1\n");
    EXPECT_EQ(send(), 0);
    EXPECT_EQ(wire(), "G1\n");
    EXPECT_FALSE(host.flow.empty());
}

} // namespace
} // namespace corvane::testing

namespace corvane::testing {

// An adapter pulled out in the middle of a send: no endless retry of a byte that can never
// go, but the interrupted ending, with the reason told once.
TEST_F(SendFixture, aVanishedDeviceEndsTheSendAsInterrupted) {
    addFile("A.NC", "G00X0\nG01X10\nM30\n");
    line().loseDeviceAfter(8);

    EXPECT_NE(send(), 0);

    EXPECT_EQ(wire(), "G00X0\nG0");
    EXPECT_EQ(host.errors, (std::vector<std::string>{"The connection to the port was lost."}));
    EXPECT_EQ(finalLine(), "==== Interrupted Send ====");
    EXPECT_FALSE(state.TransferRunning);
}

} // namespace corvane::testing

namespace corvane::testing {

// A device file takes a send's bytes in blocks, not one write each. What the engine counted
// as sent must still be in the file when the send ends early, and a disk that refuses the
// last block must not leave a "Completed Send" behind.
class DeviceFileSend : public SendFixture {
protected:
    DeviceFileSend() {
        machine.config.OutofFile = 1;
        ctx.openLine = DefaultLineOpener(LineOptions{});
    }
};

TEST_F(DeviceFileSend, anInterruptKeepsEveryBlockSentSoFarAndNothingMore) {
    host.deviceFile = (folder / "TAPE.TXT").string();
    std::vector<std::string> lines;
    std::string program;
    for (int i = 1; i <= 6000; ++i) {
        lines.push_back("N" + std::to_string(i * 10) + " G01 X" + std::to_string(i) + ".5");
        program += lines.back() + "\n";
    }
    addFile("A.NC", program);
    host.onPump = [this] {
        if (host.log.size() >= 4000)
            state.InterruptRequest = 1;
    };

    EXPECT_EQ(send(), 1018);

    std::ifstream in(host.deviceFile, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    size_t echoed = 0;
    for (const std::string& text : logTexts())
        if (text.size() > 7 && text.compare(5, 2, ": ") == 0)
            ++echoed;
    ASSERT_GT(echoed, 3000u); // well beyond one block of the file
    std::string expected;
    for (size_t i = 0; i < echoed; ++i)
        expected += lines[i] + "\n";
    EXPECT_EQ(file, expected);
    EXPECT_EQ(finalLine(), "==== Interrupted Send ====");
}

TEST_F(DeviceFileSend, aDiskThatRefusesTheLastBlockIsNoCompletedSend) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    host.deviceFile = "/dev/full";
    addFile("A.NC", "G00X0\nM30\n");

    EXPECT_NE(send(), 0);

    EXPECT_EQ(host.errors, (std::vector<std::string>{"The device file could not be written."}));
    EXPECT_EQ(finalLine(), "==== Interrupted Send ====");
    EXPECT_EQ(host.notices.back(), (std::pair<uint32_t, uint32_t>{2, 0}));
}

} // namespace corvane::testing
