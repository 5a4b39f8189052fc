// corvane-cli send and receive against the simulated machine tool over a pseudo-terminal: the
// bytes the machine records, the file a receive leaves, the log lines and the exit statuses.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/SimProcess.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// corvane-cli as a child process in English, with its output collected and a deadline on
// every wait.
class CliProcess : public ChildProcess {
public:
    bool start(const std::vector<std::string>& args) {
        return ChildProcess::start(CORVANE_CLI_PATH, args);
    }
};

// An ISO machine with Xon/Xoff that waits for DC1, 5 nulls before and 3 after, % before and
// after, a line feed first, CR LF line ends, comments removed. The Wait of 1 ms paces the host
// the way a serial line's baud rate would; a pseudo-terminal has none.
const char* const IsoMachine = "[MCN_RS232C]\n"
                               "BaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
                               "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
                               "[MCN_Config]\n"
                               "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
                               "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=1\n"
                               "PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n";

// The same framing in EIA. Its receive side runs without Xon/Xoff: under EIA the digit 3 is
// the byte 0x13 on the wire, which a DC-code flow control would take for XOFF.
const char* const EiaMachine = "[MCN_RS232C]\n"
                               "BaudRate=5\nHandShake=1\nOutCode=1\n"
                               "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
                               "[MCN_Config]\n"
                               "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
                               "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=0\n"
                               "PtrBegin=1\nPtrEof=1\nRecvSpace=2\nPtrTimeOut=5000\n";

const char* const PunchedProgram = "%\n"
                                   "O0001 (TEST PART)\n"
                                   "G21 G90 G54\n"
                                   "G00 X0 Y0 S1200 M03\n"
                                   "G01 X-12.5 Y30. F250.\n"
                                   "M30\n"
                                   "%\n";

const char* const PunchedProgramCrLf = "%\r\n"
                                       "O0001 (TEST PART)\r\n"
                                       "G21 G90 G54\r\n"
                                       "G00 X0 Y0 S1200 M03\r\n"
                                       "G01 X-12.5 Y30. F250.\r\n"
                                       "M30\r\n"
                                       "%\r\n";

class CliTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvane-cli-transfer-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        writeFile(file("corvane.cfg"), "");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string file(const std::string& name) const { return m_dir + "/" + name; }

    std::vector<std::string> cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--cfg", file("corvane.cfg")});
        return args;
    }

    std::string m_dir;
};

// A program long enough to fill the machine's 32-character buffer several times.
const char* const LongProgram = "O0002(HOLDS)\n"
                                "G21G90G17\n"
                                "T1M06\n"
                                "G00X10.Y10.S3000M03\n"
                                "G43H01Z5.\n"
                                "G01Z-1.F100.\n"
                                "X20.F400.\n"
                                "Y20.\n"
                                "X10.\n"
                                "Y10.\n"
                                "G00Z5.\n"
                                "X30.Y30.\n"
                                "G01Z-1.F100.\n"
                                "X40.F400.\n"
                                "Y40.\n"
                                "X30.\n"
                                "Y30.\n"
                                "G00Z50.M05\n"
                                "M30\n";

