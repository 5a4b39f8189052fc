// The files an unattended line keeps and reads: the inbox and its versions, the library
// boundary, the journal, and the digest the journal carries.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/support/TempDir.h"
#include "serve/InboxStore.h"
#include "serve/Journal.h"
#include "serve/Library.h"
#include "support/Digest.h"
#include "support/JsonLine.h"

namespace corvane::serve {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

TEST(Sha256, DigestsOfFilesAndTexts) {
    TempDir dir;
    writeFile(dir.file("empty"), "");
    EXPECT_EQ(sha256OfFile(dir.file("empty")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    writeFile(dir.file("abc"), "abc");
    EXPECT_EQ(sha256OfFile(dir.file("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Of("abc"), sha256OfFile(dir.file("abc")));
    // Larger than one read: the pieces are hashed as one stream.
    std::string big;
    for (int i = 0; i < 700; ++i)
        big += "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    writeFile(dir.file("big"), big);
    EXPECT_EQ(sha256OfFile(dir.file("big")),
              "8b3ba578b9bc53c4891208386821d67ca7f5db569fd6ea617303f3a9a409d906");
    EXPECT_EQ(sha256Of(big), "8b3ba578b9bc53c4891208386821d67ca7f5db569fd6ea617303f3a9a409d906");
    EXPECT_EQ(sha256OfFile(dir.file("missing")), "") << "a file that cannot be read has no digest";
    EXPECT_EQ(sha256OfFile(dir.path()), "") << "nor has a folder";
}

TEST(InboxStore, AMissingInboxIsCreatedWithTheFoldersAboveIt) {
    TempDir dir;
    EXPECT_EQ(InboxStore(dir.file("var/lib/corvane/mill1")).prepare(), "");
    EXPECT_TRUE(fs::is_directory(dir.file("var/lib/corvane/mill1")));
    EXPECT_EQ(InboxStore(dir.file("var/lib/corvane/mill2/")).prepare(), "");
    EXPECT_TRUE(fs::is_directory(dir.file("var/lib/corvane/mill2")));
    writeFile(dir.file("plain"), "x");
    EXPECT_EQ(InboxStore(dir.file("plain/mill3")).prepare(),
              dir.file("plain/mill3") + ": Not a directory");
}

TEST(InboxStore, NothingIsEverOverwritten) {
    TempDir dir;
    InboxStore inbox(dir.file("inbox"));
    ASSERT_EQ(inbox.prepare(), "");
    for (const char* content : {"first\r\n", "second\r\n", "third\r\n"}) {
        const std::string temporary = inbox.createTemporary();
        ASSERT_FALSE(temporary.empty());
        writeFile(temporary, content);
        const StoreResult stored = inbox.store(temporary, "O0012.NC");
        ASSERT_EQ(stored.error, "");
        EXPECT_EQ(stored.path, dir.file("inbox/O0012.NC"));
        EXPECT_FALSE(fs::exists(temporary));
    }
    EXPECT_EQ(readFile(dir.file("inbox/O0012.NC")), "third\r\n");
    EXPECT_EQ(readFile(dir.file("inbox/O0012.NC.~1~")), "first\r\n");
    EXPECT_EQ(readFile(dir.file("inbox/O0012.NC.~2~")), "second\r\n");

    const std::string temporary = inbox.createTemporary();
    writeFile(temporary, "half");
    const StoreResult failed = inbox.storeFailed(temporary, "mill1-20261209-071502.NC");
    EXPECT_EQ(failed.path, dir.file("inbox/failed/mill1-20261209-071502.NC"));
    EXPECT_EQ(readFile(failed.path), "half");
}

TEST(InboxStore, LeftoversOfACrashAreMovedToFailed) {
    TempDir dir;
    InboxStore inbox(dir.file("inbox"));
    ASSERT_EQ(inbox.prepare(), "");
    writeFile(inbox.createTemporary(), "%\r\nO0012\r\nG0");
    const std::string empty = inbox.createTemporary();
    // A send cut short: told apart by its own name, and not filed as a receive.
    const std::string sending = inbox.sendText("%\r\n(NOT FOUND X)\r\n%\r\n", "O0013.NC");
    ASSERT_FALSE(sending.empty());
    EXPECT_EQ(fs::path(sending).filename().string().rfind(".sending-", 0), 0u) << sending;
    const Leftovers found = inbox.recoverLeftovers("mill1-20261209-071502");
    ASSERT_EQ(found.receives.size(), 1u);
    EXPECT_EQ(found.receives[0], dir.file("inbox/failed/mill1-20261209-071502-recovered-1"));
    EXPECT_EQ(readFile(found.receives[0]), "%\r\nO0012\r\nG0");
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_EQ(found.sends, std::vector<std::string>{"O0013.NC"});
    EXPECT_FALSE(fs::exists(sending));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(dir.file("inbox/failed")), fs::directory_iterator()),
        1);
}

TEST(InboxStore, AnInboxThatCannotBeMadeIsReported) {
    TempDir dir;
    writeFile(dir.file("plain"), "a file where the inbox should be");
    EXPECT_NE(InboxStore(dir.file("plain")).prepare(), "");
    EXPECT_NE(InboxStore(dir.file("plain/inbox")).prepare(), "");
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(m_dir.file("lib"));
        writeFile(m_dir.file("lib/O0012.NC"), "%\nO0012\n%\n");
        writeFile(m_dir.file("lib/PART"), "%\nPART\n%\n");
        writeFile(m_dir.file("lib/PART.NC"), "%\nPART.NC\n%\n");
        writeFile(m_dir.file("secret.NC"), "outside");
    }
    std::string lib() const { return m_dir.file("lib"); }
    TempDir m_dir;
};

TEST_F(LibraryTest, NameThenExtensionThenProgramNumber) {
    EXPECT_EQ(lookupProgram(lib(), "PART", "NC").path, lib() + "/PART");
    EXPECT_EQ(lookupProgram(lib(), "PART.NC", "NC").path, lib() + "/PART.NC");
    EXPECT_EQ(lookupProgram(lib(), "O0012", "NC").path, lib() + "/O0012.NC");
    EXPECT_EQ(lookupProgram(lib(), "0012", "NC").path, lib() + "/O0012.NC");
    EXPECT_EQ(lookupProgram(lib(), "O0013", "NC").result, LookupResult::NotFound);
}

TEST_F(LibraryTest, TheNumberAsTheControlShowsItFindsTheOFile) {
    // Padded to the library's four digits, with or without the O.
    EXPECT_EQ(lookupProgram(lib(), "12", "NC").path, lib() + "/O0012.NC");
    EXPECT_EQ(lookupProgram(lib(), "O12", "NC").path, lib() + "/O0012.NC");
    EXPECT_EQ(lookupProgram(lib(), "012", "NC").path, lib() + "/O0012.NC");
    EXPECT_EQ(lookupProgram(lib(), "13", "NC").result, LookupResult::NotFound);
    EXPECT_EQ(lookupProgram(lib(), "12345", "NC").result, LookupResult::NotFound);
}

TEST_F(LibraryTest, ACaseDifferenceIsForgivenWhenOnlyOneFileFits) {
    writeFile(m_dir.file("lib/o0077.nc"), "%\nO0077\n%\n");
    EXPECT_EQ(lookupProgram(lib(), "O0077", "NC").path, lib() + "/o0077.nc");
    EXPECT_EQ(lookupProgram(lib(), "77", "NC").path, lib() + "/o0077.nc");
    // The very name wins over a case variant.
    writeFile(m_dir.file("lib/part.nc"), "%\npart.nc\n%\n");
    EXPECT_EQ(lookupProgram(lib(), "PART.NC", "NC").path, lib() + "/PART.NC");
    // Two variants and neither is the very name: which one is meant would be a guess.
    writeFile(m_dir.file("lib/Face.NC"), "%\n%\n");
    writeFile(m_dir.file("lib/face.nc"), "%\n%\n");
    EXPECT_EQ(lookupProgram(lib(), "FACE", "NC").result, LookupResult::NotFound);
}

TEST_F(LibraryTest, NothingOutsideTheLibraryIsReached) {
    EXPECT_EQ(lookupProgram(lib(), "../secret.NC", "NC").result, LookupResult::Refused);
    EXPECT_EQ(lookupProgram(lib(), "..", "NC").result, LookupResult::Refused);
    EXPECT_EQ(lookupProgram(lib(), "/etc/passwd", "NC").result, LookupResult::Refused);
    // A link placed in the library that points out of it is not followed.
    ASSERT_EQ(symlink(m_dir.file("secret.NC").c_str(), (lib() + "/LINK.NC").c_str()), 0);
    EXPECT_EQ(lookupProgram(lib(), "LINK.NC", "NC").result, LookupResult::NotFound);
    EXPECT_EQ(directoryListing(lib()).find("LINK"), std::string::npos);
    EXPECT_EQ(refusedReply("../../etc/passwd"), "%\n(REFUSED ../../etc/passwd)\n%\n");
    EXPECT_EQ(notFoundReply("O9(9)"), "%\n(NOT FOUND O9?9?)\n%\n");
}

// The reason a restart was refused, as comments a control can show: upper case, brackets for
// parentheses, lines of at most 60 characters broken between words.
TEST(RestartRefusedReply, TheReasonCannotEndItsCommentAndFitsTheScreen) {
    const std::string reply = restartRefusedReply(
        "O12.NC", "N30",
        "cannot restart at N30 (line 7): it is inside cutter compensation (G41 at line 6). "
        "Nearest earlier places to restart: T1 (line 4)%");
    EXPECT_EQ(reply, "%\n(RESTART REFUSED O12.NC N30)\n"
                     "(CANNOT RESTART AT N30 [LINE 7]: IT IS INSIDE CUTTER)\n"
                     "(COMPENSATION [G41 AT LINE 6]. NEAREST EARLIER PLACES TO)\n"
                     "(RESTART: T1 [LINE 4]?)\n%\n");
    EXPECT_EQ(restartRefusedReply("A(B", "T)", ""), "%\n(RESTART REFUSED A?B T?)\n%\n");
}

TEST_F(LibraryTest, AProgramThereButUnreadableIsRefusedWithTheReason) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    ASSERT_EQ(chmod((lib() + "/O0012.NC").c_str(), 0), 0);
    const LibraryLookup found = lookupProgram(lib(), "O0012", "NC");
    EXPECT_EQ(found.result, LookupResult::Refused);
    EXPECT_EQ(found.error, "O0012.NC: Permission denied");
}

TEST_F(LibraryTest, ListingIsCommentsOnlyAndBounded) {
    const std::string listing = directoryListing(lib());
    EXPECT_EQ(listing.substr(0, 2), "%\n");
    EXPECT_NE(listing.find("(O0012.NC 10 "), std::string::npos) << listing;
    std::istringstream lines(listing);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_TRUE(line == "%" || (line.front() == '(' && line.back() == ')')) << line;
    }
    EXPECT_EQ(count, 2 + 3 + 1);

    for (int i = 0; i < 250; ++i)
        writeFile(lib() + "/P" + std::to_string(1000 + i), "x");
    const std::string big = directoryListing(lib());
    EXPECT_LE(std::count(big.begin(), big.end(), '\n'), DirectoryListMaxLines);
    EXPECT_NE(big.find("MORE)"), std::string::npos);
}

TEST(Journal, OneParsableLinePerRecord) {
    TempDir dir;
    Journal journal(dir.file("journal.jsonl"));
    ASSERT_EQ(journal.prepare(), "");
    JournalRecord first;
    first.time = isoUtc(1796800502);
    first.line = "mill1";
    first.direction = "receive";
    first.file = "/inbox/O0012.NC";
    first.bytes = 42;
    first.message = "a \"quoted\"\nline";
    JournalRecord second = first;
    second.direction = "send";
    second.request = "O0012";
    second.commandId = "c-7";
    second.result = TransferResult::NotFound;
    ASSERT_EQ(journal.append(first), "");
    ASSERT_EQ(journal.append(second), "");

    std::istringstream lines(readFile(dir.file("journal.jsonl")));
    std::string line;
    std::vector<JsonObject> objects;
    while (std::getline(lines, line)) {
        const JsonParse parsed = parseFlatJsonObject(line);
        ASSERT_TRUE(parsed.object) << parsed.error << ": " << line;
        objects.push_back(*parsed.object);
    }
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(jsonString(objects[0], "time"), "2026-12-09T07:15:02Z");
    EXPECT_EQ(jsonString(objects[0], "message"), "a \"quoted\"\nline");
    EXPECT_TRUE(objects[0].at("request").is_null());
    EXPECT_FALSE(objects[0].count("command"));
    EXPECT_EQ(jsonString(objects[1], "result"), "not-found");
    EXPECT_EQ(jsonString(objects[1], "command"), "c-7");
}

} // namespace
} // namespace corvane::serve
