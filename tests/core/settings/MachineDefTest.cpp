#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "SettingsFiles.h"
#include "settings/MachineDef.h"

namespace corvane {
namespace {

using test::readFile;
using test::TempFolder;
using test::writeFile;

static_assert(sizeof(MachineLine) == 11 * 4 + 260, "MachineLine compared bytewise");

bool sameMachine(const MachineDef& a, const MachineDef& b) {
    return std::memcmp(&a.line, &b.line, sizeof a.line) == 0 &&
           std::memcmp(&a.config, &b.config, sizeof a.config) == 0;
}

MachineDef defaults() {
    MachineDef machine;
    MachineDefSetDefaults(machine.line, machine.config);
    return machine;
}

// Every field away from its default, so a key lost on the way shows up.
MachineDef unusualMachine() {
    MachineDef m = defaults();
    m.line = {3, 7, 1, 1, 0, 5, 2, 0x91, 0x93, 0x92, 0x94, "/dev/ttyUSB1"};
    MachineConfig& c = m.config;
    c.ErCode = 3;
    c.TVCheck = 2;
    c.LfCode = 3;
    c.Comment = 1;
    c.HeadLf = 0;
    c.NnoBase = 10000000;
    c.NnoIncr = 5;
    c.PtpNull[0] = 5;
    c.PtpNull[2] = 2;
    c.PtpSpace[0] = 1000;
    c.PtpSpace[1] = 7;
    c.PtpSpace[2] = 9;
    c.SendSpace = 1;
    c.RecvSpace = 2;
    c.WordBreak = 1;
    c.PtrBegin = 1;
    c.PtrEof = 3;
    c.DeleteErCode = 1;
    c.SendDelay = 1000;
    c.PtrTimeOut = 100000;
    std::strcpy(c.PtrUser0, "12,0D");
    std::strcpy(c.PtrUser1, " leading and trailing ");
    std::strcpy(c.PtpUser0, "\"quoted\"");
    std::strcpy(c.PtpUser1, "a;b,c");
    std::strcpy(c.PtpUser2, "x=y");
    std::strcpy(c.DefDir, "/home/shop/nc programs");
    std::strcpy(c.DefExt, "nc");
    c.Xoff = 1;
    c.OutofFile = 1;
    std::strcpy(c.SendSkipCode, "/1 /2");
    std::strcpy(c.SendSkipLine, "O9");
    std::strcpy(c.ReceiveSkipCode, "M30");
    std::strcpy(c.ReceiveSkipLine, "(");
    return m;
}

// "[Section]" and "Key" of every line, in file order.
std::vector<std::string> layout(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        names.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
    }
    return names;
}

TEST(MachineDef, defaultsAreTheDocumentedOnes) {
    MachineDef m;
    std::memset(static_cast<void*>(&m), 0x5A, sizeof m);
    EXPECT_EQ(MachineDefSetDefaults(m.line, m.config), 1);
    const MachineLine& l = m.line;
    EXPECT_EQ(l.PortNo, 0);
    EXPECT_EQ(l.BaudRate, 5);
    EXPECT_EQ(l.DataLen, 0);
    EXPECT_EQ(l.Parity, 2);
    EXPECT_EQ(l.Stop, 1);
    EXPECT_EQ(l.HandShake, 7);
    EXPECT_EQ(l.OutCode, 0);
    EXPECT_EQ(l.PtrStart, 0x11);
    EXPECT_EQ(l.PtrStop, 0x13);
    EXPECT_EQ(l.PtpStart, 0x12);
    EXPECT_EQ(l.PtpStop, 0x14);
    EXPECT_STREQ(l.PortName, "");
    EXPECT_EQ(m.config.LfCode, 1);
    EXPECT_EQ(m.config.HeadLf, 1);
    // Everything else is zero bytes, text buffers included.
    MachineConfig expected;
    std::memset(static_cast<void*>(&expected), 0, sizeof expected);
    expected.LfCode = 1;
    expected.HeadLf = 1;
    EXPECT_EQ(std::memcmp(&expected, &m.config, sizeof expected), 0);
    EXPECT_EQ(l.PortName[259], 0);
}

TEST(MachineDef, writtenFileReadsBackTheSameDefinition) {
    TempFolder folder;
    const std::string path = folder.file("LATHE.MDF");
    const MachineDef written = unusualMachine();
    ASSERT_EQ(MachineDefWrite(path.c_str(), written.line, written.config), 1);

    MachineDef read = defaults();
    EXPECT_EQ(MachineDefRead(path.c_str(), read.line, read.config), 1);
    EXPECT_TRUE(sameMachine(written, read)) << readFile(path);
}

TEST(MachineDef, fileHoldsSectionsAndKeysInFormatOrder) {
    TempFolder folder;
    const std::string path = folder.file("ORDER.MDF");
    const MachineDef m = defaults();
    ASSERT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 1);
    const std::vector<std::string> expected = {
        "[MCN_Info]",     "Version",      "[MCN_RS232C]", "PortNo",       "BaudRate",
        "DataLen",        "Parity",       "Stop",         "HandShake",    "OutCode",
        "PtrStart",       "PtrStop",      "PtpStart",     "PtpStop",      "PortName",
        "[MCN_Config]",   "OutofFile",    "SendSpace",    "RecvSpace",    "Xoff",
        "ErCode",         "TVCheck",      "LfCode",       "Comment",      "HeadLf",
        "NnoBase",        "NnoIncr",      "PtpNull",      "PtpSpace",     "PtrBegin",
        "PtrEof",         "DeleteErCode", "SendDelay",    "PtrTimeOut",   "PtrUser0",
        "PtrUser1",       "PtpUser0",     "PtpUser1",     "PtpUser2",     "DefDir",
        "DefExt",         "WordBreak",    "SendSkipCode", "SendSkipLine", "ReceiveSkipCode",
        "ReceiveSkipLine"};
    const std::string text = readFile(path);
    EXPECT_EQ(layout(text), expected) << text;
    EXPECT_NE(text.find("PtrStart=17"), std::string::npos) << text;
}

