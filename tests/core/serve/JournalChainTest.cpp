// The journal's chain: what the journal writes into "prev", and what the verification makes of
// journals as they are found, edited, cut, reordered, rotated or written before the chain.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/support/TempDir.h"
#include "serve/Journal.h"
#include "serve/JournalChain.h"
#include "support/Digest.h"
#include "support/JsonLine.h"

namespace corvane::serve {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;

std::vector<std::string> linesOf(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string prevOf(const std::string& line) {
    const JsonParse parsed = parseFlatJsonObject(line);
    return parsed.object ? jsonString(*parsed.object, "prev").value_or("(none)") : "(unreadable)";
}

JournalRecord record(const std::string& file) {
    JournalRecord r;
    r.time = "2026-12-09T07:15:02Z";
    r.line = "mill1";
    r.direction = "receive";
    r.file = file;
    r.bytes = 12;
    r.sha256 = std::string(64, 'a');
    r.message = "";
    return r;
}

// An old journal line, as written before records were chained.
const std::string OldLine =
    R"({"time":"2026-12-01T07:00:00Z","line":"mill1","direction":"receive","request":null,)"
    R"("file":"/in/O1.NC","bytes":3,"sha256":"","result":"completed","millis":1,"message":""})";

std::string withLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST(JournalChain, EachRecordCarriesTheDigestOfTheLineBeforeIt) {
    TempDir dir;
    const std::string path = dir.file("journal.jsonl");
    Journal journal(path);
    ASSERT_EQ(journal.append(record("/in/O1.NC")), "");
    ASSERT_EQ(journal.append(record("/in/O2.NC")), "");
    // A second service start (a new Journal) goes on from what the file holds.
    ASSERT_EQ(Journal(path).append(record("/in/O3.NC")), "");
    const auto lines = linesOf(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(prevOf(lines[0]), NoPreviousLine);
    EXPECT_EQ(prevOf(lines[1]), sha256Of(lines[0]));
    EXPECT_EQ(prevOf(lines[2]), sha256Of(lines[1]));
    // The chain is the last key; everything before it is the record as it always was.
    EXPECT_EQ(
        lines[0],
        R"({"time":"2026-12-09T07:15:02Z","line":"mill1","direction":"receive","request":null,)"
        R"("file":"/in/O1.NC","bytes":12,"sha256":")" +
            std::string(64, 'a') + R"(","result":"completed","millis":0,"message":"","prev":")" +
            NoPreviousLine + R"("})");
    EXPECT_EQ(toJson(record("/in/O1.NC")).find("prev"), std::string::npos)
        << "set by the journal only";
    std::string told;
    ASSERT_EQ(journal.append(record("/in/O4.NC"), &told), "");
    EXPECT_EQ(told, sha256Of(lines[2])) << "the chain the line was written with";
    EXPECT_EQ(verifyJournals({path}).outcome, ChainCheck::Outcome::Holds);
}

TEST(JournalChain, AnOldJournalIsContinuedAndARotatedOneFollowedIntoTheNewFile) {
    TempDir dir;
    const std::string path = dir.file("journal.jsonl");
    writeFile(path, withLines({OldLine}));
    Journal journal(path);
    ASSERT_EQ(journal.append(record("/in/O1.NC")), "");
    // Log rotation moves the file away; the next record starts a new file that continues it.
    std::filesystem::rename(path, dir.file("journal.jsonl.1"));
    ASSERT_EQ(journal.append(record("/in/O2.NC")), "");

    const auto old = linesOf(dir.file("journal.jsonl.1"));
    ASSERT_EQ(old.size(), 2u);
    EXPECT_EQ(prevOf(old[1]), sha256Of(OldLine));
    const auto fresh = linesOf(path);
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(prevOf(fresh[0]), sha256Of(old[1]));
}

TEST(JournalChain, VerificationNamesTheFirstLineThatBreaksTheChain) {
    TempDir dir;
    const std::string path = dir.file("journal.jsonl");
    Journal journal(path);
    for (const char* file : {"/in/O1.NC", "/in/O2.NC", "/in/O3.NC", "/in/O4.NC"})
        ASSERT_EQ(journal.append(record(file)), "");
    const auto lines = linesOf(path);
    const std::string tampered = dir.file("tampered.jsonl");

    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::string tail;  // bytes after the last line end
        std::string where; // the line named, "" when the chain holds
    };
    std::string edited = lines[1];
    edited.replace(edited.find("O2"), 2, "O9");
    std::string unchainedAfter = lines[2];
    unchainedAfter.erase(unchainedAfter.find(",\"prev\""), 75);
    const Case cases[] = {
        {"as written", lines, "", ""},
        {"a line edited", {lines[0], edited, lines[2], lines[3]}, "", ":3: "},
        {"a line removed", {lines[0], lines[2], lines[3]}, "", ":2: "},
        {"two lines swapped", {lines[0], lines[2], lines[1], lines[3]}, "", ":2: "},
        {"the first line removed",
         {lines[1], lines[2], lines[3]},
         "",
         ""}, // nothing before it to check
        {"the last line edited, its line end removed",
         {lines[0], lines[1], lines[2]},
         lines[3],
         ":4: "},
        {"a blank line inserted", {lines[0], "", lines[1]}, "", ":2: "},
        {"a record's prev removed", {lines[0], lines[1], unchainedAfter}, "", ":3: "},
    };
    for (const Case& c : cases) {
        writeFile(tampered, withLines(c.lines) + c.tail);
        const ChainCheck check = verifyJournals({tampered});
        if (c.where.empty()) {
            EXPECT_EQ(check.outcome, ChainCheck::Outcome::Holds) << c.what << ": " << check.message;
        } else {
            EXPECT_EQ(check.outcome, ChainCheck::Outcome::Broken) << c.what;
            EXPECT_EQ(check.message.rfind(tampered + c.where, 0), 0u)
                << c.what << ": " << check.message;
        }
    }
    writeFile(tampered, withLines({lines[1], lines[2]}));
    const ChainCheck partial = verifyJournals({tampered});
    ASSERT_EQ(partial.warnings.size(), 1u);
    EXPECT_NE(partial.warnings[0].find("continues an earlier journal"), std::string::npos);
}

