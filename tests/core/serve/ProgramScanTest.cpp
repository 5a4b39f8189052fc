// The program number and the request comment, in the forms an operator punches.

#include <gtest/gtest.h>

#include "serve/ProgramScan.h"

namespace corvane::serve {
namespace {

TEST(ProgramNumber, FoundInTheFirstLinesAndKeptAsWritten) {
    struct Case {
        const char* text;
        int scanLines;
        const char* expected;
    } const cases[] = {
        {"%\r\nO0012 (PART)\r\nG00X0\r\n%\r\n", 5, "O0012"},
        {"%O0012\nG00X0\n", 5, "O0012"},                    // on the % line itself
        {"O12345678\n", 5, "O12345678"},                    // eight digits
        {"O123456789\n", 5, ""},                            // nine is not a program number
        {"O\nG00\n", 5, ""},                                // no digits
        {"o0012\n", 5, ""},                                 // lower case is not the O word
        {"G00 O0012\n", 5, ""},                             // not at the start of the line
        {"%\n\n\n(A)\n(B)\n(C)\n(D)\n(E)\nO0099\n", 5, ""}, // the sixth non-empty line
        {"%\n\n\n(A)\n(B)\n(C)\n(D)\n(E)\nO0099\n", 6, "O0099"},
        {"%\n\n\n(A)\n(B)\n(C)\n(D)\nO0099\n", 5, "O0099"}, // a bare % line does not count
        {"(A)\n  O0007\n", 5, "O0007"},                     // leading blanks set aside
        {"O1X2\n", 5, "O1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(programNumber(c.text, c.scanLines), c.expected) << c.text;
}

TEST(RemoteRequest, KeywordsBlanksAndCase) {
    struct Case {
        const char* text;
        const char* expected; // nullptr: no request
    } const cases[] = {
        {"%\n(REQ=O0012)\n%\n", "O0012"},
        {"%\n(PRG=DIRLIST)\n%\n", "DIRLIST"},
        {"%\n(req = 12 )\n%\n", "12"},
        {"%\nO0001 (Prg=PART-7.NC)\n%\n", "PART-7.NC"},
        {"%\n(NOTE)(REQ=A1)\n%\n", "A1"},                      // the second comment on a line
        {"%\n(REQ=../../etc/passwd)\n", "../../etc/passwd"},   // found; refused later
        {"%\n(REQUEST O12)\n%\n", nullptr},                    // no "="
        {"%\nG01 X1 REQ=O12\n%\n", nullptr},                   // not in a comment
        {"%\n(A)\n(B)\n(C)\n(D)\n(E)\n(REQ=LATE)\n", nullptr}, // past the fifth line
        {"%\n(REQ=)\n%\n", ""},                                // empty: refused later
        {"%\n(REQ=O7\n%\n", "O7"},                             // left open: to the line's end
        {"%\n(REQ = A1 (NOTE)\n", "A1"},                       // the next comment ends it
        {"%\n(NOTE (REQ=B2)\n", "B2"},                         // found in the inner comment
    };
    for (const Case& c : cases) {
        const auto request = findRequest(c.text, DefaultScanLines);
        if (c.expected == nullptr) {
            EXPECT_FALSE(request) << c.text;
        } else {
            ASSERT_TRUE(request) << c.text;
            EXPECT_EQ(request->name, c.expected) << c.text;
        }
    }
}

TEST(RemoteRequest, AWordAfterTheNameIsTheRestartPlace) {
    struct Case {
        const char* text;
        const char* name;
        const char* restart;
    } const cases[] = {
        {"%\n(REQ=O1234 T5)\n%\n", "O1234", "T5"},
        {"%\n(REQ = O1234   N5230 )\n%\n", "O1234", "N5230"},
        {"%\n(PRG=O1234\tT2:3)\n%\n", "O1234", "T2:3"},
        {"%\n(REQ=O1234)\n%\n", "O1234", ""},
        {"%\n(REQ=O1234 N1 X)\n%\n", "O1234", "N1 X"}, // refused later as a place
    };
    for (const Case& c : cases) {
        const auto request = findRequest(c.text, DefaultScanLines);
        ASSERT_TRUE(request) << c.text;
        EXPECT_EQ(request->name, c.name) << c.text;
        EXPECT_EQ(request->restart, c.restart) << c.text;
    }
}

TEST(LibraryName, OnlyPlainNamesPass) {
    for (const char* good : {"O0012", "O0012.NC", "part_7-b.nc", "12", "a.b.c"})
        EXPECT_TRUE(isLibraryName(good)) << good;
    for (const char* bad :
         {"", ".", "..", "../x", "a/b", "a\\b", "/etc/passwd", "a..b", "a b", "a:b", "a(b",
          "\xC3\xA9t\xC3\xA9", "0123456789012345678901234567890123456789012345678901234567890123x"})
        EXPECT_FALSE(isLibraryName(bad)) << bad;
}

TEST(LibraryName, ReplyTextCannotEndItsComment) {
    EXPECT_EQ(commentSafe("../../etc/passwd"), "../../etc/passwd");
    EXPECT_EQ(commentSafe("A)(B%\x01"), "A??B??");
    EXPECT_EQ(commentSafe(std::string(50, 'X')).size(), 32u);
    EXPECT_TRUE(isDirectoryListRequest("dirList"));
    EXPECT_FALSE(isDirectoryListRequest("DIRLIST.NC"));
}

} // namespace
} // namespace corvane::serve