TEST(MachineDef, writingAlwaysStoresVersion180) {
    TempFolder folder;
    const std::string path = folder.file("OLD.MDF");
    writeFile(path, "[MCN_Info]\r\nVersion=120\r\n[MCN_RS232C]\r\nBaudRate=3\r\n");
    MachineDef m = defaults();
    MachineDefRead(path.c_str(), m.line, m.config);
    ASSERT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 1);
    const std::string text = readFile(path);
    EXPECT_NE(text.find("Version=180"), std::string::npos) << text;
    EXPECT_EQ(text.find("120"), std::string::npos) << text;
}

TEST(MachineDef, readingIsAnOverlay) {
    TempFolder folder;
    const std::string path = folder.file("BAUD.MDF");
    writeFile(path, "[MCN_RS232C]\nBaudRate=7\n");

    MachineDef fresh = defaults();
    MachineDefRead(path.c_str(), fresh.line, fresh.config);
    MachineDef expected = defaults();
    expected.line.BaudRate = 7;
    EXPECT_TRUE(sameMachine(expected, fresh));

    // Over a machine loaded before, its processing group and other line keys stay.
    MachineDef previous = unusualMachine();
    MachineDefRead(path.c_str(), previous.line, previous.config);
    expected = unusualMachine();
    expected.line.BaudRate = 7;
    EXPECT_TRUE(sameMachine(expected, previous));
}

TEST(MachineDef, missingOrUnreadableFileChangesNothing) {
    TempFolder folder;
    MachineDef m = unusualMachine();
    // Nothing was read, and the callers are told so.
    EXPECT_EQ(MachineDefRead(folder.file("NONE.MDF").c_str(), m.line, m.config), 0);
    EXPECT_EQ(MachineDefRead(folder.path().c_str(), m.line, m.config), 0); // a folder
    EXPECT_EQ(MachineDefRead(nullptr, m.line, m.config), 0);
    EXPECT_TRUE(sameMachine(unusualMachine(), m));

    std::string error;
    EXPECT_EQ(MachineDefReadFile(folder.file("NONE.MDF").c_str(), m.line, m.config, &error), 0);
    EXPECT_NE(error.find("NONE.MDF"), std::string::npos) << error;
}

