// corvane-cli send --restart-at against the simulated machine tool over a pseudo-terminal:
// the dry run opens no port, refusals send nothing, and a restart puts on the wire exactly
// what a plain send of its dry-run text puts there.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

class CliProcess : public ChildProcess {
public:
    bool start(const std::vector<std::string>& args) {
        return ChildProcess::start(CORVANE_CLI_PATH, args);
    }
};

// ISO with Xon/Xoff, leaders and trailers, CR LF, comments removed, no pause between
// characters: the framing a restart must share with a plain send.
const char* const IsoMachine = "[MCN_RS232C]\n"
                               "BaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
                               "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
                               "[MCN_Config]\n"
                               "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
                               "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=0\n";

// A mould insert of four tools, some 45 KB: facing, pocketing passes, a drilled pattern with
// G99 cycles and a finishing contour under cutter compensation. `toolLines` gets the line of
// each tool change (T1 first).
std::string mouldProgram(std::vector<int>& toolLines) {
    std::string p = "%\nO4711 (MOULD INSERT)\n(MATERIAL 1.2311)\nN1 G21 G17 G90 G94 G40 G80\n";
    int line = 4;
    auto add = [&](const std::string& text) {
        p += text + "\n";
        ++line;
    };
    char buffer[160];
    for (int tool = 1; tool <= 4; ++tool) {
        add("G91 G28 Z0");
        add("T" + std::to_string(tool) + " M06 (TOOL " + std::to_string(tool) + ")");
        toolLines.push_back(line);
        std::snprintf(buffer, sizeof buffer, "G00 G90 G5%d X-5. Y-5. S%d M03",
                      tool % 2 == 0 ? 5 : 4, 2000 + tool * 1000);
        add(buffer);
        std::snprintf(buffer, sizeof buffer, "G43 H%d Z25. M08", tool);
        add(buffer);
        if (tool == 3) {
            add("G99 G81 Z-8. R2. F150.");
            for (int hole = 0; hole < 120; ++hole) {
                std::snprintf(buffer, sizeof buffer, "X%d. Y%d.", 5 + (hole % 12) * 8,
                              5 + (hole / 12) * 8);
                add(buffer);
            }
            add("G80");
            add("G00 Z25.");
        } else {
            for (int pass = 0; pass < 110; ++pass) {
                std::snprintf(buffer, sizeof buffer, "G00 X%d.5 Y-5.", pass);
                add(buffer);
                std::snprintf(buffer, sizeof buffer, "Z2.");
                add(buffer);
                std::snprintf(buffer, sizeof buffer, "G01 Z-%d.25 F400.", 1 + pass % 4);
                add(buffer);
                for (int step = 0; step < 4; ++step) {
                    std::snprintf(buffer, sizeof buffer, "X%d.125 Y%d.875 F1200.", pass + step,
                                  10 + step * 20);
                    add(buffer);
                }
                add("G00 Z5.");
            }
            if (tool == 4) {
                add("G00 X-10. Y-10.");
                add("G01 Z-3. F300.");
                add("G41 D4 X0 Y0 F600.");
                add("Y80.");
                add("X100.");
                add("Y0");
                add("X0");
                add("G40 X-10. Y-10.");
                add("G00 Z25.");
            }
        }
        add("M09");
    }
    add("G91 G28 Z0");
    add("M30");
    add("%");
    return p;
}

std::string tailFrom(const std::string& program, int line) {
    size_t at = 0;
    for (int i = 1; i < line; ++i)
        at = program.find('\n', at) + 1;
    return program.substr(at);
}

class CliRestart : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvane-cli-restart-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        writeFile(file("corvane.cfg"), "");
        writeFile(file("ISO.MDF"), IsoMachine);
        m_program = mouldProgram(m_toolLines);
        writeFile(file("O4711.NC"), m_program);
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
    std::string m_program;
    std::vector<int> m_toolLines;
};