TEST_F(CliTransfer, isoSendThroughXonXoffHoldsArrivesByteForByte) {
    writeFile(file("ISO.MDF"), IsoMachine);
    writeFile(file("HOLDS.NC"), LongProgram);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--cps", "300", "--buffer",
                           "32", "--high", "16", "--low", "4", "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess send;
    ASSERT_TRUE(
        send.start(cli({"send", "-m", file("ISO.MDF"), "-p", sim.device(), file("HOLDS.NC")})));
    ASSERT_EQ(send.wait(60000), 0) << send.out() << send.err();
    ASSERT_TRUE(sim.wait(10000).has_value());

    const std::string expected = std::string("\x12\0\0\0\0\0%\r\n", 9) +
                                 "O0002\r\n"
                                 "G21G90G17\r\n"
                                 "T1M06\r\n"
                                 "G00X10.Y10.S3000M03\r\n"
                                 "G43H01Z5.\r\n"
                                 "G01Z-1.F100.\r\n"
                                 "X20.F400.\r\n"
                                 "Y20.\r\n"
                                 "X10.\r\n"
                                 "Y10.\r\n"
                                 "G00Z5.\r\n"
                                 "X30.Y30.\r\n"
                                 "G01Z-1.F100.\r\n"
                                 "X40.F400.\r\n"
                                 "Y40.\r\n"
                                 "X30.\r\n"
                                 "Y30.\r\n"
                                 "G00Z50.M05\r\n"
                                 "M30\r\n" +
                                 std::string("%\0\0\0\x14", 5);
    EXPECT_EQ(readFile(file("machine.bin")), expected);
    // The machine held the line in the middle of the send and never overflowed.
    EXPECT_NE(sim.output().find("alarms 0"), std::string::npos) << sim.output();
    EXPECT_EQ(sim.output().find("holds 0,"), std::string::npos) << sim.output();
    EXPECT_NE(send.out().find("-----> [Xon(DC1)] Waiting for a signal..."), std::string::npos)
        << send.out();
    EXPECT_NE(send.out().find("00001: O0002\n"), std::string::npos) << send.out();
    EXPECT_NE(send.out().find("==== Completed Send [170] byte ===="), std::string::npos)
        << send.out();
}

TEST_F(CliTransfer, eiaSendGoesOutInTapeCode) {
    writeFile(file("EIA.MDF"), EiaMachine);
    writeFile(file("SHORT.NC"), "G01X-1.5(CUT)\nM30\n");
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess send;
    ASSERT_TRUE(send.start(
        cli({"send", "-q", "-m", file("EIA.MDF"), "-p", sim.device(), file("SHORT.NC")})));
    ASSERT_EQ(send.wait(60000), 0) << send.out() << send.err();
    ASSERT_TRUE(sim.wait(10000).has_value());

    // DC2, five nulls, %, end of block, G01X-1.5, end of block, M30, end of block, %, three
    // nulls, DC4.
    const std::string expected("\x12\x00\x00\x00\x00\x00\x0B\x80"
                               "\x67\x20\x01\x37\x40\x01\x6B\x15\x80"
                               "\x54\x13\x20\x80"
                               "\x0B\x00\x00\x00\x14",
                               26);
    EXPECT_EQ(readFile(file("machine.bin")), expected);
    // Quiet: only the port and the closing line.
    EXPECT_EQ(send.out(), "Port: " + sim.device() + "\n==== Completed Send [24] byte ====\n");
}

// The machine file's own port, written with a blank in front as an editor may leave it: opened
// as the device it names, not as a file of that name in the current folder.
TEST_F(CliTransfer, theMachineFilesPortNameOpensTheDeviceItNames) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--exit-after-ms", "60000"}))
        << sim.errors();
    std::string machine = IsoMachine;
    machine.replace(machine.find("PtpStop=20\n"), 11,
                    "PtpStop=20\nPortName= " + sim.device() + "\n");
    writeFile(file("NAMED.MDF"), machine);
    writeFile(file("SHORT.NC"), "G01X1.\nM30\n");

    CliProcess send;
    ASSERT_TRUE(send.start(cli({"send", "-q", "-m", file("NAMED.MDF"), file("SHORT.NC")})));
    ASSERT_EQ(send.wait(60000), 0) << send.out() << send.err();
    ASSERT_TRUE(sim.wait(10000).has_value());
    EXPECT_NE(readFile(file("machine.bin")).find("G01X1.\r\nM30\r\n"), std::string::npos);
}

