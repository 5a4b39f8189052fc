// How an operator names a restart place, and how a line of a program is read into words.

#include <gtest/gtest.h>

#include "restart/NcBlock.h"
#include "restart/RestartPlace.h"

namespace corvane {
namespace {

TEST(RestartPlace, toolBlockAndLineFormsAreReadAndEverythingElseRefused) {
    struct Row {
        const char* text;
        bool ok;
        RestartPlace::Kind kind;
        long number;
        long occurrence;
    };
    const Row rows[] = {
        {"T2", true, RestartPlace::Kind::Tool, 2, 1},
        {"t12:3", true, RestartPlace::Kind::Tool, 12, 3},
        {"N5230", true, RestartPlace::Kind::Block, 5230, 1},
        {"L14", true, RestartPlace::Kind::Line, 14, 1},
        {"T02", true, RestartPlace::Kind::Tool, 2, 1},
        {"L0", false, {}, 0, 0},
        {"T", false, {}, 0, 0},
        {"T2:", false, {}, 0, 0},
        {"T2:0", false, {}, 0, 0},
        {"T2:1x", false, {}, 0, 0},
        {"N12:2", false, {}, 0, 0},
        {"N-5", false, {}, 0, 0},
        {"X10", false, {}, 0, 0},
        {"L1234567890", false, {}, 0, 0},
        {"", false, {}, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        RestartPlace place;
        ASSERT_EQ(ParseRestartPlace(row.text, place), row.ok);
        if (!row.ok)
            continue;
        EXPECT_EQ(place.kind, row.kind);
        EXPECT_EQ(place.number, row.number);
        EXPECT_EQ(place.occurrence, row.occurrence);
    }
    RestartPlace place;
    ASSERT_TRUE(ParseRestartPlace("t2:3", place));
    EXPECT_EQ(place.text, "T2:3");
}

TEST(NcBlock, wordsCommentsAndMacroConstructs) {
    NcBlock block = ParseNcBlock("N10 G00 X1.5 Y-2 (CUT; DEEP) Z+3. ; a note X9");
    ASSERT_EQ(block.words.size(), 5u);
    EXPECT_EQ(block.words[0].letter, 'N');
    EXPECT_EQ(block.words[2].text, "1.5");
    EXPECT_DOUBLE_EQ(block.words[3].value, -2.0);
    EXPECT_DOUBLE_EQ(block.words[4].value, 3.0);
    EXPECT_TRUE(block.hasG("0"));
    EXPECT_FALSE(block.hasG("1"));
    EXPECT_TRUE(block.macro.empty());

    block = ParseNcBlock("g54.1 p3 m6");
    EXPECT_TRUE(block.hasG("54.1"));
    EXPECT_TRUE(block.hasM("6"));
    EXPECT_EQ(block.find('P')->text, "3");

    EXPECT_TRUE(ParseNcBlock("/M01").blockDelete);
    EXPECT_TRUE(ParseNcBlock("%").percent);
    EXPECT_TRUE(ParseNcBlock("  (ONLY A COMMENT)").empty());
    EXPECT_EQ(ParseNcBlock("#100=5").macro, "#");
    EXPECT_EQ(ParseNcBlock("G01 X#100").macro, "#");
    EXPECT_EQ(ParseNcBlock("G01 X[1+2]").macro, "[");
    EXPECT_EQ(ParseNcBlock("IF[#1EQ0]GOTO10").macro, "IF");
    EXPECT_EQ(ParseNcBlock("WHILE[#1LT5]DO1").macro, "WHILE");
    EXPECT_EQ(ParseNcBlock("GOTO 20").macro, "GOTO");
    // An unclosed comment runs to the end of the line.
    EXPECT_EQ(ParseNcBlock("G01 X1 (OPEN X5").words.size(), 2u);
}

TEST(NcBlock, codesAreComparedWithoutLeadingZeros) {
    EXPECT_EQ(NormalCode("00"), "0");
    EXPECT_EQ(NormalCode("03"), "3");
    EXPECT_EQ(NormalCode("054.1"), "54.1");
    EXPECT_EQ(NormalCode("0.5"), "0.5");
    EXPECT_EQ(NormalCode("100"), "100");
}

} // namespace
} // namespace corvane