// A machine file chosen by the user is the whole machine: keys it lacks take their defaults,
// never the values of the machine loaded before it. Anything that is not a machine file
// leaves the machine in use as it was, with the reason.
TEST(MachineDef, wholeReadStartsFromTheDefaultsAndRefusesWhatIsNoMachineFile) {
    TempFolder folder;
    const std::string port = folder.file("PORT.MDF");
    writeFile(port, "[MCN_RS232C]\nPortName=/dev/ttyS4\nBaudRate=7\n");
    MachineDef m = unusualMachine();
    std::string error;
    ASSERT_EQ(MachineDefReadWhole(port.c_str(), m, &error), 1) << error;
    MachineDef expected = defaults();
    expected.line.BaudRate = 7;
    std::strcpy(expected.line.PortName, "/dev/ttyS4");
    EXPECT_TRUE(sameMachine(expected, m));
    EXPECT_TRUE(MachineDefSame(expected, m));
    EXPECT_FALSE(MachineDefSame(unusualMachine(), m));

    const std::string random = folder.file("RANDOM.MDF");
    std::string noise;
    for (int i = 0; i < 600; ++i)
        noise += static_cast<char>((i * 73 + 11) % 256);
    writeFile(random, noise);
    const std::string program = folder.file("PROGRAM.MDF");
    writeFile(program, "%\nO1000\nG00 X0=1\n%\n");
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {{folder.file("GONE.MDF"), "no such file"},
                          {random, "not a machine definition"},
                          {program, "not a machine definition"},
                          {folder.path(), ""}};
    for (const Case& c : cases) {
        MachineDef kept = unusualMachine();
        error.clear();
        EXPECT_EQ(MachineDefReadWhole(c.path.c_str(), kept, &error), 0) << c.path;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(error.empty()) << c.path;
        EXPECT_TRUE(sameMachine(unusualMachine(), kept)) << c.path;
    }
}

TEST(MachineDef, extensionLosesEverythingUpToItsLastDot) {
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {{"*.NC", "NC"}, {".nc", "nc"},      {".", ""},
                          {"tap", "tap"}, {"a.b.txt", "txt"}, {"", ""}};
    TempFolder folder;
    const std::string path = folder.file("EXT.MDF");
    for (const Case& c : cases) {
        writeFile(path, std::string("[MCN_Config]\nDefExt=") + c.stored + "\n");
        MachineDef m = defaults();
        MachineDefRead(path.c_str(), m.line, m.config);
        EXPECT_STREQ(m.config.DefExt, c.expected) << c.stored;
        ASSERT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 1);
        EXPECT_NE(readFile(path).find(std::string("DefExt=") + c.expected + "\n"),
                  std::string::npos)
            << readFile(path);
    }
}