TEST_F(CliTransfer, isoReceiveStoresThePunchedProgram) {
    writeFile(file("ISO.MDF"), IsoMachine);
    writeFile(file("PUNCH.NC"), PunchedProgram);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", file("PUNCH.NC"), "--code", "iso", "--line-end",
                           "crlf", "--parity", "even", "--leader", "20", "--cps", "2000",
                           "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess receive;
    ASSERT_TRUE(receive.start(
        cli({"receive", "-m", file("ISO.MDF"), "-p", sim.device(), file("RECV.NC")})));
    ASSERT_EQ(receive.wait(60000), 0) << receive.out() << receive.err();

    EXPECT_EQ(readFile(file("RECV.NC")), PunchedProgramCrLf);
    EXPECT_EQ(receive.out(), "Port: " + sim.device() +
                                 "\n"
                                 "     : [DC1] Send...\n"
                                 "00001: %\n"
                                 "00002: O0001 (TEST PART)\n"
                                 "00003: G21 G90 G54\n"
                                 "00004: G00 X0 Y0 S1200 M03\n"
                                 "00005: G01 X-12.5 Y30. F250.\n"
                                 "00006: M30\n"
                                 "00007: %\n"
                                 "     : [DC3] Send...\n"
                                 "\n"
                                 "==== Completed Receive ====\n"
                                 "FILE [ " +
                                 file("RECV.NC") + " ]\n");
}

TEST_F(CliTransfer, eiaReceiveStoresThePunchedProgram) {
    std::string machine = EiaMachine;
    machine.replace(machine.find("HandShake=1"), 11, "HandShake=0");
    writeFile(file("EIA.MDF"), machine);
    writeFile(file("PUNCH.NC"), PunchedProgram);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", file("PUNCH.NC"), "--code", "eia", "--leader",
                           "30", "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess receive;
    ASSERT_TRUE(receive.start(
        cli({"receive", "-q", "-m", file("EIA.MDF"), "-p", sim.device(), file("RECV.NC")})));
    ASSERT_EQ(receive.wait(60000), 0) << receive.out() << receive.err();

    EXPECT_EQ(readFile(file("RECV.NC")), PunchedProgramCrLf);
    EXPECT_EQ(receive.out(), "Port: " + sim.device() + "\n==== Completed Receive ====\nFILE [ " +
                                 file("RECV.NC") + " ]\n");
}

TEST_F(CliTransfer, ctrlCInterruptsAReceiveAndKeepsTheLinesStored) {
    writeFile(file("ISO.MDF"), IsoMachine);
    std::string machine = IsoMachine;
    machine.replace(machine.find("PtrTimeOut=5000"), 15, "PtrTimeOut=0");
    writeFile(file("ISO.MDF"), machine);
    writeFile(file("PUNCH.NC"), "%\nG01X1.\nG01X2.\n"); // never reaches its closing %
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", file("PUNCH.NC"), "--end-code", "none",
                           "--linger-ms", "30000", "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess receive;
    ASSERT_TRUE(receive.start(
        cli({"receive", "-m", file("ISO.MDF"), "-p", sim.device(), file("RECV.NC")})));
    ASSERT_TRUE(receive.waitForOutput("00003: G01X2.", 20000)) << receive.out();
    receive.signal(SIGINT);
    ASSERT_EQ(receive.wait(20000), 1) << receive.out() << receive.err();

    // The lines that arrived are kept beside the target, which the broken receive leaves
    // alone (here: does not create).
    EXPECT_EQ(readFile(file("RECV.NC.part")), "%\r\nG01X1.\r\nG01X2.\r\n");
    EXPECT_FALSE(std::filesystem::exists(file("RECV.NC")));
    EXPECT_NE(receive.out().find("\n==== Interrupted Receive ====\n"), std::string::npos);
    EXPECT_NE(receive.out().find("What arrived is kept in " + file("RECV.NC.part")),
              std::string::npos)
        << receive.out();
}

