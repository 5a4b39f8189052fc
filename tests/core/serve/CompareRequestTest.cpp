// "(CMP=NAME)" in the forms an operator punches, and the programs it must never be found in.

#include <gtest/gtest.h>

#include "serve/CompareRequest.h"

namespace corvane::serve {
namespace {

TEST(CompareRequest, OnlyAHeadOfCommentLinesAsks) {
    struct Case {
        const char* text;
        int scanLines;
        const char* name; // nullptr: not a compare request
        size_t line;
    } const cases[] = {
        {"%\n(CMP=O0012)\nO0012\nG00X0\n%\n", 5, "O0012", 2},
        {"%(CMP=O0012)\nG00X0\n%\n", 5, "O0012", 1},                // on the % line itself
        {"%\r\n( cmp = O0012.NC )\r\nG00X0\r\n", 5, "O0012.NC", 2}, // case, blanks, CR LF
        {"%\nO0012 (CMP=O0012)\nG00X0\n", 5, "O0012", 2},           // after the program number
        {"%\n(FACE)(CMP=O0012)\nG00X0\n", 5, "O0012", 2},           // second comment of a line
        {"%\n\n(PART 7)\n\n(CMP=O0012)\nG00X0\n", 5, "O0012", 5},   // empty lines not counted
        {"%\n(A)\n(B)\n(C)\n(D)\n(E)\n(CMP=O0012)\nG00X0\n", 5, nullptr, 0}, // sixth line
        {"%\n(A)\n(B)\n(C)\n(D)\n(E)\n(CMP=O0012)\nG00X0\n", 6, "O0012", 7},
        {"%\nO0012\nG00X0\n(CMP=O0012)\n", 5, nullptr, 0}, // below the program's body
        {"%\nG00X0 (CMP=O0012)\n", 5, nullptr, 0},         // on a line of the body
        {"%\n(CMP=O1234 REV B)\nG00X0\n", 5, nullptr, 0},  // a title, not a name
        {"%\n(CMP=../lib/O0012)\nG00X0\n", 5, nullptr, 0}, // a path, not a name
        {"%\n(CMP=)\nG00X0\n", 5, nullptr, 0},
        {"%\n(CMP O0012)\nG00X0\n", 5, nullptr, 0},
        {"%\n(COMPARE=O0012)\nG00X0\n", 5, nullptr, 0},
        {"%\n(CMP=O0012\nG00X0\n", 5, nullptr, 0}, // never closed
        {"%\n(REQ=O0012)\n%\n", 5, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto found = findCompareRequest(c.text, c.scanLines);
        ASSERT_EQ(found.has_value(), c.name != nullptr);
        if (!found)
            continue;
        EXPECT_EQ(found->name, c.name);
        EXPECT_EQ(found->line, c.line);
    }
}

TEST(CompareRequest, RepliesAreCommentsThatCannotBeShapedByTheName) {
    EXPECT_EQ(sameReply("O0012"), "%\n(SAME AS O0012)\n%\n");
    EXPECT_EQ(differsReply("O0012.NC", 7), "%\n(DIFFERS FROM O0012.NC AT LINE 7)\n%\n");
    EXPECT_EQ(sameReply("A)(B%"), "%\n(SAME AS A??B?)\n%\n");
}

} // namespace
} // namespace corvane::serve