TEST(MachineDef, readsAFileAsTheWindowsProgramWroteIt) {
    TempFolder folder;
    const std::string path = folder.file("MILL.MDF");
    // CR LF, keys in another order, sections of other programs, blanks, quotes.
    writeFile(path, "; shop floor copy\r\n"
                    "[Other]\r\nPortNo=9\r\n"
                    "[MCN_Config]\r\n"
                    "DefExt=*.NC\r\n"
                    "PtpNull=5,0,2\r\n"
                    "PtpSpace=1;2;3\r\n"
                    "PtpUser0=\"  G90 \"\r\n"
                    "SendSkipCode=/1\r\n"
                    "UnknownKey=1\r\n"
                    "lfcode = 2\r\n"
                    "[mcn_rs232c]\r\n"
                    "PtpStop=148\r\n"
                    "PortNo=255\r\n"
                    "[MCN_Info]\r\nVersion=180\r\n");
    MachineDef m = defaults();
    MachineDefRead(path.c_str(), m.line, m.config);
    EXPECT_EQ(m.line.PortNo, 255);
    EXPECT_EQ(m.line.PtpStop, 148);
    EXPECT_EQ(m.config.LfCode, 2);
    EXPECT_STREQ(m.config.DefExt, "NC");
    EXPECT_EQ(m.config.PtpNull[0], 5); // before
    EXPECT_EQ(m.config.PtpNull[1], 0); // after
    EXPECT_EQ(m.config.PtpNull[2], 2); // middle
    EXPECT_EQ(m.config.PtpSpace[2], 3);
    EXPECT_STREQ(m.config.PtpUser0, "  G90 ");
    EXPECT_STREQ(m.config.SendSkipCode, "/1");
    EXPECT_EQ(m.line.BaudRate, 5);
}

TEST(MachineDef, outOfRangeValuesAreStoredAsRead) {
    TempFolder folder;
    const std::string path = folder.file("ODD.MDF");
    writeFile(path, "[MCN_RS232C]\nBaudRate=12\nOutCode=-1\n[MCN_Config]\nLfCode=9\n");
    MachineDef m = defaults();
    MachineDefRead(path.c_str(), m.line, m.config);
    EXPECT_EQ(m.line.BaudRate, 12);
    EXPECT_EQ(m.line.OutCode, -1);
    EXPECT_EQ(m.config.LfCode, 9);
}

TEST(MachineDef, textLongerThanItsBufferIsCut) {
    TempFolder folder;
    const std::string path = folder.file("LONG.MDF");
    writeFile(path, "[MCN_Config]\nPtpUser0=" + std::string(300, 'x') + "\n");
    MachineDef m = defaults();
    MachineDefRead(path.c_str(), m.line, m.config);
    EXPECT_EQ(std::strlen(m.config.PtpUser0), 255u);
}

TEST(MachineDef, writeKeepsTheOtherSectionsOfTheFile) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    writeFile(path, "[CFG_Setting]\r\nEcho=0\r\n[MCN_RS232C]\r\nBaudRate=1\r\n");
    const MachineDef m = unusualMachine();
    ASSERT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 1);
    const std::string text = readFile(path);
    EXPECT_NE(text.find("[CFG_Setting]\r\nEcho=0\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("BaudRate=1\r"), std::string::npos) << text;
}

TEST(MachineDef, writeIntoMissingFolderFails) {
    TempFolder folder;
    const MachineDef m = defaults();
    const std::string path = folder.file("no/such/folder/X.MDF");
    std::string error;
    EXPECT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 0);
    EXPECT_EQ(MachineDefWriteFile(path.c_str(), m.line, m.config, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(MachineDef, writeIntoReadOnlyFolderLeavesTheOldFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "folder permissions do not hold for root; see the file-size test";
    }
    TempFolder folder;
    const std::string path = folder.file("KEEP.MDF");
    writeFile(path, "[MCN_RS232C]\nBaudRate=3\n");
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_read |
                                                    std::filesystem::perms::owner_exec);
    const MachineDef m = defaults();
    EXPECT_EQ(MachineDefWrite(path.c_str(), m.line, m.config), 0);
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(readFile(path), "[MCN_RS232C]\nBaudRate=3\n");
}

// A write that runs out of room half way (here: a file-size limit, which holds for root too)
// must leave the previous file whole, not a cut one.
TEST(MachineDef, failedWriteLeavesTheOldFileWhole) {
    TempFolder folder;
    const std::string path = folder.file("KEEP.MDF");
    const std::string old = "[MCN_RS232C]\nBaudRate=3\n";
    writeFile(path, old);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{200, 200};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const MachineDef m = unusualMachine();
        ::_exit(MachineDefWrite(path.c_str(), m.line, m.config) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the cut write was reported as success";
    EXPECT_EQ(readFile(path), old);
}

} // namespace
} // namespace corvane