TEST_F(CliTransfer, exitStatusesTellWhatWentWrong) {
    writeFile(file("ISO.MDF"), IsoMachine);
    std::string fileMachine = IsoMachine;
    fileMachine.replace(fileMachine.find("OutofFile=0"), 11, "OutofFile=1");
    fileMachine.replace(fileMachine.find("PtrTimeOut=5000"), 15, "PtrTimeOut=300");
    writeFile(file("FILE.MDF"), fileMachine);
    writeFile(file("EMPTY.TAP"), "");
    writeFile(file("A.NC"), "G00X0\n");
    std::string badPort = IsoMachine;
    badPort.replace(badPort.find("PtpStop=20\n"), 11, "PtpStop=20\nPortName=rfc2217://mill-3:0\n");
    writeFile(file("BADPORT.MDF"), badPort);

    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {"no files", {"send", "-m", file("ISO.MDF")}, 2},
        {"unknown option", {"send", "-x", file("A.NC")}, 2},
        {"device file missing", {"receive", "-m", file("FILE.MDF"), file("R.NC")}, 2},
        {"target is the device file",
         {"receive", "-m", file("FILE.MDF"), "-i", file("EMPTY.TAP"), file("EMPTY.TAP")},
         2},
        {"no such port",
         {"send", "-m", file("ISO.MDF"), "-p", file("no-such-tty"), file("A.NC")},
         3},
        {"no such NC file", {"send", "-m", file("ISO.MDF"), file("MISSING.NC")}, 3},
        {"network port without its port number",
         {"send", "-m", file("ISO.MDF"), "-p", "tcp://mill-3", file("A.NC")},
         2},
        {"machine file naming a malformed port",
         {"send", "-m", file("BADPORT.MDF"), file("A.NC")},
         2},
        {"device server refusing",
         {"send", "-m", file("ISO.MDF"), "-p", "tcp://127.0.0.1:1", file("A.NC")},
         3},
        {"target folder missing",
         {"receive", "-m", file("FILE.MDF"), "-i", file("EMPTY.TAP"), file("none/R.NC")},
         3},
        {"time-out", {"receive", "-m", file("FILE.MDF"), "-i", file("EMPTY.TAP"), file("R.NC")}, 4},
    };
    for (const Case& c : cases) {
        CliProcess run;
        ASSERT_TRUE(run.start(cli(c.args))) << c.what;
        EXPECT_EQ(run.wait(20000), c.status) << c.what << "\n" << run.out() << run.err();
        // Every failure is told: on stderr, or in the closing lines of the transfer.
        if (c.status != 4) {
            EXPECT_TRUE(!run.err().empty() || run.out().find("====") != std::string::npos)
                << c.what;
        }
    }
    EXPECT_EQ(readFile(file("EMPTY.TAP")), ""); // a receive never writes into its device file
}

