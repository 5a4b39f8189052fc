#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "transfer/SkipFilter.h"

using namespace corvane;

namespace {

struct Applied {
    std::string block;
    int length;
};

Applied apply(const std::string& block, const char* skipLine, const char* skipCode) {
    std::vector<char> buffer(block.begin(), block.end());
    buffer.push_back('\0');
    buffer.push_back('#'); // a byte after the terminator that must never appear
    const int n = ApplySkipRules(buffer.data(), skipLine, skipCode);
    EXPECT_EQ(buffer.back(), '#');
    return {std::string(buffer.data()), n};
}

} // namespace

TEST(SkipFilter, blocksAndRules) {
    struct Case {
        const char* block;
        const char* skipLine; // nullptr: absent
        const char* skipCode;
        const char* expected;
    };
    const Case cases[] = {
        // Skip line: address words by value, not by spelling.
        {"M30", "M30", nullptr, ""},
        {"G00 M030", "M30", nullptr, ""},
        {"M300", "M30", nullptr, "M300"},
        {"G01 M1.5", "M1", nullptr, "G01 M1.5"},
        {"G01 M1.", "M1", nullptr, ""},
        {"G01 M1.0", "M1", nullptr, ""},
        {"M01", "M1", nullptr, ""},
        {"M10", "M1", nullptr, "M10"},
        {"N10 M1.0005", "M1", nullptr, ""}, // within 0.001
        {"N10 M1.002", "M1", nullptr, "N10 M1.002"},
        // Plain text anywhere.
        {"/N10 G00", "/", nullptr, ""},
        {"G00 X1 /", "/", nullptr, ""},
        {"G00 X1", "/", nullptr, "G00 X1"},
        {"(MSG hello)", "(MSG", nullptr, ""},
        // Skip function: every occurrence, leftmost first, spaces stay.
        {"G01 M08 X10", nullptr, "M08", "G01  X10"},
        {"M01 M00 M01", nullptr, "M01,M00", "  "},
        {"G01X10.5Y3X-2", nullptr, "X*", "G01Y3"},
        {"G01 m08 M08", nullptr, "m08", "G01  M08"},
        {"G01 M08", nullptr, "m08", "G01 M08"},
        // A cut that brings two pieces together makes a new match.
        {"M/08 G1", nullptr, "/,M08", " G1"},
        {"ABCBCD", nullptr, "BC", "AD"},
        // The wildcard is a letter and '*' exactly; '*' in a block is never a number.
        {"G01 X*5 X5", nullptr, "X*5", "G01  X5"},
        {"G01 X* Y2", nullptr, "X*", "G01 X* Y2"},
        {"G01 X* Y2", "X*", nullptr, "G01 X* Y2"},
        // Numbers with exponents are read whole.
        {"X1E2 Y1", nullptr, "X100", " Y1"},
        {"X1E Y1", nullptr, "X1", "E Y1"}, // no digits after E: the E is not part of X
        // A letter with only a sign or a point is a word of the letter alone, value 0.
        {"X- Y1", nullptr, "X0", "- Y1"},
        {"X. Y1", nullptr, "X0", ". Y1"},
        // An empty item ends the list.
        {"M01 M02", nullptr, "M01,,M02", " M02"},
        {"M01 M02", nullptr, "M01, ,M02", " M02"},
        {"M01 M02", nullptr, ",M01", "M01 M02"},
        {"M01 M02", nullptr, "", "M01 M02"},
        {"M01 M02", nullptr, "  M02  ", "M01 "},
        // The line rule wins over the function rule.
        {"M01 M30", "M30", "M01", ""},
        {"M01", "M30", "M01", ""},
        {"M01 M02", "M30", "M01", " M02"},
        // Items of a letter alone, or a letter and a letter, are plain text.
        {"GOTO X1", nullptr, "GO", "TO X1"},
        {"X1 X2", nullptr, "X", "1 2"},
        // Values that are no plain decimal number: hexadecimal and infinity/NaN spellings
        // must not swallow the words after them.
        {"G0X10.", nullptr, "X10", "G0"},
        {"G0X10.", nullptr, "G0", "X10."},
        {"G0X10.", "G16", nullptr, "G0X10."},
        {"X-INF", nullptr, "X0", "-INF"},
        {"X+NAN Y1", nullptr, "X0", "+NAN Y1"},
        // Nothing to do.
        {"", "M30", "M01", ""},
        {"G01", nullptr, nullptr, "G01"},
    };
    for (const Case& c : cases) {
        const Applied a = apply(c.block, c.skipLine, c.skipCode);
        EXPECT_EQ(a.block, c.expected)
            << "block '" << c.block << "' line '" << (c.skipLine ? c.skipLine : "-") << "' code '"
            << (c.skipCode ? c.skipCode : "-") << "'";
        EXPECT_EQ(a.length, static_cast<int>(std::strlen(c.expected))) << c.block;
    }
}

