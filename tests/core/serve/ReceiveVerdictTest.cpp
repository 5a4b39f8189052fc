// Which received texts are requests, and which time-ended receives are whole programs.

#include <gtest/gtest.h>

#include <string>

#include "serve/ReceiveVerdict.h"

namespace corvane::serve {
namespace {

TEST(ReceiveVerdict, OnlyShortCommentOnlyTextsAreRequests) {
    std::string program = "%\nO6001\n(PRG=BRACKET.NC OP20 FIXTURE B)\n";
    for (int i = 0; i < 2000; ++i)
        program += "G01 X" + std::to_string(i) + " Y1.\n";
    program += "M30\n%\n";
    struct Case {
        std::string text;
        bool request;
    } const cases[] = {
        {"%\n(REQ=O0012)\n%\n", true},
        {"%\nO0001 (PRG=PART-7.NC)\n%\n", true},
        {"%\r\n(NOTE)(REQ=A1)\r\n%\r\n", true},
        {"%\n(PRG=X)\nG00 X0\n%\n", false},                   // a motion word: a program
        {"%\n(PRG=X)\n(A)\n(B)\n(C)\n(D)\n%\n", false},       // five comment lines: too many
        {"%\n(REQ=X\n%\n", false},                            // an unclosed comment
        {program, false},                                     // a real program naming itself
        {"%\n" + std::string(300, ' ') + "(REQ=X)\n", false}, // over the byte bound
        {"%\n%\n", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isRequestShaped(c.text), c.request) << c.text.substr(0, 60);
}

TEST(ReceiveVerdict, ATimeEndedReceiveIsWholeOnlyWithItsClosingPercent) {
    EXPECT_TRUE(endsAsProgram("G00X0\nM30\n%\n"));
    EXPECT_TRUE(endsAsProgram("G00X0\nM30\n%\r\n\x14\0\0"));
    EXPECT_FALSE(endsAsProgram("%\nO2001\nG01 X1"));   // stopped mid-program
    EXPECT_FALSE(endsAsProgram("%\nO2001\nG01 X1\n")); // stopped at a line end
    EXPECT_FALSE(endsAsProgram("%\n"));                // only the leading %
    EXPECT_FALSE(endsAsProgram(""));
}

} // namespace
} // namespace corvane::serve