// A fresh configuration has no machine; its defaults would point at COM1, and a send there
// reaches whatever is plugged in. Without -m, -p or a machine in the configuration nothing is
// sent; otherwise the first line says where the bytes go.
TEST_F(CliTransfer, aTransferNamesItsPortFirstAndNeverGuessesOne) {
    writeFile(file("ISO.MDF"), IsoMachine);
    writeFile(file("A.NC"), "G00X0\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"send", file("A.NC")},
          std::vector<std::string>{"send", "-q", file("A.NC")},
          std::vector<std::string>{"receive", file("R.NC")}}) {
        CliProcess run;
        ASSERT_TRUE(run.start(cli(args)));
        EXPECT_EQ(run.wait(20000), 2) << args[0] << run.out() << run.err();
        EXPECT_EQ(run.out(), "");
        EXPECT_NE(run.err().find("-m MACHINE.MDF"), std::string::npos) << run.err();
        EXPECT_NE(run.err().find("-p PORT"), std::string::npos) << run.err();
    }
    EXPECT_FALSE(fs::exists(file("R.NC")));

    {
        // A port alone is enough: the machine's other settings are the defaults.
        CliProcess run;
        ASSERT_TRUE(run.start(cli({"send", "-q", "-p", "tcp://127.0.0.1:1", file("A.NC")})));
        EXPECT_EQ(run.wait(20000), 3) << run.out() << run.err();
        EXPECT_EQ(run.out().substr(0, run.out().find('\n')), "Port: tcp://127.0.0.1:1");
    }
    {
        std::string machine = IsoMachine;
        machine.replace(machine.find("OutofFile=0"), 11, "OutofFile=1");
        writeFile(file("FILE.MDF"), machine);
        CliProcess run;
        ASSERT_TRUE(run.start(
            cli({"send", "-q", "-m", file("FILE.MDF"), "-o", file("OUT.TAP"), file("A.NC")})));
        EXPECT_EQ(run.wait(20000), 0) << run.out() << run.err();
        EXPECT_EQ(run.out().substr(0, run.out().find('\n')), "Device file: " + file("OUT.TAP"));
    }

    // The machine the window keeps inside the configuration counts as the current one.
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--exit-after-ms", "60000"}))
        << sim.errors();
    std::string inConfig = IsoMachine;
    inConfig.replace(inConfig.find("PtpStop=20\n"), 11,
                     "PtpStop=20\nPortName=" + sim.device() + "\n");
    writeFile(file("corvane.cfg"), inConfig);
    CliProcess send;
    ASSERT_TRUE(send.start(cli({"send", file("A.NC")})));
    ASSERT_EQ(send.wait(60000), 0) << send.out() << send.err();
    ASSERT_TRUE(sim.wait(10000).has_value());
    EXPECT_EQ(send.out().substr(0, send.out().find('\n')), "Port: " + sim.device());
    EXPECT_NE(readFile(file("machine.bin")).find("G00X0\r\n"), std::string::npos);
}

TEST_F(CliTransfer, sendIntoADeviceFileWritesTheWholeStream) {
    std::string machine = IsoMachine;
    machine.replace(machine.find("SendDelay=1"), 11, "SendDelay=0");
    writeFile(file("ISO.MDF"), machine);
    writeFile(file("A.NC"), "G00X0\n");
    writeFile(file("B.NC"), "M30\n");

    CliProcess send;
    ASSERT_TRUE(send.start(cli(
        {"send", "-q", "-m", file("ISO.MDF"), "-o", file("OUT.TAP"), file("A.NC"), file("B.NC")})));
    ASSERT_EQ(send.wait(20000), 0) << send.out() << send.err();
    EXPECT_EQ(readFile(file("OUT.TAP")),
              std::string("\x12\0\0\0\0\0%\r\nG00X0\r\nM30\r\n%\0\0\0\x14", 26));
}

// Waits until `path` holds at least `bytes` bytes; false after `timeoutMs`.
bool waitForFileSize(const std::string& path, uintmax_t bytes, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        std::error_code error;
        if (fs::exists(path, error) && fs::file_size(path, error) >= bytes)
            return true;
        ::usleep(10000);
    }
    return false;
}

// A USB adapter pulled in the middle of a send: the machine's end of the pseudo-terminal goes
// away, writes fail, and the send ends at once with a message instead of waiting forever.
TEST_F(CliTransfer, machineThatVanishesMidSendEndsTheSendAtOnce) {
    writeFile(file("ISO.MDF"), IsoMachine);
    std::string program;
    for (int i = 0; i < 400; ++i)
        program += "G01X" + std::to_string(i) + ".Y10.F300.\n";
    writeFile(file("LONG.NC"), program);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--cps", "400", "--buffer",
                           "64", "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess send;
    ASSERT_TRUE(
        send.start(cli({"send", "-m", file("ISO.MDF"), "-p", sim.device(), file("LONG.NC")})));
    ASSERT_TRUE(waitForFileSize(file("machine.bin"), 200, 20000));
    sim.kill();

    const auto status = send.wait(10000);
    ASSERT_NE(status, 0) << send.out() << send.err();
    EXPECT_NE(send.err().find("The connection to the port was lost."), std::string::npos)
        << send.err();
    EXPECT_NE(send.out().find("==== Interrupted Send ===="), std::string::npos) << send.out();
    EXPECT_EQ(send.out().find("Completed"), std::string::npos) << send.out();
}

