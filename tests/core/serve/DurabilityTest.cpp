// What the inbox and the journal promise when the disk fails under them: no half record, no
// received byte lost, no version another writer made unlinked, the reason as the failing call
// gave it; and one service per inbox.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

#include "FaultyFileSystem.h"
#include "core/support/TempDir.h"
#include "serve/InboxLock.h"
#include "serve/InboxStore.h"
#include "serve/Journal.h"
#include "serve/Library.h"
#include "support/JsonLine.h"

namespace corvane::serve {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
using Call = FaultyFileSystem::Call;
namespace fs = std::filesystem;

JournalRecord sampleRecord(const std::string& file) {
    JournalRecord rec;
    rec.time = isoUtc(1796800502);
    rec.line = "mill1";
    rec.direction = "receive";
    rec.file = file;
    rec.bytes = 42;
    rec.message = std::string(300, 'x'); // long enough that half of it is a visible tear
    return rec;
}

// Every line of the file parses as a record.
std::vector<std::string> wholeLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    std::string line;
    while (std::getline(in, line)) {
        EXPECT_TRUE(parseFlatJsonObject(line).object) << line;
        lines.push_back(line);
    }
    return lines;
}

TEST(JournalFaults, AFailedWriteOrFlushLeavesNoPartOfTheRecord) {
    TempDir dir;
    auto files = std::make_shared<FaultyFileSystem>();
    Journal journal(dir.file("journal.jsonl"), files);
    ASSERT_EQ(journal.append(sampleRecord("/a")), "");
    const std::string before = readFile(journal.path());

    files->fail(Call::Write, ENOSPC);
    EXPECT_EQ(journal.append(sampleRecord("/b")), journal.path() + ": No space left on device");
    EXPECT_EQ(readFile(journal.path()), before);

    // Written whole, but not flushed: taken back too, so that writing it again later does not
    // leave it twice.
    files->fail(Call::Sync, EIO);
    EXPECT_EQ(journal.append(sampleRecord("/b")), journal.path() + ": Input/output error");
    EXPECT_EQ(readFile(journal.path()), before);

    ASSERT_EQ(journal.append(sampleRecord("/b")), "");
    EXPECT_EQ(wholeLines(journal.path()).size(), 2u);
}

TEST(JournalFaults, ALineTornByACrashIsCutOffAtTheNextStart) {
    TempDir dir;
    Journal journal(dir.file("journal.jsonl"));
    ASSERT_EQ(journal.append(sampleRecord("/a")), "");
    const std::string whole = readFile(journal.path());
    const std::string half = toJson(sampleRecord("/b")).substr(0, 40);
    writeFile(journal.path(), whole + half);

    std::string error;
    EXPECT_EQ(journal.repair(&error), half);
    EXPECT_EQ(error, "");
    EXPECT_EQ(readFile(journal.path()), whole);
    EXPECT_EQ(journal.repair(), ""); // a whole journal is left as it is
    ASSERT_EQ(journal.append(sampleRecord("/b")), "");
    EXPECT_EQ(wholeLines(journal.path()).size(), 2u);

    // Nothing but a torn line.
    writeFile(journal.path(), half);
    EXPECT_EQ(journal.repair(), half);
    EXPECT_EQ(readFile(journal.path()), "");
}

class InboxFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(inbox.prepare(), ""); }
    std::string received(const std::string& bytes) {
        const std::string temporary = inbox.createTemporary();
        writeFile(temporary, bytes);
        return temporary;
    }
    TempDir dir;
    std::shared_ptr<FaultyFileSystem> files = std::make_shared<FaultyFileSystem>();
    InboxStore inbox{dir.file("inbox"), files};
};

TEST_F(InboxFaults, AFailedFlushOrRenameIsToldWithItsOwnReasonAndTheBytesStay) {
    const std::string first = received("first");
    files->fail(Call::SyncPath, EIO, ".receiving-");
    const StoreResult notFlushed = inbox.store(first, "O0012.NC");
    EXPECT_EQ(notFlushed.path, "");
    EXPECT_NE(notFlushed.error.find("Input/output error"), std::string::npos) << notFlushed.error;
    EXPECT_EQ(readFile(first), "first"); // still there, for failed/
    EXPECT_FALSE(fs::exists(dir.file("inbox/O0012.NC")));

    files->fail(Call::RenameNoReplace, EROFS, "O0012.NC");
    const StoreResult notRenamed = inbox.store(first, "O0012.NC");
    EXPECT_EQ(notRenamed.path, "");
    EXPECT_NE(notRenamed.error.find("Read-only file system"), std::string::npos)
        << notRenamed.error;
    const StoreResult kept = inbox.storeFailed(first, "mill1-20261209-071502.NC");
    EXPECT_EQ(readFile(kept.path), "first");

    // Filed, but the folder could not be flushed: the program is there and the caller told.
    files->fail(Call::SyncPath, EIO, "inbox", 1, 1); // the file's flush goes through
    const StoreResult unsure = inbox.store(received("second"), "O0013.NC");
    EXPECT_EQ(unsure.path, dir.file("inbox/O0013.NC"));
    EXPECT_NE(unsure.error.find("Input/output error"), std::string::npos) << unsure.error;
    const StoreResult linked = inbox.linkIntoFailed(unsure.path, "mill1-x.NC");
    EXPECT_EQ(linked.path, dir.file("inbox/failed/mill1-x.NC"));
    EXPECT_EQ(readFile(linked.path), "second");
}

