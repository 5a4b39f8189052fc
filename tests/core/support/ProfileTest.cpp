#include "support/Profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "TempDir.h"
#include "support/IniFile.h"

namespace corvane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(Profile, parseIntReadsLikeAtoiAndHoldsAtTheLimits) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"42", 42},
        {"  \t-17", -17},
        {"+5", 5},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"0x1F", 0},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"2147483648", 2147483647},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", 2147483647},
        {"-99999999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProfileParseInt(c.text), c.expected) << c.text;
    }
}

TEST(Profile, textIsCutWithItsTerminator) {
    IniFile ini = IniFile::parse("[s]\nk=abcdef\n");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ProfileGetValue(ini, "s", "k", ProfileText, buffer, 4), 1);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');
}

TEST(Profile, missingFileOrKeyLeavesTheDestinationAlone) {
    TempDir dir;
    std::string path = dir.file("m.mdf");
    char text[8] = "keep";
    int32_t numbers[2] = {5, 6};
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "s", "k", ProfileText, text, 8), 0);
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "s", "k", ProfileIntegers, numbers, 2), 0);
    writeFile(path, "[s]\nother=1\n");
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "s", "k", ProfileText, text, 8), 0);
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "s", "k", ProfileIntegers, numbers, 2), 0);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(numbers[0], 5);
    EXPECT_EQ(numbers[1], 6);
}

TEST(Profile, integerListsReadWithEitherSeparator) {
    const struct {
        const char* value;
        int count;
        std::vector<int32_t> expected; // from a list first filled with 9
    } cases[] = {
        {"1,2;3", 5, {1, 2, 3, 9, 9}}, {"1,2;3,4", 3, {1, 2, 3}},
        {"7", 3, {7, 9, 9}},           {"", 3, {0, 0, 0}},
        {"\"\"", 2, {0, 0}},           {" 4 , -5 ;x", 3, {4, -5, 0}},
        {";", 3, {0, 0, 9}},
    };
    for (const auto& c : cases) {
        IniFile ini = IniFile::parse(std::string("[s]\nk=") + c.value + "\n");
        std::vector<int32_t> values(static_cast<size_t>(c.count), 9);
        EXPECT_EQ(ProfileGetValue(ini, "s", "k", ProfileIntegers, values.data(), c.count), 1);
        EXPECT_EQ(values, c.expected) << c.value;
    }
}

TEST(Profile, textsComeBackExactlyAsWritten) {
    const char* texts[] = {"",      "plain",     "  leading",   "trailing  ", "\"quoted\"",
                           "\"",    "a\"b\"",    "\"open",      "\t tab ",    "x=y",
                           ";semi", "[bracket]", "C:\\NC\\a.nc"};
    TempDir dir;
    std::string path = dir.file("t.ini");
    for (const char* text : texts) {
        ASSERT_EQ(WexSetProfileValue(path.c_str(), "Sec", "Key", ProfileText, text,
                                     static_cast<int>(std::strlen(text)) + 1),
                  1);
        char back[64] = "untouched";
        EXPECT_EQ(WexGetProfileValue(path.c_str(), "sec", "key", ProfileText, back, 64), 1);
        EXPECT_STREQ(back, text);
    }
}

TEST(Profile, writesPlainTextUnlessQuotesAreNeeded) {
    const struct {
        const char* value;
        const char* stored;
    } cases[] = {
        {"plain text", "plain text"}, {" lead", "\" lead\""}, {"trail\t", "\"trail\t\""},
        {"\"both\"", "\"\"both\"\""}, {"\"open", "\"open"},   {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProfileQuoteText(c.value), c.stored) << c.value;
    }
}

TEST(Profile, writesIntegerListsJoinedBySemicolons) {
    TempDir dir;
    std::string path = dir.file("n.ini");
    int32_t values[3] = {1, -2, 2147483647};
    ASSERT_EQ(WexSetProfileValue(path.c_str(), "s", "k", ProfileIntegers, values, 3), 1);
    EXPECT_EQ(readFile(path), "[s]\nk=1;-2;2147483647\n");
}

TEST(Profile, readsAndKeepsFilesWrittenOnWindows) {
    TempDir dir;
    std::string path = dir.file("OLD.MDF");
    writeFile(path, "[MCN_RS232C]\r\nPortNo=0\r\nMcnName=LATHE 0M\r\n\r\n[MCN_PTP]\r\n"
                    "Path=C:\\NC\\PROG\r\n");
    char name[32] = {};
    int32_t port = -1;
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "mcn_rs232c", "McnName", ProfileText, name, 32), 1);
    EXPECT_STREQ(name, "LATHE 0M");
    EXPECT_EQ(WexGetProfileValue(path.c_str(), "MCN_RS232C", "PortNo", ProfileIntegers, &port, 1),
              1);
    EXPECT_EQ(port, 0);
    port = 3;
    ASSERT_EQ(WexSetProfileValue(path.c_str(), "MCN_RS232C", "PortNo", ProfileIntegers, &port, 1),
              1);
    EXPECT_EQ(readFile(path), "[MCN_RS232C]\r\nPortNo=3\r\nMcnName=LATHE 0M\r\n\r\n[MCN_PTP]\r\n"
                              "Path=C:\\NC\\PROG\r\n");
}

TEST(Profile, setFailsWhenTheFolderIsMissing) {
    TempDir dir;
    std::string path = dir.file("missing/x.ini");
    int32_t value = 1;
    EXPECT_EQ(WexSetProfileValue(path.c_str(), "s", "k", ProfileIntegers, &value, 1), 0);
    EXPECT_EQ(WexSetProfileValue(nullptr, "s", "k", ProfileIntegers, &value, 1), 0);
    EXPECT_EQ(WexSetProfileValue(dir.file("x.ini").c_str(), "s", "k", 3, &value, 1), 0);
    EXPECT_EQ(WexSetProfileValue(dir.file("x.ini").c_str(), "s", " ", 2, &value, 1), 0);
}

TEST(Profile, setReadsTextOnlyWithinItsBuffer) {
    IniFile ini;
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    ProfileSetValue(ini, "s", "k", ProfileText, unterminated, 4);
    EXPECT_EQ(ini.get("s", "k"), "abcd");
}

} // namespace
} // namespace corvane