TEST_F(CliRestart, dryRunPrintsTheRestartedProgramAndNeverTouchesThePort) {
    ASSERT_GT(m_program.size(), 40'000u);
    CliProcess dry;
    ASSERT_TRUE(dry.start(cli({"send", "--restart-at", "T3", "--dry-run", "-m", file("ISO.MDF"),
                               "-p", "/dev/corvane-no-such-port", file("O4711.NC")})));
    ASSERT_EQ(dry.wait(30000), 0) << dry.err();
    const int line = m_toolLines[2];
    const std::string head =
        "%\nO4711 (MOULD INSERT)\n(RESTART AT T3 LINE " + std::to_string(line) +
        ")\n"
        // The reference return before the change left G91 on; the old
        // tool's offset and its speed stay until the program sets H3 and S5000.
        "G21 G17 G94 G55 G40 G80\nG43 H2\nS4000\nG91 G00 F1200.\n";
    EXPECT_EQ(dry.out().substr(0, head.size()), head);
    EXPECT_TRUE(dry.out() == head + tailFrom(m_program, line));
    EXPECT_EQ(dry.err(), "");

    // The same command without --dry-run does try that port.
    CliProcess real;
    ASSERT_TRUE(real.start(cli({"send", "-q", "--restart-at", "T3", "-m", file("ISO.MDF"), "-p",
                                "/dev/corvane-no-such-port", file("O4711.NC")})));
    EXPECT_EQ(real.wait(30000), 3) << real.out() << real.err();
}

TEST_F(CliRestart, aRestartOnTheWireEqualsAPlainSendOfItsDryRun) {
    // Inside the second tool's work, at the rapid that starts pass 30.
    const int line = m_toolLines[1] + 3 + 30 * 8;
    ASSERT_EQ(tailFrom(m_program, line).substr(0, 12), "G00 X30.5 Y-") << line;
    const std::string where = "L" + std::to_string(line);

    CliProcess dry;
    ASSERT_TRUE(dry.start(cli(
        {"send", "--restart-at", where, "--dry-run", "-m", file("ISO.MDF"), file("O4711.NC")})));
    ASSERT_EQ(dry.wait(30000), 0) << dry.err();
    EXPECT_NE(dry.out().find("(RESTART AT LINE " + std::to_string(line) +
                             ")\nG21 G17 G94 G55 G40 G80\nT2 M06\nS4000 M03\n"
                             "G90 G00 X32.125 Y70.875\nG90 G00 G43 H2 Z5.\nM08\n"
                             "G90 G00 F1200.\nG00 X30.5 Y-5.\n"),
              std::string::npos)
        << dry.out().substr(0, 400);
    writeFile(file("DRY.NC"), dry.out());

    CliProcess plain;
    ASSERT_TRUE(plain.start(
        cli({"send", "-q", "-m", file("ISO.MDF"), "-o", file("PLAIN.TAP"), file("DRY.NC")})));
    ASSERT_EQ(plain.wait(30000), 0) << plain.out() << plain.err();
    const std::string expected = readFile(file("PLAIN.TAP"));
    ASSERT_GT(expected.size(), 20'000u);

    CliProcess toFile;
    ASSERT_TRUE(toFile.start(cli({"send", "-q", "--restart-at", where, "-m", file("ISO.MDF"), "-o",
                                  file("RESTART.TAP"), file("O4711.NC")})));
    ASSERT_EQ(toFile.wait(30000), 0) << toFile.out() << toFile.err();
    EXPECT_TRUE(readFile(file("RESTART.TAP")) == expected);

    // Over a pseudo-terminal, as fast as the machine takes it.
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--record", file("machine.bin"), "--exit-after-ms", "60000"}))
        << sim.errors();
    CliProcess send;
    ASSERT_TRUE(send.start(cli({"send", "--no-pace", "--restart-at", where, "-m", file("ISO.MDF"),
                                "-p", sim.device(), file("O4711.NC")})));
    ASSERT_EQ(send.wait(60000), 0) << send.out() << send.err();
    ASSERT_TRUE(sim.wait(20000).has_value());
    const std::string wire = readFile(file("machine.bin"));
    EXPECT_EQ(wire.size(), expected.size());
    EXPECT_TRUE(wire == expected);
    EXPECT_NE(sim.output().find("alarms 0"), std::string::npos) << sim.output();
    // The log names the program the operator chose.
    EXPECT_NE(send.out().find("/O4711.NC ] ===="), std::string::npos) << send.out().substr(0, 300);
}

TEST_F(CliRestart, aRefusedRestartNamesTheBlockAndSendsNothing) {
    // The fifth hole of the G99 cycle.
    const int line = m_toolLines[2] + 3 + 5;
    CliProcess run;
    ASSERT_TRUE(run.start(cli({"send", "--restart-at", "L" + std::to_string(line), "-m",
                               file("ISO.MDF"), "-o", file("OUT.TAP"), file("O4711.NC")})));
    EXPECT_EQ(run.wait(30000), 2);
    EXPECT_EQ(run.out(), "");
    EXPECT_NE(run.err().find("cannot restart at L" + std::to_string(line) + " (line " +
                             std::to_string(line) + "): it is inside a canned cycle (G81 at line " +
                             std::to_string(m_toolLines[2] + 3)),
              std::string::npos)
        << run.err();
    EXPECT_NE(run.err().find("Nearest earlier places to restart: "), std::string::npos);
    EXPECT_NE(run.err().find("T3 (line " + std::to_string(m_toolLines[2]) + ")"), std::string::npos)
        << run.err();
    EXPECT_FALSE(fs::exists(file("OUT.TAP")));
}

TEST_F(CliRestart, commandLineMistakesAreUsageErrors) {
    writeFile(file("B.NC"), "M30\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"not a place",
         {"send", "--restart-at", "X5", "--dry-run", file("O4711.NC")},
         "'X5' is not a restart place"},
        {"no place", {"send", file("O4711.NC"), "--restart-at"}, "--restart-at needs a place"},
        {"two programs",
         {"send", "--restart-at", "T2", "--dry-run", file("O4711.NC"), file("B.NC")},
         "exactly one NC file"},
        {"dry run alone", {"send", "--dry-run", file("O4711.NC")}, "--dry-run goes with"},
        {"a tool the program lacks",
         {"send", "--restart-at", "T9", "--dry-run", file("O4711.NC")},
         "the program has no change to tool T9"},
        {"a line past the end",
         {"send", "--restart-at", "L99999", "--dry-run", file("O4711.NC")},
         "lines"},
    };
    for (const Case& c : cases) {
        CliProcess run;
        ASSERT_TRUE(run.start(cli(c.args))) << c.what;
        EXPECT_EQ(run.wait(20000), 2) << c.what << "\n" << run.out() << run.err();
        EXPECT_NE(run.err().find(c.message), std::string::npos) << c.what << "\n" << run.err();
        EXPECT_EQ(run.out(), "") << c.what;
    }
}

} // namespace
} // namespace corvane::testing