TEST_F(InboxFaults, AVersionAnotherWriterPutsInTheWayIsNeverLost) {
    const std::string target = dir.file("inbox/O0012.NC");
    const std::string ours = received("ours");
    // Another process files the same name at the worst moment: after this store looked, just
    // before its own file takes the name.
    bool written = false;
    files->before = [&](Call, const std::string& from, const std::string& to) {
        if (!written && from == ours && to == target) {
            written = true;
            writeFile(target, "theirs");
        }
    };
    const StoreResult stored = inbox.store(ours, "O0012.NC");
    ASSERT_EQ(stored.error, "");
    ASSERT_TRUE(written);
    EXPECT_EQ(readFile(target), "ours");
    EXPECT_EQ(readFile(target + ".~1~"), "theirs");

    // The same with an earlier version there: both it and theirs are kept.
    const std::string again = received("ours again");
    written = false;
    files->before = [&](Call call, const std::string& from, const std::string& to) {
        if (!written && from == again && to == target && call != Call::RenameNoReplace) {
            written = true;
            // A writer that keeps versions too: the file there goes on as ~2~ first.
            writeFile(target + ".new", "theirs again");
            ASSERT_EQ(::link(target.c_str(), (target + ".~2~").c_str()), 0);
            ASSERT_EQ(::rename((target + ".new").c_str(), target.c_str()), 0);
        }
    };
    ASSERT_EQ(inbox.store(again, "O0012.NC").error, "");
    ASSERT_TRUE(written);
    EXPECT_EQ(readFile(target), "ours again");
    std::multiset<std::string> versions;
    for (int n = 1; fs::exists(target + ".~" + std::to_string(n) + "~"); ++n)
        versions.insert(readFile(target + ".~" + std::to_string(n) + "~"));
    EXPECT_EQ(versions, (std::multiset<std::string>{"ours", "theirs", "theirs again"}));
}

TEST(InboxLock, OneServicePerInboxAndTheHolderNamed) {
    TempDir dir;
    auto first = std::make_unique<InboxLock>();
    ASSERT_EQ(first->acquire(dir.path()), "");
    EXPECT_EQ(readFile(dir.file(InboxLock::FileName)), std::to_string(getpid()) + "\n");
    InboxLock second;
    const std::string refused = second.acquire(dir.path());
    EXPECT_NE(refused.find("another service (pid " + std::to_string(getpid()) + ")"),
              std::string::npos)
        << refused;
    EXPECT_FALSE(second.held());
    // The holder gone (as a process that ends, however it ends): the inbox is free again.
    first.reset();
    EXPECT_EQ(second.acquire(dir.path()), "");
    EXPECT_TRUE(second.held());
}

TEST(LibraryOpen, HiddenFilesAreNotServedAndWhatIsSentIsWhatWasOpened) {
    TempDir dir;
    fs::create_directory(dir.file("lib"));
    writeFile(dir.file("lib/.secret"), "%\n(HIDDEN)\n%\n");
    writeFile(dir.file("lib/.secret.NC"), "%\n(HIDDEN)\n%\n");
    EXPECT_EQ(lookupProgram(dir.file("lib"), ".secret", "NC").result, LookupResult::Refused);
    EXPECT_EQ(lookupProgram(dir.file("lib"), ".secret.NC", "NC").result, LookupResult::Refused);
    EXPECT_EQ(directoryListing(dir.file("lib")).find("secret"), std::string::npos);

    // A file swapped for a link after the lookup: what goes out is still the file looked up,
    // read from the lookup's own opening.
    writeFile(dir.file("lib/O0012.NC"), "%\nO0012\n%\n");
    writeFile(dir.file("outside"), "SECRET");
    LibraryLookup found = lookupProgram(dir.file("lib"), "O0012", "NC");
    ASSERT_EQ(found.result, LookupResult::Found);
    ASSERT_GE(found.file.fd(), 0);
    fs::remove(dir.file("lib/O0012.NC"));
    fs::create_symlink(dir.file("outside"), dir.file("lib/O0012.NC"));
    InboxStore inbox(dir.file("inbox"));
    ASSERT_EQ(inbox.prepare(), "");
    const std::string copy = inbox.sendCopy(found.file.fd(), "O0012.NC");
    EXPECT_EQ(readFile(copy), "%\nO0012\n%\n");
    // And a later lookup does not follow the link.
    EXPECT_EQ(lookupProgram(dir.file("lib"), "O0012", "NC").result, LookupResult::NotFound);
}

} // namespace
} // namespace corvane::serve
