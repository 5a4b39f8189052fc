// Two versions of a program: the verdict (same, how many lines, where first), the unified diff
// text, and that `patch` turns the older into the newer with it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "TempDir.h"
#include "support/ProgramDiff.h"

namespace corvane {
namespace {

CompareOptions opts(bool comments, bool blankLines, bool spaces) {
    CompareOptions o;
    o.ignoreComments = comments;
    o.ignoreBlankLines = blankLines;
    o.ignoreSpaces = spaces;
    return o;
}

struct VerdictCase {
    const char* what;
    const char* older;
    const char* newer;
    CompareOptions options;
    bool identical;
    size_t differing;
    size_t first;
};

TEST(ProgramDiff, VerdictsCountChangedLinesOnceAndNameTheFirstLineOfTheNewer) {
    const CompareOptions strict;
    const VerdictCase cases[] = {
        {"same text", "%\nO1\nG00 X0\n%\n", "%\nO1\nG00 X0\n%\n", strict, true, 0, 0},
        {"CR LF against LF", "%\nO1\nG00 X0\n%\n", "%\r\nO1\r\nG00 X0\r\n%\r\n", strict, true, 0,
         0},
        {"blanks at a line's end (tape vertical check)", "G00 X0\nM30\n", "G00 X0 \nM30\t\n",
         strict, true, 0, 0},
        {"no line end after the last line", "G00 X0\nM30\n", "G00 X0\nM30", strict, true, 0, 0},
        {"one line changed", "%\nO1\nG00 X0\nM30\n%\n", "%\nO1\nG00 X1\nM30\n%\n", strict, false, 1,
         3},
        {"blanks at a line's start count", "G00 X0\n", " G00 X0\n", strict, false, 1, 1},
        {"one line added", "%\nG00 X0\nM30\n%\n", "%\nG00 X0\nG01 Y1\nM30\n%\n", strict, false, 1,
         3},
        {"one line removed: the line where it should stand", "%\nG00 X0\nG01 Y1\nM30\n%\n",
         "%\nG00 X0\nM30\n%\n", strict, false, 1, 3},
        {"the newer ends early", "%\nA\nB\nC\n", "%\nA\n", strict, false, 2, 3},
        {"two changes far apart", "A\nB\nC\nD\nE\nF\nG\nH\nI\nJ\n",
         "A\nX\nC\nD\nE\nF\nG\nH\nY\nJ\n", strict, false, 2, 2},
        {"two lines replaced by three", "A\nB\nC\nD\n", "A\nX\nY\nZ\nD\n", strict, false, 3, 2},
        {"empty against a program", "", "%\nO1\n%\n", strict, false, 3, 1},
        {"a program against empty", "%\nO1\n%\n", "", strict, false, 3, 1},
        {"comments differ", "G00 X0 (ROUGH)\nM30\n", "G00 X0 (FINISH)\nM30\n", strict, false, 1, 1},
        {"comments differ, comments set aside", "G00 X0 (ROUGH)\nM30\n", "G00 X0 (FINISH)\nM30\n",
         opts(true, false, false), true, 0, 0},
        {"a comment line dropped by the control", "%\nO1\n(TOOL 3 DRILL)\nG00 X0\n%\n",
         "%\nO1\nG00 X0\n%\n", strict, false, 1, 3},
        {"a comment line dropped, comments set aside", "%\nO1\n(TOOL 3 DRILL)\nG00 X0\n%\n",
         "%\nO1\nG00 X0\n%\n", opts(true, false, false), true, 0, 0},
        {"an unclosed comment runs to the line's end", "G00 X0 (NOTE\n", "G00 X0\n",
         opts(true, false, false), true, 0, 0},
        {"a real change beside a dropped comment line counts once", "A\n(NOTE)\nB\nC\n",
         "A\nB2\nC\n", opts(true, false, false), false, 1, 2},
        {"blank lines count", "A\nB\n", "A\n\nB\n", strict, false, 1, 2},
        {"blank lines set aside", "A\nB\n\n", "A\n\nB\n", opts(false, true, false), true, 0, 0},
        {"setting blank lines aside keeps comment lines", "A\n(X)\nB\n", "A\nB\n",
         opts(false, true, false), false, 1, 2},
        {"blanks between words", "G00X0Y0\n", "G00 X0 Y0\n", strict, false, 1, 1},
        {"blanks between words set aside", "G00X0Y0\n", "G00 X0  Y0\n", opts(false, false, true),
         true, 0, 0},
        {"setting blanks aside still sees other changes", "G00X0Y0\n", "G00 X0 Y1\n",
         opts(false, false, true), false, 1, 1},
    };
    for (const VerdictCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramComparison r = comparePrograms(c.older, c.newer, c.options, "a", "b");
        EXPECT_EQ(r.identical, c.identical);
        EXPECT_EQ(r.differingLines, c.differing);
        EXPECT_EQ(r.firstDifference, c.first);
        EXPECT_EQ(r.unifiedDiff.empty(), c.identical) << r.unifiedDiff;
    }
}

TEST(ProgramDiff, LinesSetAsideInTheNewerNeverCount) {
    const char* library = "%\nO12 (FACE)\nG00 X0\nM30\n%\n";
    // The request comment the control punched on top of its program.
    const ProgramComparison same =
        comparePrograms(library, "%\n(CMP=O12)\nO12 (FACE)\nG00 X0\nM30\n%\n", {}, "a", "b", {2});
    EXPECT_TRUE(same.identical);

    const ProgramComparison changed =
        comparePrograms(library, "%\n(CMP=O12)\nO12 (FACE)\nG00 X5\nM30\n%\n", {}, "a", "b", {2});
    EXPECT_FALSE(changed.identical);
    EXPECT_EQ(changed.differingLines, 1u);
    EXPECT_EQ(changed.firstDifference, 4u); // numbered as the control holds it

    // The same line not set aside is a difference of its own.
    const ProgramComparison counted =
        comparePrograms(library, "%\n(CMP=O12)\nO12 (FACE)\nG00 X0\nM30\n%\n", {}, "a", "b");
    EXPECT_EQ(counted.differingLines, 1u);
    EXPECT_EQ(counted.firstDifference, 2u);
}

struct UnifiedCase {
    const char* what;
    const char* older;
    const char* newer;
    CompareOptions options;
    const char* diff; // after the two header lines
};

TEST(ProgramDiff, UnifiedTextHasThreeLinesOfContextAndJoinsHunksThatTouch) {
    const UnifiedCase cases[] = {
        {"a change near the start clips its context",
         "A\nB\nC\nD\nE\nF\nG\n",
         "A\nX\nC\nD\nE\nF\nG\n",
         {},
         "@@ -1,5 +1,5 @@\n A\n-B\n+X\n C\n D\n E\n"},
        {"changes seven lines apart are two hunks",
         "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12\n",
         "1\n2a\n3\n4\n5\n6\n7\n8\n9\n10a\n11\n12\n",
         {},
         "@@ -1,5 +1,5 @@\n 1\n-2\n+2a\n 3\n 4\n 5\n"
         "@@ -7,6 +7,6 @@\n 7\n 8\n 9\n-10\n+10a\n 11\n 12\n"},
        {"changes six lines apart are one hunk",
         "1\n2\n3\n4\n5\n6\n7\n8\n9\n",
         "1\n2a\n3\n4\n5\n6\n7\n8\n9a\n",
         {},
         "@@ -1,9 +1,9 @@\n 1\n-2\n+2a\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+9a\n"},
        {"into an empty file", "", "%\nO1\n", {}, "@@ -0,0 +1,2 @@\n+%\n+O1\n"},
        {"lines removed name the line before",
         "A\nB\nC\n",
         "A\n",
         {},
         "@@ -1,3 +1 @@\n A\n-B\n-C\n"},
        {"lines are written as they stand, without CR",
         "G00 X0\r\nM30\r\n",
         "G00 X1\r\nM30\r\n",
         {},
         "@@ -1,2 +1,2 @@\n-G00 X0\n+G00 X1\n M30\n"},
        {"a change set aside shows only within another's context",
         "A\n(X)\nB\nC\nD\nE\nF\nG\nH\nI\n", "A\nB\nC\nD\nE\nF\nG\nH\nI2\n",
         opts(true, false, false), "@@ -7,4 +6,4 @@\n F\n G\n H\n-I\n+I2\n"},
        {"a change set aside within another's context is shown", "A\n(X)\nB\n", "A\nB2\n",
         opts(true, false, false), "@@ -1,3 +1,2 @@\n A\n-(X)\n-B\n+B2\n"},
    };
    for (const UnifiedCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramComparison r =
            comparePrograms(c.older, c.newer, c.options, "lib/O1.NC", "inbox/O1.NC");
        EXPECT_EQ(r.unifiedDiff, std::string("--- lib/O1.NC\n+++ inbox/O1.NC\n") + c.diff);
    }
}

// The diff is meant to be applied as well as read: `patch` must turn the older text into the
// newer, for edits of every kind in every place.
TEST(ProgramDiff, PatchTurnsTheOlderIntoTheNewer) {
    test::TempDir dir;
    std::mt19937 random(12345);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::string> older;
        const int length = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < length; ++i)
            older.push_back("N" + std::to_string(i * 10) + " G01 X" + std::to_string(random() % 9));
        std::vector<std::string> newer = older;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = newer.empty() ? 0 : random() % newer.size();
            switch (random() % 3) {
            case 0:
                newer.insert(newer.begin() + static_cast<long>(at), "G04 P" + std::to_string(e));
                break;
            case 1:
                if (!newer.empty())
                    newer.erase(newer.begin() + static_cast<long>(at));
                break;
            default:
                if (!newer.empty())
                    newer[at] += " M08";
                break;
            }
        }
        std::string a, b;
        for (const auto& l : older)
            a += l + "\n";
        for (const auto& l : newer)
            b += l + "\n";
        const ProgramComparison r = comparePrograms(a, b, {}, "old.NC", "new.NC");
        EXPECT_EQ(r.identical, a == b);
        if (r.identical)
            continue;
        test::writeFile(dir.file("old.NC"), a);
        test::writeFile(dir.file("change.diff"), r.unifiedDiff);
        const std::string command =
            "cd '" + dir.path() + "' && patch -s --no-backup-if-mismatch old.NC change.diff";
        ASSERT_EQ(std::system(command.c_str()), 0) << r.unifiedDiff;
        EXPECT_EQ(test::readFile(dir.file("old.NC")), b) << r.unifiedDiff;
    }
}