// The same during a receive: every line stored before the machine went away is kept in
// RECV.NC.part (the target keeps what it held), and the receive is not reported as completed.
TEST_F(CliTransfer, machineThatVanishesMidReceiveKeepsTheStoredLines) {
    writeFile(file("ISO.MDF"), IsoMachine);
    std::string program = "%\n";
    for (int i = 0; i < 400; ++i)
        program += "G01X" + std::to_string(i) + ".Y10.F300.\n";
    writeFile(file("PUNCH.NC"), program);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"punch", "--program", file("PUNCH.NC"), "--code", "iso", "--parity",
                           "even", "--cps", "400", "--exit-after-ms", "60000"}))
        << sim.errors();

    CliProcess receive;
    ASSERT_TRUE(receive.start(
        cli({"receive", "-m", file("ISO.MDF"), "-p", sim.device(), file("RECV.NC")})));
    writeFile(file("RECV.NC"), "%\r\nO0001 (OLD)\r\n%\r\n");
    ASSERT_TRUE(waitForFileSize(file("RECV.NC.part"), 100, 20000));
    sim.kill();

    const auto status = receive.wait(10000);
    ASSERT_TRUE(status.has_value()) << "the receive did not end";
    EXPECT_NE(*status, 0) << receive.out() << receive.err();
    EXPECT_EQ(receive.out().find("Completed Receive"), std::string::npos) << receive.out();
    // What was stored is a prefix of the program, in whole lines with CR LF.
    EXPECT_EQ(readFile(file("RECV.NC")), "%\r\nO0001 (OLD)\r\n%\r\n");
    const std::string stored = readFile(file("RECV.NC.part"));
    ASSERT_GE(stored.size(), 100u);
    EXPECT_EQ(stored.substr(stored.size() - 2), "\r\n");
    std::string expected = program;
    for (size_t at = 0; (at = expected.find('\n', at)) != std::string::npos; at += 2)
        expected.replace(at, 1, "\r\n");
    EXPECT_EQ(expected.substr(0, stored.size()), stored);
}

// A file that would reach the machine changed is not sent at all: a line over one block, a
// binary file, a non-ASCII character on a 7-bit line (a comment the machine keeps). The file
// and line are named on stderr, the exit status is 3 and the device file is never written.
TEST_F(CliTransfer, fileThatCannotGoOutUnchangedIsNotSent) {
    std::string machine = IsoMachine;
    machine.replace(machine.find("Comment=0"), 9, "Comment=1");
    writeFile(file("ISO.MDF"), machine);
    writeFile(file("GOOD.NC"), "G00X0\n");
    writeFile(file("LONG.NC"), "%\nG01" + std::string(600, '1') + "\n%\n");
    writeFile(file("BIN.NC"), std::string("G00\n\0\x01\x02\n", 8));
    writeFile(file("JA.NC"), "%\nG00X0\nG01X1. (\xE5\x8A\xA0\xE5\xB7\xA5)\n%\n");
    const struct {
        const char* name;
        std::string named;
    } cases[] = {
        {"LONG.NC", file("LONG.NC") + ", line 2: the line is 603 characters long"},
        {"BIN.NC", file("BIN.NC") + ", line 2: the file holds a NUL byte"},
        {"JA.NC", file("JA.NC") + ", line 3, column 9: this character cannot be carried by the "
                                  "machine's ISO code"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CliProcess send;
        ASSERT_TRUE(send.start(cli({"send", "-q", "-m", file("ISO.MDF"), "-o", file("OUT.TAP"),
                                    file("GOOD.NC"), file(c.name)})));
        EXPECT_EQ(send.wait(20000), 3) << send.out() << send.err();
        EXPECT_NE(send.err().find(c.named), std::string::npos) << send.err();
        EXPECT_FALSE(fs::exists(file("OUT.TAP")));
    }
}

} // namespace
} // namespace corvane::testing
