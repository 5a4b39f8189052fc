// Compare after receive, on files: which earlier version a program is compared with, where the
// versions and diffs go, and how the journal carries the verdict.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/support/TempDir.h"
#include "serve/ReceivedCompare.h"

namespace corvane::serve {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

TEST(ReceivedCompare, TheLibraryVersionComesBeforeTheInboxOne) {
    TempDir dir;
    fs::create_directory(dir.file("lib"));
    fs::create_directory(dir.file("inbox"));
    std::string error;
    EXPECT_EQ(earlierVersion(dir.file("lib"), dir.file("inbox"), "O0012.NC", error), "");

    writeFile(dir.file("inbox/O0012.NC"), "%\nO0012\n%\n");
    EXPECT_EQ(earlierVersion(dir.file("lib"), dir.file("inbox"), "O0012.NC", error),
              dir.file("inbox/O0012.NC"));
    writeFile(dir.file("lib/O0012.NC"), "%\nO0012\n%\n");
    EXPECT_EQ(earlierVersion(dir.file("lib"), dir.file("inbox"), "O0012.NC", error),
              dir.file("lib/O0012.NC"));
    EXPECT_EQ(error, "");

    // A link in the inbox is no earlier version of anything.
    fs::create_symlink(dir.file("lib/O0012.NC"), dir.file("inbox/O0013.NC"));
    EXPECT_EQ(earlierVersion(dir.file("lib"), dir.file("inbox"), "O0013.NC", error), "");
}

TEST(ReceivedCompare, VerdictsOnFiles) {
    TempDir dir;
    writeFile(dir.file("lib.NC"), "%\nO0012\nG00X0\nM30\n%\n");
    writeFile(dir.file("same"), "%\r\nO0012\r\nG00X0\r\nM30\r\n%\r\n");
    writeFile(dir.file("changed"), "%\r\nO0012\r\nG00X5\r\nM30\r\n%\r\n");

    const ReceivedComparison fresh = compareReceived("", dir.file("same"), {}, "a", "b");
    EXPECT_EQ(fresh.verdict, "new");
    EXPECT_EQ(fresh.against, "");

    const ReceivedComparison same =
        compareReceived(dir.file("lib.NC"), dir.file("same"), {}, "lib/O0012.NC", "inbox/O0012.NC");
    EXPECT_EQ(same.verdict, "identical");
    EXPECT_EQ(same.against, "lib/O0012.NC");
    EXPECT_EQ(same.diff, "");

    const ReceivedComparison changed = compareReceived(dir.file("lib.NC"), dir.file("changed"), {},
                                                       "lib/O0012.NC", "inbox/O0012.NC");
    EXPECT_EQ(changed.verdict, "differs");
    EXPECT_EQ(changed.differing, 1u);
    EXPECT_EQ(changed.atLine, 3u);
    EXPECT_EQ(changed.diff.rfind("--- lib/O0012.NC\n+++ inbox/O0012.NC\n@@ -1,5 +1,5 @@\n", 0), 0u)
        << changed.diff;

    const ReceivedComparison unreadable =
        compareReceived(dir.file("missing"), dir.file("same"), {}, "a", "b");
    EXPECT_EQ(unreadable.verdict, "");
    EXPECT_NE(unreadable.error.find("missing"), std::string::npos);
}

TEST(ReceivedCompare, AStaleDiffIsKeptUnderTheNextVersionName) {
    TempDir dir;
    writeFile(dir.file("O1.NC.diff"), "old diff");
    writeFile(dir.file("O1.NC.diff.~1~"), "older diff");
    EXPECT_EQ(nextVersionName(dir.file("O1.NC.diff")), dir.file("O1.NC.diff.~2~"));
    setAsideStaleDiff(dir.file("O1.NC.diff"));
    EXPECT_FALSE(fs::exists(dir.file("O1.NC.diff")));
    EXPECT_EQ(readFile(dir.file("O1.NC.diff.~1~")), "older diff");
    EXPECT_EQ(readFile(dir.file("O1.NC.diff.~2~")), "old diff");
    setAsideStaleDiff(dir.file("O1.NC.diff")); // none there: nothing happens
    EXPECT_FALSE(fs::exists(dir.file("O1.NC.diff.~3~")));
}

TEST(ReceivedCompare, TheJournalAddsTheVerdictAfterTheFieldsItAlwaysHad) {
    JournalRecord rec;
    rec.time = "2026-12-09T07:15:02Z";
    rec.line = "mill1";
    rec.direction = "receive";
    rec.file = "/in/O1.NC";
    rec.commandId = "c-1";
    const std::string before = toJson(rec);
    EXPECT_EQ(before.find("compare"), std::string::npos);

    ReceivedComparison cmp;
    cmp.verdict = "differs";
    cmp.against = "/lib/O1.NC";
    cmp.differing = 3;
    cmp.atLine = 7;
    noteComparison(rec, cmp);
    rec.diff = "/in/O1.NC.diff";
    const std::string after = toJson(rec);
    // The fields older readers know keep their text and order; the new ones follow them.
    EXPECT_EQ(after.substr(0, before.size() - 1), before.substr(0, before.size() - 1));
    EXPECT_EQ(after.substr(before.size() - 1),
              ",\"compare\":\"differs\",\"against\":\"/lib/O1.NC\",\"differing\":3,"
              "\"at_line\":7,\"diff\":\"/in/O1.NC.diff\"}");
    EXPECT_EQ(comparisonSummary(rec),
              "differs from /lib/O1.NC in 3 lines, first at line 7; the changes are in "
              "/in/O1.NC.diff");

    rec.compare = "new";
    rec.against.clear();
    rec.diff.clear();
    EXPECT_EQ(toJson(rec).substr(before.size() - 1), ",\"compare\":\"new\"}");
    EXPECT_EQ(comparisonSummary(rec), "new");
}

} // namespace
} // namespace corvane::serve