TEST(ProgramDiff, LongProgramsWithFewOrVeryManyChanges) {
    std::string a, b;
    for (int i = 0; i < 50000; ++i) {
        a += "N" + std::to_string(i) + " G01 X" + std::to_string(i % 100) + "\n";
        b += "N" + std::to_string(i) + " G01 X" +
             std::to_string(i == 100 || i == 25000 || i == 49999 ? 1000 : i % 100) + "\n";
    }
    const ProgramComparison few = comparePrograms(a, b, {}, "a", "b");
    EXPECT_EQ(few.differingLines, 3u);
    EXPECT_EQ(few.firstDifference, 101u);

    // Every line different: more edits than are searched, so the middle is one change.
    std::string c;
    for (int i = 0; i < 50000; ++i)
        c += "N" + std::to_string(i) + " G00 Y" + std::to_string(i) + "\n";
    const ProgramComparison all = comparePrograms(a, c, {}, "a", "b");
    EXPECT_EQ(all.differingLines, 50000u);
    EXPECT_EQ(all.firstDifference, 1u);
    EXPECT_EQ(all.unifiedDiff.rfind("--- a\n+++ b\n@@ -1,50000 +1,50000 @@\n-N0 G01 X0\n", 0), 0u);
}

TEST(ProgramDiff, IgnoreWordsFromALineFile) {
    struct Case {
        const char* text;
        bool ok, comments, blankLines, spaces;
    };
    const Case cases[] = {
        {"", true, false, false, false},
        {"none", true, false, false, false},
        {"comments", true, true, false, false},
        {"Comments, Blank-Lines", true, true, true, false},
        {"spaces comments", true, true, false, true},
        {"comments,blank-lines,spaces", true, true, true, true},
        {"coments", false, false, false, false},
        {"blank", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto parsed = parseCompareIgnore(c.text, &error);
        ASSERT_EQ(parsed.has_value(), c.ok);
        if (!parsed) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(parsed->ignoreComments, c.comments);
        EXPECT_EQ(parsed->ignoreBlankLines, c.blankLines);
        EXPECT_EQ(parsed->ignoreSpaces, c.spaces);
    }
}

} // namespace
} // namespace corvane