TEST(SkipFilter, listItemsAreTrimmedAndCutToTheBuffer) {
    char out[6];
    EXPECT_EQ(GetListItem(" M01 ,\tM02\t, x ", ',', 0, out, sizeof out), 1);
    EXPECT_STREQ(out, "M01");
    EXPECT_EQ(GetListItem(" M01 ,\tM02\t, x ", ',', 1, out, sizeof out), 1);
    EXPECT_STREQ(out, "M02");
    EXPECT_EQ(GetListItem(" M01 ,\tM02\t, x ", ',', 2, out, sizeof out), 1);
    EXPECT_STREQ(out, "x");
    EXPECT_EQ(GetListItem(" M01 ,\tM02\t, x ", ',', 3, out, sizeof out), 0);
    EXPECT_EQ(GetListItem("a,,b", ',', 1, out, sizeof out), 0);
    EXPECT_EQ(GetListItem("abcdefghij", ',', 0, out, sizeof out), 1);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(GetListItem(nullptr, ',', 0, out, sizeof out), 0);
}

TEST(SkipFilter, addressWordsAndTheirLengths) {
    struct Case {
        const char* text;
        bool wildcard;
        int length;
        char letter;
        double value;
        bool any;
    };
    const Case cases[] = {
        {"M1", true, 2, 'M', 1.0, false},      {"M01 rest", false, 3, 'M', 1.0, false},
        {"G0 1", true, 2, 'G', 0.0, false},    {"X-1.5Y", false, 5, 'X', -1.5, false},
        {"X+.5", false, 4, 'X', 0.5, false},   {"X1E2", false, 4, 'X', 100.0, false},
        {"X1e-2", false, 5, 'X', 0.01, false}, {"X1E+", false, 2, 'X', 1.0, false},
        {"X-", false, 1, 'X', 0.0, false},     {"X.", false, 1, 'X', 0.0, false},
        {"X0x1p3", false, 2, 'X', 0.0, false}, {"X*", true, 2, 'X', 0.0, true},
        {"X*", false, 0, 0, 0.0, false},       {"X*5", true, 0, 0, 0.0, false},
        {"x1", true, 0, 0, 0.0, false},        {"XY", true, 0, 0, 0.0, false},
        {"X", true, 0, 0, 0.0, false},         {"", true, 0, 0, 0.0, false},
    };
    for (const Case& c : cases) {
        char letter = '?';
        double value = -7.0;
        bool any = true;
        EXPECT_EQ(ParseAddressWord(c.text, &letter, &value, &any, c.wildcard), c.length) << c.text;
        if (c.length > 0) {
            EXPECT_EQ(letter, c.letter) << c.text;
            EXPECT_DOUBLE_EQ(value, c.value) << c.text;
            EXPECT_EQ(any, c.any) << c.text;
        }
    }
}

TEST(SkipFilter, numbersBeyondADoubleBecomeInfinityOrZeroLikeTheCLibrary) {
    char letter = 0;
    double value = 0.0;
    bool any = false;
    EXPECT_EQ(ParseAddressWord("X1E999", &letter, &value, &any, false), 6);
    EXPECT_TRUE(std::isinf(value));
    EXPECT_EQ(ParseAddressWord("X-1E999", &letter, &value, &any, false), 7);
    EXPECT_TRUE(std::isinf(value) && value < 0);
    EXPECT_EQ(ParseAddressWord("X1E-999", &letter, &value, &any, false), 7);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(ParseAddressWord("X0.0001E-400", &letter, &value, &any, false), 12);
    EXPECT_EQ(value, 0.0);
}

TEST(SkipFilter, findTriesEveryOccurrenceOfTheLetterFromTheLeft) {
    int length = 0;
    EXPECT_EQ(FindAddressWord("XA X5 X05", 'X', 5.0, false, &length), 3);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(FindAddressWord("XA X-5", 'X', 0.0, true, &length), 3);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(FindAddressWord("XA", 'X', 0.0, true, &length), -1);
    EXPECT_EQ(FindAddressWord("", 'X', 0.0, true, &length), -1);
}

TEST(SkipFilter, aLongBlockWithManyCutsStaysWithinItsBuffer) {
    std::string block;
    for (int i = 0; i < 200; ++i)
        block += "M08X1/";
    const Applied a = apply(block, nullptr, "M8,X*");
    EXPECT_EQ(a.block, std::string(200, '/'));
    EXPECT_EQ(a.length, 200);
}