TEST(JournalChain, FilesAreOneChainInTheOrderGiven) {
    TempDir dir;
    const std::string path = dir.file("journal.jsonl");
    writeFile(dir.file("2025.jsonl"), withLines({OldLine, OldLine}));
    std::filesystem::copy_file(dir.file("2025.jsonl"), path);
    Journal journal(path);
    ASSERT_EQ(journal.append(record("/in/O1.NC")), "");
    std::filesystem::rename(path, dir.file("2026a.jsonl"));
    ASSERT_EQ(journal.append(record("/in/O2.NC")), "");
    ASSERT_EQ(journal.append(record("/in/O3.NC")), "");
    std::filesystem::rename(path, dir.file("2026b.jsonl"));

    const ChainCheck old = verifyJournals({dir.file("2025.jsonl")});
    EXPECT_EQ(old.outcome, ChainCheck::Outcome::Unchained) << old.message;
    ASSERT_EQ(old.warnings.size(), 1u);
    EXPECT_NE(old.warnings[0].find("2 records without \"prev\""), std::string::npos)
        << old.warnings[0];

    const ChainCheck year = verifyJournals({dir.file("2026a.jsonl"), dir.file("2026b.jsonl")});
    EXPECT_EQ(year.outcome, ChainCheck::Outcome::Holds) << year.message;
    EXPECT_EQ(year.records, 5u);
    EXPECT_EQ(year.message, "5 records in 2 files: the chain holds");

    const ChainCheck swapped = verifyJournals({dir.file("2026b.jsonl"), dir.file("2026a.jsonl")});
    EXPECT_EQ(swapped.outcome, ChainCheck::Outcome::Broken);
    EXPECT_EQ(swapped.message.rfind(dir.file("2026a.jsonl") + ":1: ", 0), 0u) << swapped.message;

    // A file in the middle missing: the next one names a line that is not there.
    writeFile(dir.file("tail.jsonl"), withLines({linesOf(dir.file("2026b.jsonl"))[1]}));
    EXPECT_EQ(verifyJournals({dir.file("2026a.jsonl"), dir.file("tail.jsonl")}).outcome,
              ChainCheck::Outcome::Broken);

    // A service started after a rotation knows nothing of the file moved away: its first
    // record starts a new chain, which is said, not taken for a break.
    Journal restarted(dir.file("2026c.jsonl"));
    ASSERT_EQ(restarted.append(record("/in/O4.NC")), "");
    const ChainCheck anew = verifyJournals({dir.file("2026b.jsonl"), dir.file("2026c.jsonl")});
    EXPECT_EQ(anew.outcome, ChainCheck::Outcome::Holds) << anew.message;
    // The first file given continues one not given; the second starts anew.
    ASSERT_EQ(anew.warnings.size(), 2u);
    EXPECT_NE(anew.warnings[0].find("continues an earlier journal"), std::string::npos)
        << anew.warnings[0];
    EXPECT_EQ(anew.warnings[1].rfind(dir.file("2026c.jsonl") + ":1: starts a new chain", 0), 0u)
        << anew.warnings[1];

    const ChainCheck missing = verifyJournals({dir.file("2026a.jsonl"), dir.file("nope.jsonl")});
    EXPECT_EQ(missing.outcome, ChainCheck::Outcome::Unreadable);
    EXPECT_EQ(missing.message, dir.file("nope.jsonl") + ": No such file or directory");
    EXPECT_EQ(verifyJournals({dir.path()}).outcome, ChainCheck::Outcome::Unreadable);
}

TEST(JournalChain, TheLastCompleteLineIsFoundPastLongLinesAndPieceEdges) {
    TempDir dir;
    const std::string path = dir.file("f");
    for (const std::string& text :
         {std::string(""), std::string("no line end"), std::string("\n"), std::string("a\n"),
          std::string("a\nb\n"), std::string("a\nb\ntorn"), std::string(10000, 'x') + "\n",
          "a\n" + std::string(4095, 'y') + "\n", "a\n" + std::string(4096, 'y') + "\n" + "torn"}) {
        writeFile(path, text);
        const int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        const std::string got = lastCompleteLine(fd);
        close(fd);
        const size_t end = text.rfind('\n');
        std::string expected;
        if (end != std::string::npos) {
            const size_t begin = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
            expected = text.substr(begin == std::string::npos ? 0 : begin + 1,
                                   end - (begin == std::string::npos ? 0 : begin + 1));
        }
        EXPECT_EQ(got, expected) << text.size();
    }
}

} // namespace
} // namespace corvane::serve
