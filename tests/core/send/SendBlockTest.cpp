#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>

#include "transfer/SendBlock.h"

namespace corvane {
namespace {

struct BlockCase {
    const char* name;
    std::function<void(MachineConfig&)> setup;
    std::string line;
    const char* expected; // prefix + block as sent, or nullptr when the line is dropped
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

MachineConfig plainConfig() {
    MachineConfig c;
    c.Comment = 0;
    c.SendSpace = 0;
    return c;
}

std::string run(const BlockCase& c, int& number) {
    MachineConfig config = plainConfig();
    if (c.setup)
        c.setup(config);
    if (number < 0)
        number = FirstBlockNumber(config);
    SendBlock block;
    if (!BuildBlock(c.line.data(), c.line.size(), config, number, block))
        return "<dropped>";
    EXPECT_EQ(block.prefixLength, static_cast<int>(std::strlen(block.prefix)));
    EXPECT_EQ(block.length, static_cast<int>(std::strlen(block.text)));
    return std::string(block.prefix) + block.text;
}

const auto comments = [](MachineConfig& c) { c.Comment = 0; };
const auto keepComments = [](MachineConfig& c) { c.Comment = 1; };
const auto blanks = [](MachineConfig& c) { c.SendSpace = 1; };
const auto wordBreak = [](MachineConfig& c) { c.WordBreak = 1; };
const auto numbered = [](MachineConfig& c) {
    c.NnoBase = 10;
    c.NnoIncr = 10;
};
const auto even = [](MachineConfig& c) { c.TVCheck = 1; };
const auto odd = [](MachineConfig& c) { c.TVCheck = 2; };

const BlockCase blockCases[] = {
    {"plain", nullptr, "G00X0", "G00X0\n"},
    {"commentRemoved", comments, "G00X0(MOVE)Y1", "G00X0Y1\n"},
    {"nestedComment", comments, "G0(A(B)C)X1", "G0X1\n"},
    {"strayCloseKeepsText", comments, "G0)X1", "G0X1\n"},
    {"commentOnlyDropped", comments, "(HEADER)", nullptr},
    {"commentOnlyDroppedEvenWithBlanks", [](MachineConfig& c) { c.SendSpace = 1; }, "(HEADER)",
     nullptr},
    {"spacesAndCommentDropped", nullptr, "  (C)", nullptr},
    {"spacesAndCommentSentWithBlanks", blanks, "  (C)", "  \n"},
    {"spacesAndCommentWithBlanksEven",
     [](MachineConfig& c) {
         c.SendSpace = 1;
         c.TVCheck = 1;
     },
     "  (C)", "   \n"},
    {"commentsKept", keepComments, "G00X0(MOVE)", "G00X0(MOVE)\n"},
    {"percentKept", nullptr, "%", "%\n"},
    {"percentDeleted", [](MachineConfig& c) { c.DeleteErCode = 1; }, "%", nullptr},
    {"percentDeletedInsideLine", [](MachineConfig& c) { c.DeleteErCode = 1; }, "G0%X1", "G0X1\n"},
    {"wordBreak", wordBreak, "G01X-10.Y20.", "G01 X-10. Y20.\n"},
    {"wordBreakLowerCaseUntouched", wordBreak, "x10y20", "x10y20\n"},
    {"wordBreakKeepsExistingSpace", wordBreak, "G01 X1", "G01 X1\n"},
    {"wordBreakAfterComment", wordBreak, "G1(C)X2", "G1 X2\n"},
    {"wordBreakNotAfterSpaceInComment", wordBreak, "G1 (C)X2", "G1 X2\n"},
    {"blankDropped", nullptr, "", nullptr},
    {"blankSent", blanks, "", "\n"},
    {"blankEven",
     [](MachineConfig& c) {
         c.SendSpace = 1;
         c.TVCheck = 1;
     },
     "", " \n"},
    {"spacesOnlyDropped", nullptr, "   ", nullptr},
    {"tabIsText", nullptr, "\t", "\t\n"},
    {"numbered", numbered, "G00X0", "N10G00X0\n"},
    {"numberedWordBreak",
     [](MachineConfig& c) {
         c.NnoBase = 10;
         c.NnoIncr = 10;
         c.WordBreak = 1;
     },
     "G00X0", "N10 G00 X0\n"},
    {"numberAfterLeadingSpaces", numbered, "  G0", "N10  G0\n"},
    {"programNumberNotNumbered", numbered, "O1234", "O1234\n"},
    {"blockNumberNotNumbered", numbered, "N5G01", "N5G01\n"},
    {"labelNotNumbered", numbered, "L1", "L1\n"},
    {"percentNotNumbered", numbered, "%", "%\n"},
    {"slashNotNumbered", numbered, "/G0", "/G0\n"},
    {"lowerCaseNotNumbered", numbered, "g0", "g0\n"},
    {"digitNotNumbered", numbered, "1G0", "1G0\n"},
    {"noIncrementNoNumbers",
     [](MachineConfig& c) {
         c.NnoBase = 10;
         c.NnoIncr = 0;
     },
     "G00X0", "G00X0\n"},
    {"evenOddLengthKept", even, "G00X0", "G00X0\n"},
    {"evenEvenLengthPadded", even, "G00X", "G00X \n"},
    {"oddOddLengthPadded", odd, "G00X0", "G00X0 \n"},
    {"oddEvenLengthKept", odd, "G00X", "G00X\n"},
    {"evenCountsPrefix",
     [](MachineConfig& c) {
         c.NnoBase = 10;
         c.NnoIncr = 10;
         c.TVCheck = 1;
     },
     "G00X0", "N10G00X0 \n"},
    {"tvCheckOtherValueIgnored", [](MachineConfig& c) { c.TVCheck = 3; }, "G00X", "G00X\n"},
    {"skipLineDrops", [](MachineConfig& c) { std::strcpy(c.SendSkipLine, "M30"); }, "G00 M030",
     nullptr},
    {"skipFunctionCuts", [](MachineConfig& c) { std::strcpy(c.SendSkipCode, "M08"); },
     "G01 M08 X10", "G01  X10\n"},
    {"skipFunctionEmptiesBlock", [](MachineConfig& c) { std::strcpy(c.SendSkipCode, "M01"); },
     "M01", nullptr},
    {"skipFunctionEmptiedBlockWithBlanks",
     [](MachineConfig& c) {
         std::strcpy(c.SendSkipCode, "M01");
         c.SendSpace = 1;
     },
     "M01", "\n"},
    {"skipFunctionLeavesSpacesNumbered",
     [](MachineConfig& c) {
         std::strcpy(c.SendSkipCode, "M01");
         c.NnoBase = 10;
         c.NnoIncr = 10;
     },
     "M01 G0", "N10 G0\n"},
    {"skipSeesSeparatedWords",
     [](MachineConfig& c) {
         std::strcpy(c.SendSkipCode, "X1");
         c.WordBreak = 1;
     },
     "G0X1Y2", "G0  Y2\n"},
    {"eightBitTextPassesUnchanged", keepComments, "(\xC4\xE9)", "(\xC4\xE9)\n"},
    {"nulByteDroppedRestKept", nullptr, std::string("G0\0X1", 5), "G0X1\n"},
};

class BuildBlockCases : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BuildBlockCases, givesTheBlockOnTheWire) {
    int number = -1;
    const char* expected = GetParam().expected;
    EXPECT_EQ(run(GetParam(), number), expected ? expected : "<dropped>");
}

INSTANTIATE_TEST_SUITE_P(Rules, BuildBlockCases, ::testing::ValuesIn(blockCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BuildBlock, numberRunsOnAndSkipsUnnumberedAndDroppedLines) {
    MachineConfig config = plainConfig();
    config.NnoBase = 10;
    config.NnoIncr = 5;
    int number = FirstBlockNumber(config);
    const char* lines[] = {"G0", "", "O1", "(C)", "G1", "N7G2", "G3"};
    std::string out;
    for (const char* l : lines) {
        SendBlock block;
        if (BuildBlock(l, std::strlen(l), config, number, block))
            out += std::string(block.prefix) + block.text;
    }
    EXPECT_EQ(out, "N10G0\nO1\nN15G1\nN7G2\nN20G3\n");
    EXPECT_EQ(number, 25);
}

TEST(BuildBlock, longestLineWithWordBreaksFitsTheBuffer) {
    // Every letter after a digit takes a separating space: the worst case for the buffer.
    std::string line;
    while (line.size() < SendLineSize - 1)
        line += "1A";
    line.resize(SendLineSize - 1);
    MachineConfig config = plainConfig();
    config.WordBreak = 1;
    config.TVCheck = 2;
    int number = 0;
    SendBlock block;
    ASSERT_TRUE(BuildBlock(line.data(), line.size(), config, number, block));
    EXPECT_EQ(block.text[block.length - 1], '\n');
    EXPECT_LT(block.length, static_cast<int>(SendBlockSize));
    EXPECT_EQ(block.length % 2, 1);
}

TEST(BuildBlock, overlongInputIsCutAtTheBlockBuffer) {
    const std::string line(5000, 'X');
    MachineConfig config = plainConfig();
    config.TVCheck = 1;
    int number = 0;
    SendBlock block;
    ASSERT_TRUE(BuildBlock(line.data(), line.size(), config, number, block));
    EXPECT_EQ(block.text[block.length - 1], '\n');
    EXPECT_LT(block.length, static_cast<int>(SendBlockSize));
    EXPECT_EQ(static_cast<int>(std::strlen(block.text)), block.length);
}

TEST(BuildBlock, numberCounterPastTheTopStopsNumbering) {
    MachineConfig config = plainConfig();
    config.NnoBase = 2147483600;
    config.NnoIncr = 100;
    int number = FirstBlockNumber(config);
    SendBlock block;
    ASSERT_TRUE(BuildBlock("G0", 2, config, number, block));
    EXPECT_STREQ(block.prefix, "N2147483600");
    ASSERT_TRUE(BuildBlock("G1", 2, config, number, block));
    EXPECT_STREQ(block.prefix, "");
}

} // namespace
} // namespace corvane
