// The check made before a send: the first line the send would have to cut, a binary file, and
// the first character that the machine's code cannot carry in a line that goes out.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "transfer/SendFileCheck.h"

namespace corvane {
namespace {

using namespace std::string_literals;

class SendFileCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        MachineDefSetDefaults(machine.line, machine.config);
        char pattern[] = "/tmp/cvn-check-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::remove(path.c_str());
        std::remove(dir.c_str());
    }
    SendFileCheck check(const std::string& content, bool binaryAccepted = false) {
        path = dir + "/P.NC";
        std::ofstream(path, std::ios::binary) << content;
        return CheckSendFile(path.c_str(), machine, binaryAccepted);
    }

    MachineDef machine;
    std::string dir;
    std::string path;
};

TEST_F(SendFileCheckTest, plainProgramPasses) {
    const SendFileCheck result = check("%\r\nO0001 (PART 7)\r\nG01X1.\tY2.\r\nM30\r\n%\r\n");
    EXPECT_EQ(result.fault, SendFileFault::None);
}

TEST_F(SendFileCheckTest, lineOverTheBlockLimitIsNamedWithItsLength) {
    const std::string fits = "G" + std::string(510, '1');
    EXPECT_EQ(check(fits + "\r\n" + fits + "\n").fault, SendFileFault::None);

    const SendFileCheck result = check("%\nG1\n" + fits + "2\r\nG2\n");
    EXPECT_EQ(result.fault, SendFileFault::LineTooLong);
    EXPECT_EQ(result.line, 3);
    EXPECT_EQ(result.length, 512);
    // Even a comment the machine strips: the send would read the line in two pieces.
    machine.config.Comment = 0;
    EXPECT_EQ(check("(" + std::string(600, 'C') + ")\n").fault, SendFileFault::LineTooLong);
    // The last line without a line end counts as well.
    EXPECT_EQ(check("G1\n" + fits + "22").line, 2);
}

TEST_F(SendFileCheckTest, nulByteMarksABinaryFileUnlessAccepted) {
    const SendFileCheck result = check("G1\nG2\nX\0Y\n"s);
    EXPECT_EQ(result.fault, SendFileFault::Binary);
    EXPECT_EQ(result.line, 3);
    EXPECT_EQ(check("G1\nX\0Y\n"s, true).fault, SendFileFault::None);
    // Accepting the NUL does not let the rest through on a 7-bit line.
    EXPECT_EQ(check("\0\x89PNG\n"s, true).fault, SendFileFault::NotCarried);
}

// A Japanese comment in UTF-8 or Shift-JIS: on ISO (7 bits) the control would read 0x8A as an
// end of block and 0xA5 as a %. The line and column of the first such byte are named.
TEST_F(SendFileCheckTest, nonAsciiOnASevenBitLineIsNamed) {
    machine.config.Comment = 1; // comments go out
    const std::string utf8 = "G01 (\xE5\x8A\xA0\xE5\xB7\xA5)\n";
    const std::string sjis = "G01 (\x89\xC1\x8D\x48)\n";
    for (const std::string& line : {utf8, sjis}) {
        const SendFileCheck result = check("%\n" + line + "M30\n");
        EXPECT_EQ(result.fault, SendFileFault::NotCarried);
        EXPECT_EQ(result.line, 2);
        EXPECT_EQ(result.column, 6);
    }
    // ASCII on a 7-bit frame is the same; on 8 bits the bytes go out as they are.
    machine.line.OutCode = 2;
    machine.line.DataLen = 0;
    EXPECT_EQ(check(utf8).fault, SendFileFault::NotCarried);
    machine.line.DataLen = 1;
    EXPECT_EQ(check(utf8).fault, SendFileFault::None);
}

TEST_F(SendFileCheckTest, commentTheMachineStripsIsNoHarm) {
    machine.config.Comment = 0;
    EXPECT_EQ(check("G01 (\xE5\x8A\xA0\xE5\xB7\xA5)\nM30\n").fault, SendFileFault::None);
    EXPECT_EQ(check("(\xE5\x8A\xA0)\n").fault, SendFileFault::None);
    // Outside the comment it still counts.
    EXPECT_EQ(check("G01 (\xE5\x8A\xA0) X\xE5\n").fault, SendFileFault::NotCarried);
}

// EIA has no lower-case letters: they would go out as blank tape, lost without a word.
TEST_F(SendFileCheckTest, eiaRefusesWhatHasNoHolePattern) {
    machine.line.OutCode = 1;
    EXPECT_EQ(check("G01 X1.5 Y-2.\nM30\n").fault, SendFileFault::None);
    const SendFileCheck result = check("G01\ng01 x1.\n");
    EXPECT_EQ(result.fault, SendFileFault::NotCarried);
    EXPECT_EQ(result.line, 2);
    EXPECT_EQ(result.column, 1);
}

TEST_F(SendFileCheckTest, missingFileIsLeftToTheSend) {
    path = dir + "/GONE.NC";
    EXPECT_EQ(CheckSendFile(path.c_str(), machine).fault, SendFileFault::NotRead);
}

TEST_F(SendFileCheckTest, messagesNameFileLineAndCode) {
    const std::string text =
        DescribeSendFileCheck(SendFileCheck{SendFileFault::NotCarried, 12, 7, 0}, "/x/P.NC",
                              machine.line, Language::English);
    EXPECT_NE(text.find("/x/P.NC, line 12, column 7"), std::string::npos) << text;
    EXPECT_NE(text.find("ISO code"), std::string::npos) << text;
    EXPECT_NE(text.find("end of block or a %,"), std::string::npos) << text;
    const std::string longText =
        DescribeSendFileCheck(SendFileCheck{SendFileFault::LineTooLong, 3, 0, 600}, "P.NC",
                              machine.line, Language::Japanese);
    EXPECT_NE(longText.find("P.NC の 3 行目"), std::string::npos) << longText;
    EXPECT_NE(longText.find("600"), std::string::npos) << longText;
    EXPECT_TRUE(
        DescribeSendFileCheck(SendFileCheck{}, "P.NC", machine.line, Language::English).empty());
}

} // namespace
} // namespace corvane
