// A receive into a file that already holds a program: the old program stays whole until the
// new one has arrived completely, and what arrived of a broken receive is kept aside.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ReceiveFixture.h"
#include "transfer/ReceiveIntoFile.h"

namespace corvane::testing {
namespace {

using Lines = std::vector<std::string>;

class ReceiveIntoFile : public ReceiveFixture {
protected:
    void SetUp() override {
        ReceiveFixture::SetUp();
        machine.config.PtrEof = 1; // the program ends at its second %
        part = target + ".part";
        std::ofstream(target, std::ios::binary) << "%\r\nO0001 OLD PROGRAM\r\n%\r\n";
        ::chmod(target.c_str(), 0640);
    }

    int receiveFile(const std::string& path) {
        line(machine.config.OutofFile != 0);
        TransferContext ctx = contextWith(opener());
        return ReceiveNcFile(ctx, path.c_str(), &outcome);
    }

    static std::string bytesOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    const std::string old = "%\r\nO0001 OLD PROGRAM\r\n%\r\n";
    std::string part;
};

TEST_F(ReceiveIntoFile, oldProgramStaysWholeWhileTheNewOneArrivesThenIsReplaced) {
    line().input("%\nO0002\nG01X1\n", 0);
    line().input("M30\n%", 2'000'000);
    bool checked = false;
    host.onPump = [&] {
        // Half-way through, the old program is still all there under its name.
        if (!checked && clock.now() > 1'000'000) {
            checked = true;
            EXPECT_EQ(bytesOf(target), old);
        }
        if (clock.now() > 60'000'000)
            state.InterruptRequest = 1;
    };

    EXPECT_EQ(receiveFile(target), ReceiveDone);

    EXPECT_TRUE(checked);
    EXPECT_EQ(targetBytes(), "%\r\nO0002\r\nG01X1\r\nM30\r\n%\r\n");
    EXPECT_FALSE(std::filesystem::exists(part));
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u); // the program keeps its permissions
    EXPECT_EQ(closingLines(), (Lines{"==== Completed Receive ====", "FILE [ " + target + " ]"}));
}

// Interrupted in the middle (Esc, or the window closed): the old program is untouched and
// the lines that did arrive are in NAME.part, as the log says.
TEST_F(ReceiveIntoFile, interruptedReceiveKeepsTheOldProgramAndWhatArrivedAside) {
    line().input("%\nO0002\nG01X1\nG01", 0);
    interruptAtMicros = 5'000'000;

    EXPECT_EQ(receiveFile(target), ReceiveInterrupted);

    EXPECT_EQ(targetBytes(), old);
    EXPECT_EQ(bytesOf(part), "%\r\nO0002\r\nG01X1\r\n");
    EXPECT_EQ(closingLines(),
              (Lines{"==== Interrupted Receive ====",
                     "What arrived is kept in " + part + "; " + target + " was not changed."}));
}

// Stopped while waiting for the machine, or a time-out before any data: nothing replaces the
// old program and no empty NAME.part is left behind.
TEST_F(ReceiveIntoFile, stoppedBeforeAnyDataLeavesTheOldProgramAndNoPart) {
    interruptAtMicros = 3'000'000;
    line(); // the machine never sends
    EXPECT_EQ(receiveFile(target), ReceiveInterrupted);
    EXPECT_EQ(targetBytes(), old);
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(host.logTexts().back(), "Nothing arrived; " + target + " was not changed.");
}

TEST_F(ReceiveIntoFile, timeOutBeforeAnyDataLeavesTheOldProgramAndNoPart) {
    machine.config.PtrTimeOut = 2000;
    line();
    EXPECT_EQ(receiveFile(target), ReceiveDone);
    EXPECT_EQ(targetBytes(), old);
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(host.logTexts().back(), "Nothing arrived; " + target + " was not changed.");
}

TEST_F(ReceiveIntoFile, portThatDoesNotOpenLeavesTheOldProgram) {
    failOpen = true;
    receiveFile(target);
    EXPECT_EQ(targetBytes(), old);
    EXPECT_FALSE(std::filesystem::exists(part));
}

// A new file is made as before, even when nothing arrived.
TEST_F(ReceiveIntoFile, newTargetIsCreated) {
    std::filesystem::remove(target);
    line().input("%\nG1\n%", 0);
    EXPECT_EQ(receiveFile(target), ReceiveDone);
    EXPECT_EQ(targetBytes(), "%\r\nG1\r\n%\r\n");
}

// A link stays a link: the program it names is replaced.
TEST_F(ReceiveIntoFile, linkedTargetReplacesTheProgramItNames) {
    const std::string link = target + ".lnk";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    line().input("%\nG2\n%", 0);
    EXPECT_EQ(receiveFile(link), ReceiveDone);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(targetBytes(), "%\r\nG2\r\n%\r\n");
    EXPECT_EQ(ReceivePartPath(link), part);
}

} // namespace
} // namespace corvane::testing
