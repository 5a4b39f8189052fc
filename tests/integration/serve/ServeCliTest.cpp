// corvane-cli serve with the simulated machine on a pseudo-terminal. The line's port is a
// link that each run of cnc-sim places anew, as a device server or a re-plugged adapter would
// bring the port back; the service is given a short retry so the suite stays quick.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "core/support/TempDir.h"
#include "serve/Journal.h"
#include "support/ChildProcess.h"
#include "support/Digest.h"
#include "support/JsonLine.h"
#include "support/Ser2netProcess.h"
#include "support/ServedMachine.h"
#include "support/SimProcess.h"

namespace corvane::testing {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

const char* const IsoMachine = ServedIsoMachine;

const char* const Program = "%\nO0001 (TEST PART)\nG21 G90 G54\nG00 X0 Y0 S1200 M03\nM30\n%\n";

struct Record {
    JsonObject fields;
    std::string text(const char* key) const { return jsonString(fields, key).value_or(""); }
};

// Programs O2001 ... O2005, each with blocks of its own.
std::vector<std::string> fivePrograms(const std::string& afterPercent) {
    std::vector<std::string> programs;
    for (int n = 1; n <= 5; ++n) {
        std::string text = "%\nO200" + std::to_string(n) + " (PART " + std::to_string(n) + ")\n";
        for (int i = 0; i < 10 * n; ++i)
            text += "G01 X" + std::to_string(n) + "." + std::to_string(i) + " F300.\n";
        programs.push_back(text + "M30\n%" + afterPercent);
    }
    return programs;
}

// What the service files for a punched program: its lines, each ended with CR LF.
std::string filedAs(const std::string& program) {
    std::string out;
    std::istringstream lines(program);
    std::string line;
    while (std::getline(lines, line))
        out += line + "\r\n";
    return out;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class ServeCli : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(file("corvane.cfg"), "");
        writeFile(file("ISO.MDF"), IsoMachine);
        fs::create_directory(file("lib"));
        writeFile(file("lib/O0012.NC"), "%\nO0012 (FACE)\nG00 X0 Y0\nG01 X50. F300.\nM30\n%\n");
    }
    void TearDown() override {
        if (m_serve && !m_serve->exited()) {
            m_serve->signal(SIGTERM);
            m_serve->wait(10000);
        }
    }

    std::string file(const std::string& name) const { return m_dir.file(name); }
    std::string port() const { return file("tty"); }

    // From a line file as the service unit starts it, its paths taken from the file's folder;
    // options given beside it win.
    void startServe(std::vector<std::string> extra = {}) {
        fs::create_directories(file("lines"));
        writeFile(file("lines/mill1.ini"),
                  "[Line]\nMachine=../ISO.MDF\nPort=" + (m_linePort.empty() ? port() : m_linePort) +
                      "\nInbox=../inbox\nLibrary=../lib\n"
                      "RequestDelay=60000\n" +
                      m_lineKeys);
        m_serve = std::make_unique<ChildProcess>();
        std::vector<std::string> args{
            "--cfg",          file("corvane.cfg"), "serve", "--request-delay-ms",
            m_requestDelayMs, "--retry-ms",        "200"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(file("lines/mill1.ini"));
        ASSERT_TRUE(m_serve->start(CORVANE_CLI_PATH, args));
    }

    // The machine on the line's port for one run; the previous run must have ended.
    void startSim(SimProcess& sim, std::vector<std::string> args) {
        args.insert(args.end(), {"--link", port(), "--exit-after-ms", "30000"});
        ASSERT_TRUE(sim.start(args)) << sim.errors();
    }

    // Waits until the journal holds `count` records, then reads them all.
    std::vector<Record> journal(size_t count, int timeoutMs = 20000) {
        const long long deadline = steadyNowMs() + timeoutMs;
        std::vector<Record> records;
        for (;;) {
            records.clear();
            std::istringstream lines(readFile(file("inbox/journal.jsonl")));
            std::string line;
            while (std::getline(lines, line)) {
                const JsonParse parsed = parseFlatJsonObject(line);
                EXPECT_TRUE(parsed.object) << parsed.error << ": " << line;
                if (parsed.object)
                    records.push_back({*parsed.object});
            }
            if (records.size() >= count || steadyNowMs() >= deadline)
                break;
            m_serve->pump(50);
        }
        EXPECT_EQ(records.size(), count) << m_serve->out() << m_serve->err();
        // A record's digest is that of the file it names, and the byte count its size (for
        // the newest record of a name: an older one's file has since become NAME.~N~).
        std::set<std::string> checked;
        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            const Record& r = *it;
            const std::string path = r.text("file");
            if (r.text("direction") == "receive" && !path.empty() && checked.insert(path).second) {
                EXPECT_EQ(r.text("sha256"), sha256OfFile(path)) << path;
                EXPECT_EQ(jsonNumber(r.fields, "bytes").value_or(-1),
                          static_cast<double>(fs::file_size(path)));
            }
        }
        return records;
    }

    // What the machine records when it asks with `request`: the reply, from the host's next
    // open of the port on.
    std::string ask(const std::string& request, size_t recordsAfter) {
        writeFile(file("REQ.NC"), request);
        fs::remove(file("reply.bin"));
        SimProcess sim;
        startSim(sim, {"request", "--program", file("REQ.NC"), "--record", file("reply.bin")});
        EXPECT_EQ(sim.wait(20000), 0) << sim.errors();
        journal(recordsAfter);
        return readFile(file("reply.bin"));
    }

    // The inbox as a person listing it sees it: the hidden file of a listen in progress is
    // not a program.
    std::vector<std::string> inboxNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(file("inbox")))
            if (entry.path().filename().string().front() != '.')
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Five programs punched back to back, the second straight after the first and the others after
    // 0.2, 0.5 and 1 s: all but the first arrive while the service is still busy with the one
    // before (filing it, sending its end code, pausing before the next listen), that is before the
    // start code it sends for them.
    // Returns what the machine reported (its events with -v in `extra`).
    std::string punchFiveInARow(const std::string& afterPercent,
                                const std::vector<std::string>& extra) {
        const std::vector<std::string> programs = fivePrograms(afterPercent);
        std::vector<std::string> args = {"punch"};
        for (size_t i = 0; i < programs.size(); ++i) {
            const std::string path = file("P" + std::to_string(i + 1) + ".NC");
            writeFile(path, programs[i]);
            args.insert(args.end(), {"--program", path});
        }
        args.insert(args.end(), {"--gaps-ms", "0,200,500,1000", "--cps", "2000"});
        args.insert(args.end(), extra.begin(), extra.end());
        SimProcess sim;
        startSim(sim, args);
        const std::vector<Record> records = journal(5);
        EXPECT_EQ(sim.wait(20000), 0) << sim.errors();
        EXPECT_EQ(records.size(), 5u);
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].text("result"), "completed") << records[i].text("message");
            EXPECT_EQ(records[i].text("file"), file("inbox/O200" + std::to_string(i + 1) + ".NC"));
            EXPECT_EQ(readFile(records[i].text("file")), filedAs(programs[i])) << i;
        }
        EXPECT_TRUE(!fs::exists(file("inbox/failed")) || fs::is_empty(file("inbox/failed")));
        return sim.errors();
    }

    // The line's port is ser2net in front of the machine's link, raw or RFC 2217.
    void behindDeviceServer(Ser2netProcess& server, bool telnet) {
        const std::string accepter = telnet ? "telnet(rfc2217),tcp" : "tcp";
        ASSERT_TRUE(server.start(fs::path(port()).parent_path().string(), accepter, port()))
            << server.errors();
        m_linePort =
            std::string(telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(server.port);
    }

    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_serve;
    std::string m_linePort; // the line's port when not the machine's pty
    std::string m_lineKeys; // more keys of the line file
    std::string m_requestDelayMs = "100";
};

TEST_F(ServeCli, FilesByProgramNumberKeepsOlderVersionsAndStampsTheRest) {
    // What a receive from the terminal stores, to compare with.
    writeFile(file("PUNCH.NC"), Program);
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC"), "--leader", "10"});
        ChildProcess receive;
        ASSERT_TRUE(
            receive.start(CORVANE_CLI_PATH, {"--cfg", file("corvane.cfg"), "receive", "-q", "-m",
                                             file("ISO.MDF"), "-p", port(), file("RECV.NC")}));
        ASSERT_EQ(receive.wait(20000), 0) << receive.err();
        ASSERT_EQ(sim.wait(10000), 0);
    }

    startServe();
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC"), "--leader", "10"});
        journal(1);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    EXPECT_EQ(readFile(file("inbox/O0001.NC")), readFile(file("RECV.NC")));

    writeFile(file("PUNCH.NC"), "%\nO0001 (SECOND)\nM30\n%\n");
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC")});
        journal(2);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    writeFile(file("PUNCH.NC"), "%\n(NO NUMBER)\nG00 X1\n%\n");
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC")});
        journal(3);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    const auto records = journal(3);
    EXPECT_EQ(readFile(file("inbox/O0001.NC")), "%\r\nO0001 (SECOND)\r\nM30\r\n%\r\n");
    EXPECT_EQ(readFile(file("inbox/O0001.NC.~1~")), readFile(file("RECV.NC")));
    const std::string stamped = fs::path(records[2].text("file")).filename().string();
    EXPECT_EQ(stamped.rfind("mill1-", 0), 0u) << stamped;
    EXPECT_EQ(stamped.size(), std::string("mill1-20261209-071502.NC").size()) << stamped;
    for (const Record& r : records)
        EXPECT_EQ(r.text("result"), "completed");
    EXPECT_NE(m_serve->out().find("[mill1] "), std::string::npos);

    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0);
}

TEST_F(ServeCli, RequestsAreAnsweredFromTheLibraryOnly) {
    // What the terminal's send puts on the wire for the same program.
    {
        SimProcess sim;
        startSim(sim, {"read", "--record", file("send.bin")});
        ChildProcess send;
        ASSERT_TRUE(
            send.start(CORVANE_CLI_PATH, {"--cfg", file("corvane.cfg"), "send", "-q", "-m",
                                          file("ISO.MDF"), "-p", port(), file("lib/O0012.NC")}));
        ASSERT_EQ(send.wait(20000), 0) << send.err();
        ASSERT_EQ(sim.wait(10000), 0);
    }
    startServe();

    EXPECT_EQ(ask("%\n(REQ = O0012)\n%\n", 1), readFile(file("send.bin")));

    const std::string listing = ask("%\n(PRG=DIRLIST)\n%\n", 2);
    EXPECT_NE(listing.find("(O0012.NC "), std::string::npos) << listing;

    EXPECT_NE(ask("%\n(REQ=O0099)\n%\n", 3).find("(NOT FOUND O0099)"), std::string::npos);

    writeFile(file("secret.NC"), "%\n(SECRET)\n%\n");
    const std::string refused = ask("%\n(REQ=../secret.NC)\n%\n", 4);
    EXPECT_NE(refused.find("(REFUSED ../secret.NC)"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("SECRET"), std::string::npos);

    // A hidden file is not the library's, whatever its name.
    writeFile(file("lib/.secret"), "%\n(HIDDEN)\n%\n");
    const std::string hidden = ask("%\n(REQ=.secret)\n%\n", 5);
    EXPECT_NE(hidden.find("(REFUSED .secret)"), std::string::npos) << hidden;
    EXPECT_EQ(hidden.find("HIDDEN"), std::string::npos);

    const auto records = journal(5);
    const char* const results[] = {"completed", "completed", "not-found", "refused", "refused"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].text("direction"), "send");
        EXPECT_EQ(records[i].text("result"), results[i]);
    }
    EXPECT_EQ(records[0].text("request"), "O0012");
    EXPECT_EQ(records[0].text("file"), file("lib/O0012.NC"));
    EXPECT_EQ(records[0].text("sha256"), sha256OfFile(file("lib/O0012.NC")));
    // A request is a question, not a program: nothing of it is filed -- but a refused one is
    // kept in failed/ as it came, and its record says where.
    EXPECT_EQ(inboxNames(), (std::vector<std::string>{"failed", "journal.jsonl"}));
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(file("inbox/failed")))
        kept.push_back(readFile(entry.path().string()));
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_NE(kept[0].find("(REQ=../secret.NC)"), std::string::npos) << kept[0];
    EXPECT_NE(kept[1].find("(REQ=.secret)"), std::string::npos) << kept[1];
    EXPECT_NE(records[3].text("message").find("the request is kept as " + file("inbox/failed/")),
              std::string::npos)
        << records[3].text("message");
}

// The library's program punched back from the control, as it is and changed, and the same
// program asked to be compared instead of filed; comments set aside by the line file.
TEST_F(ServeCli, ProgramsAreComparedWithTheLibraryAndCompareRequestsAnswered) {
    const std::string face = "%\nO0012 (FACE)\nG00 X0 Y0\nG01 X50. F300.\nM30\n%\n";
    const std::string changed = "%\nO0012 (FACE)\nG00 X0 Y0\nG01 X55. F300.\nM30\n%\n";
    writeFile(file("lib/O0012.NC"), face);
    m_lineKeys = "CompareIgnore=comments\n";
    startServe();

    auto punch = [this](const std::string& program, size_t records) {
        writeFile(file("PUNCH.NC"), program);
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC")});
        journal(records);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    };
    // A comment the control changed is set aside by the line file.
    punch("%\nO0012 (FACE REV B)\nG00 X0 Y0\nG01 X50. F300.\nM30\n%\n", 1);
    punch(changed, 2);
    EXPECT_EQ(readFile(file("inbox/O0012.NC.diff")),
              "--- " + file("lib/O0012.NC") + "\n+++ " + file("inbox/O0012.NC") +
                  "\n@@ -1,6 +1,6 @@\n %\n O0012 (FACE)\n G00 X0 Y0\n-G01 X50. F300.\n"
                  "+G01 X55. F300.\n M30\n %\n");

    EXPECT_NE(ask("%\n(CMP=O0012)\n" + face.substr(2), 3).find("(SAME AS O0012)"),
              std::string::npos);
    const std::string differs = ask("%\n(CMP=O0012)\n" + changed.substr(2), 4);
    EXPECT_NE(differs.find("(DIFFERS FROM O0012 AT LINE 5)"), std::string::npos) << differs;

    const auto records = journal(4);
    const char* const verdicts[] = {"identical", "differs", "identical", "differs"};
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i].text("direction"), "receive");
        EXPECT_EQ(records[i].text("result"), "completed");
        EXPECT_EQ(records[i].text("compare"), verdicts[i]);
        EXPECT_EQ(records[i].text("against"), file("lib/O0012.NC"));
    }
    EXPECT_EQ(jsonNumber(records[1].fields, "differing").value_or(-1), 1);
    EXPECT_EQ(jsonNumber(records[1].fields, "at_line").value_or(-1), 4);
    EXPECT_EQ(records[1].text("diff"), file("inbox/O0012.NC.diff"));
    EXPECT_EQ(records[2].text("request"), "O0012");
    EXPECT_EQ(records[2].text("file"), "");
    EXPECT_EQ(jsonNumber(records[3].fields, "at_line").value_or(-1), 5);
    // The control's differing version is kept apart with its diff; the inbox's is untouched.
    EXPECT_EQ(records[3].text("file"), file("inbox/compared/O0012.NC"));
    EXPECT_NE(readFile(file("inbox/compared/O0012.NC.diff")).find("+G01 X55. F300.\n"),
              std::string::npos);
    EXPECT_EQ(inboxNames(), (std::vector<std::string>{"O0012.NC", "O0012.NC.diff", "O0012.NC.~1~",
                                                      "compared", "failed", "journal.jsonl"}));
    EXPECT_NE(
        m_serve->out().find("differs from " + file("lib/O0012.NC") + " in 1 line, first at line 4"),
        std::string::npos)
        << m_serve->out();
}

// A misspelt word would compare differently from what the shop meant: refused at the start.
TEST_F(ServeCli, AnUnknownCompareIgnoreWordIsRefusedAtStart) {
    fs::create_directory(file("lines"));
    writeFile(file("lines/mill3.ini"), "[Line]\nMachine=../ISO.MDF\nInbox=../in3\nLibrary=../lib\n"
                                       "CompareIgnore=comments,blanks\n");
    ChildProcess fromFile;
    ASSERT_TRUE(fromFile.start(CORVANE_CLI_PATH,
                               {"--cfg", file("corvane.cfg"), "serve", file("lines/mill3.ini")}));
    EXPECT_EQ(fromFile.wait(10000), 2);
    EXPECT_NE(fromFile.err().find("'blanks'"), std::string::npos) << fromFile.err();

    // The option wins over the line file, and is checked the same way.
    ChildProcess option;
    ASSERT_TRUE(
        option.start(CORVANE_CLI_PATH, {"--cfg", file("corvane.cfg"), "serve", "--compare-ignore",
                                        "Spaces,comment", file("lines/mill3.ini")}));
    EXPECT_EQ(option.wait(10000), 2);
    EXPECT_NE(option.err().find("'comment'"), std::string::npos) << option.err();
}

// "(REQ=O0030 T2)" at the control: the machine gets exactly what the terminal's restart send
// of the same program puts on the wire; a place that cannot be restarted is answered with why.
TEST_F(ServeCli, ARestartRequestSendsWhatTheTerminalsRestartSends) {
    std::string program = "%\nO0030 (POCKET)\nG21 G17 G90 G94 G54\nT1 M06\n"
                          "G00 X0 Y0 S3000 M03\nG43 H1 Z5. M08\n";
    for (int i = 0; i < 150; ++i)
        program += "G01 Z-1. F200.\nX" + std::to_string(i) + ". Y40.\nG00 Z5.\n";
    program += "G91 G28 Z0\nT2 M06\nG00 G90 X10. Y10. S1500 M03\nG43 H2 Z5.\n"
               "G41 D2 G01 X20. F150.\nY30.\nG40 G00 X10.\nM30\n%\n";
    writeFile(file("lib/O0030.NC"), program);
    {
        SimProcess sim;
        startSim(sim, {"read", "--record", file("send.bin")});
        ChildProcess send;
        ASSERT_TRUE(send.start(CORVANE_CLI_PATH,
                               {"--cfg", file("corvane.cfg"), "send", "-q", "--restart-at", "T2",
                                "-m", file("ISO.MDF"), "-p", port(), file("lib/O0030.NC")}));
        ASSERT_EQ(send.wait(20000), 0) << send.err();
        ASSERT_EQ(sim.wait(10000), 0);
    }
    startServe();

    const std::string wire = ask("%\n(REQ=O0030 T2)\n%\n", 1);
    EXPECT_EQ(wire, readFile(file("send.bin")));
    EXPECT_NE(wire.find("T2 M06"), std::string::npos);
    EXPECT_EQ(wire.find("T1 M06"), std::string::npos);

    const std::string refused =
        ask("%\n(REQ=O0030 L" + std::to_string(7 + 150 * 3 + 6) + ")\n%\n", 2);
    EXPECT_NE(refused.find("(RESTART REFUSED O0030.NC L"), std::string::npos) << refused;
    EXPECT_NE(refused.find("CUTTER"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("G41"), refused.find("G41 AT LINE")) << refused;

    const auto records = journal(2);
    EXPECT_EQ(records[0].text("result"), "completed");
    EXPECT_EQ(records[0].text("request"), "O0030");
    EXPECT_EQ(records[0].text("restart"), "T2");
    EXPECT_EQ(records[0].text("file"), file("lib/O0030.NC"));
    EXPECT_NE(records[0].text("sha256"), sha256OfFile(file("lib/O0030.NC")));
    EXPECT_EQ(records[1].text("result"), "refused");
    EXPECT_EQ(records[1].text("message").rfind("restart refused: cannot restart at L", 0), 0u)
        << records[1].text("message");
    EXPECT_EQ(inboxNames(), (std::vector<std::string>{"failed", "journal.jsonl"}));
}

// A program long enough to be cut in the middle.
std::string longProgram() {
    std::string text = "%\nO0002 (LONG)\n";
    for (int i = 0; i < 200; ++i)
        text += "G01 X" + std::to_string(i) + ". Y" + std::to_string(i) + ". F500.\n";
    return text + "M30\n%\n";
}

TEST_F(ServeCli, AMachineThatVanishesIsFiledAsFailedAndServedAgain) {
    startServe({"--verbose"}); // the blocks in the log show how far the program came
    writeFile(file("LONG.NC"), longProgram());
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("LONG.NC"), "--cps", "400"});
        ASSERT_TRUE(m_serve->waitForOutput("00005:", 20000)) << m_serve->out();
        sim.terminate(); // the line goes away in the middle of the program
        sim.wait(10000);
    }
    const auto failed = journal(1);
    EXPECT_EQ(failed[0].text("result"), "failed");
    EXPECT_EQ(failed[0].text("message"), "the line was lost");
    EXPECT_EQ(fs::path(failed[0].text("file")).parent_path(), fs::path(file("inbox/failed")));

    writeFile(file("PUNCH.NC"), Program);
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("PUNCH.NC")});
    const auto records = journal(2);
    EXPECT_EQ(records[1].text("result"), "completed");
    EXPECT_TRUE(fs::exists(file("inbox/O0001.NC")));
    EXPECT_FALSE(fs::exists(file("inbox/O0002.NC")));
    EXPECT_NE(m_serve->out().find("trying again"), std::string::npos);
}

TEST_F(ServeCli, StopInTheMiddleOfAProgramFilesNothingUnderItsName) {
    startServe({"--verbose"});
    writeFile(file("LONG.NC"), longProgram());
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("LONG.NC"), "--cps", "400"});
    ASSERT_TRUE(m_serve->waitForOutput("00005:", 20000)) << m_serve->out();
    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0) << m_serve->err();

    const auto records = journal(1, 1000);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text("result"), "interrupted");
    EXPECT_EQ(fs::path(records[0].text("file")).parent_path(), fs::path(file("inbox/failed")));
    EXPECT_EQ(inboxNames(), (std::vector<std::string>{"failed", "journal.jsonl"}));
}

// A machine whose receives end by its silence only: a program naming itself "(PRG=...)" is
// filed, not answered; one that stops before its closing "%" is never filed under its name.
TEST_F(ServeCli, SilenceEndsOnlyAWholeProgramAndAProgramIsNeverARequest) {
    std::string machine = IsoMachine;
    machine.replace(machine.find("PtrEof=3"), 8, "PtrEof=0");
    machine.replace(machine.find("PtrTimeOut=5000"), 15, "PtrTimeOut=1500");
    writeFile(file("ISO.MDF"), machine);
    std::string body;
    for (int i = 0; body.size() < 20000; ++i)
        body += "G01 X" + std::to_string(i) + ". Y" + std::to_string(i % 97) + ". F800.\n";
    startServe();

    writeFile(file("BRACKET.NC"),
              "%\nO6001\n(PRG=BRACKET.NC OP20 FIXTURE B)\n" + body + "M30\n%\n");
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("BRACKET.NC"), "--linger-ms", "3000"});
        const auto records = journal(1);
        EXPECT_EQ(records[0].text("direction"), "receive");
        EXPECT_EQ(records[0].text("result"), "completed");
        EXPECT_EQ(records[0].text("file"), file("inbox/O6001.NC"));
        sim.wait(10000);
    }
    // The same machine stops 2,800 bytes into a program and keeps the line open.
    writeFile(file("CUT.NC"), ("%\nO2001 (CUT)\n" + body).substr(0, 2800));
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("CUT.NC"), "--linger-ms", "4000"});
    const auto records = journal(2);
    EXPECT_EQ(records[1].text("result"), "timeout");
    EXPECT_EQ(fs::path(records[1].text("file")).parent_path(), fs::path(file("inbox/failed")));
    EXPECT_FALSE(fs::exists(file("inbox/O2001.NC")));
}

TEST_F(ServeCli, RefusedAtStartWithTheReason) {
    ChildProcess noLibrary;
    ASSERT_TRUE(noLibrary.start(CORVANE_CLI_PATH,
                                {"--cfg", file("corvane.cfg"), "serve", "-m", file("ISO.MDF"),
                                 "--inbox", file("inbox"), "--library", file("missing")}));
    EXPECT_EQ(noLibrary.wait(10000), 3);
    EXPECT_NE(noLibrary.err().find("library"), std::string::npos) << noLibrary.err();

    ChildProcess noMachine;
    ASSERT_TRUE(noMachine.start(CORVANE_CLI_PATH,
                                {"--cfg", file("corvane.cfg"), "serve", "-m", file("NONE.MDF"),
                                 "--inbox", file("inbox"), "--library", file("lib")}));
    EXPECT_EQ(noMachine.wait(10000), 3);

    // Paths in a line file are taken from its folder.
    fs::create_directory(file("lines"));
    writeFile(file("lines/mill2.ini"),
              "[Line]\nMachine=../ISO.MDF\nInbox=../in2\nLibrary=../missing\n");
    ChildProcess fromFile;
    ASSERT_TRUE(fromFile.start(CORVANE_CLI_PATH,
                               {"--cfg", file("corvane.cfg"), "serve", file("lines/mill2.ini")}));
    EXPECT_EQ(fromFile.wait(10000), 3);
    EXPECT_NE(fromFile.err().find(file("missing")), std::string::npos) << fromFile.err();

    // A misspelt key is told, with the key it was probably meant to be; a known key in
    // another case is not.
    writeFile(file("lines/mill3.ini"), "[Line]\nMachine=../ISO.MDF\nInbox=../in3\n"
                                       "Library=../missing\nBrokr=mqtt://127.0.0.1:1\n"
                                       "requestdelay=100\nColour=blue\n");
    ChildProcess misspelt;
    ASSERT_TRUE(misspelt.start(CORVANE_CLI_PATH,
                               {"--cfg", file("corvane.cfg"), "serve", file("lines/mill3.ini")}));
    EXPECT_EQ(misspelt.wait(10000), 3);
    EXPECT_NE(
        misspelt.err().find("unknown key 'Brokr' in [Line] is ignored (did you mean Broker?)"),
        std::string::npos)
        << misspelt.err();
    EXPECT_NE(misspelt.err().find("unknown key 'Colour' in [Line] is ignored\n"), std::string::npos)
        << misspelt.err();
    EXPECT_EQ(misspelt.err().find("requestdelay"), std::string::npos) << misspelt.err();
}

// The journal's chain checked from the command line, with the exit status an auditor's script
// tests: 0 holds (and unchained), 1 broken at the line named, 2 a file that cannot be read.
TEST_F(ServeCli, JournalVerifyExitsByWhatItFinds) {
    serve::Journal journal(file("j.jsonl"));
    for (const char* name : {"/in/O1.NC", "/in/O2.NC", "/in/O3.NC"}) {
        serve::JournalRecord record;
        record.time = "2026-12-09T07:15:02Z";
        record.line = "mill1";
        record.direction = "receive";
        record.file = name;
        ASSERT_EQ(journal.append(record), "");
    }
    auto verify = [&](std::vector<std::string> files, std::string& out, std::string& err) {
        std::vector<std::string> arguments = {"journal", "verify"};
        arguments.insert(arguments.end(), files.begin(), files.end());
        ChildProcess cli;
        EXPECT_TRUE(cli.start(CORVANE_CLI_PATH, arguments));
        const int status = cli.wait(10000).value_or(-1);
        out = cli.out();
        err = cli.err();
        return status;
    };
    std::string out, err;
    EXPECT_EQ(verify({file("j.jsonl")}, out, err), 0) << err;
    EXPECT_EQ(out, "3 records in 1 file: the chain holds\n");

    std::string text = readFile(file("j.jsonl"));
    text.replace(text.find("O2"), 2, "O7");
    writeFile(file("edited.jsonl"), text);
    EXPECT_EQ(verify({file("edited.jsonl")}, out, err), 1);
    EXPECT_EQ(out.rfind("broken: " + file("edited.jsonl") + ":3: ", 0), 0u) << out;

    writeFile(file("old.jsonl"), "{\"time\":\"t\",\"line\":\"mill1\"}\n");
    EXPECT_EQ(verify({file("old.jsonl")}, out, err), 0);
    EXPECT_NE(err.find("unchained"), std::string::npos) << err;

    EXPECT_EQ(verify({file("j.jsonl"), file("none.jsonl")}, out, err), 2);
    EXPECT_NE(err.find(file("none.jsonl") + ": No such file or directory"), std::string::npos)
        << err;
    EXPECT_EQ(verify({}, out, err), 2);
}

// A machine behind a device server, in both of its modes: the service connects to it, files
// what the machine punches, and connects again after the server is killed and restarted.
TEST_F(ServeCli, ServesAMachineBehindADeviceServer) {
    for (const bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "raw");
        fs::remove_all(file("inbox"));
        writeFile(file("PUNCH.NC"), Program);
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC"), "--leader", "10"});
        Ser2netProcess server;
        const std::string accepter = telnet ? "telnet(rfc2217),tcp" : "tcp";
        ASSERT_TRUE(server.start(fs::path(file("tty")).parent_path().string(), accepter, port()))
            << server.errors();
        m_linePort =
            std::string(telnet ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(server.port);
        startServe();
        journal(1);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
        EXPECT_NE(readFile(file("inbox/O0001.NC")).find("O0001 (TEST PART)\r\nG21 G90 G54"),
                  std::string::npos)
            << m_serve->out() << m_serve->err();

        // The server killed under the line and started again on its port: served again.
        server.kill();
        writeFile(file("PUNCH.NC"), "%\nO0002 (AFTER)\nM30\n%\n");
        SimProcess again;
        startSim(again, {"punch", "--program", file("PUNCH.NC")});
        Ser2netProcess restarted;
        restarted.port = server.port;
        ASSERT_TRUE(
            restarted.start(fs::path(file("tty")).parent_path().string(), accepter, port(), true))
            << restarted.errors();
        journal(2, 30000);
        EXPECT_EQ(readFile(file("inbox/O0002.NC")), "%\r\nO0002 (AFTER)\r\nM30\r\n%\r\n")
            << m_serve->out() << m_serve->err();
        m_serve->signal(SIGTERM);
        EXPECT_EQ(m_serve->wait(10000), 0);
    }
}

// One service per inbox: a second one is refused at start and names the first, which serves
// on undisturbed; the log has one line per transfer, not the program's blocks.
TEST_F(ServeCli, ASecondServiceOnTheSameInboxIsRefusedNamingTheFirst) {
    startServe();
    ASSERT_TRUE(m_serve->waitForOutput("serving", 10000)) << m_serve->err();
    ChildProcess second;
    ASSERT_TRUE(second.start(CORVANE_CLI_PATH,
                             {"--cfg", file("corvane.cfg"), "serve", file("lines/mill1.ini")}));
    EXPECT_EQ(second.wait(10000), 3);
    EXPECT_NE(second.err().find("another service (pid " + std::to_string(m_serve->pid()) + ")"),
              std::string::npos)
        << second.err();

    writeFile(file("PUNCH.NC"), Program);
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("PUNCH.NC")});
    const auto records = journal(1);
    EXPECT_EQ(records[0].text("result"), "completed");
    EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    // The log line may reach us a moment after the journal's record.
    EXPECT_TRUE(m_serve->waitForOutput("receive completed: " + file("inbox/O0001.NC"), 10000))
        << m_serve->out();
    EXPECT_EQ(m_serve->out().find("G21 G90 G54"), std::string::npos) << m_serve->out();
}

// A reply cut short by SIGKILL (a power cut, an OOM kill): the next start records an
// interrupted send, not an unfinished receive, and files nothing of it in failed/.
TEST_F(ServeCli, AReplyCutShortBySigkillIsRecordedAsAnInterruptedSendAtTheNextStart) {
    std::string text = "%\nO0003 (LONG REPLY)\n";
    for (int i = 0; text.size() < 40000; ++i)
        text += "G01 X" + std::to_string(i) + ". Y" + std::to_string(i % 89) + ". F900.\n";
    writeFile(file("lib/O0003.NC"), text + "M30\n%\n");
    writeFile(file("REQ.NC"), "%\n(REQ=O0003)\n%\n");
    startServe();
    SimProcess sim;
    startSim(sim, {"request", "--program", file("REQ.NC"), "--record", file("reply.bin")});
    ASSERT_TRUE(m_serve->waitForOutput("request for O0003", 20000)) << m_serve->out();
    // The copy being sent is there while the reply goes out.
    const long long deadline = steadyNowMs() + 20000;
    auto sending = [this] {
        for (const auto& entry : fs::directory_iterator(file("inbox")))
            if (entry.path().filename().string().rfind(".sending-", 0) == 0)
                return true;
        return false;
    };
    while (!sending() && steadyNowMs() < deadline)
        m_serve->pump(20);
    ASSERT_TRUE(sending());
    m_serve->signal(SIGKILL);
    m_serve->wait(10000);
    sim.terminate();
    sim.wait(10000);

    startServe();
    const auto records = journal(1);
    EXPECT_EQ(records[0].text("direction"), "send");
    EXPECT_EQ(records[0].text("result"), "interrupted");
    EXPECT_NE(records[0].text("message").find("unfinished send"), std::string::npos);
    EXPECT_NE(records[0].text("message").find("O0003.NC"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(file("inbox/failed")));
    EXPECT_FALSE(sending());
}

// The journal's folder taken away under a running service: the record waits in memory and is
// written when the folder is back; a journal that never takes one (a full device) gets it in
// the log at the stop instead of losing it.
TEST_F(ServeCli, ARecordTheJournalRefusedIsWrittenWhenItCan) {
    fs::create_directory(file("j"));
    startServe({"--journal", file("j/journal.jsonl")});
    ASSERT_TRUE(m_serve->waitForOutput("serving", 10000)) << m_serve->err();
    fs::rename(file("j"), file("j-away"));

    writeFile(file("PUNCH.NC"), Program);
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("PUNCH.NC")});
    const long long deadline = steadyNowMs() + 20000;
    while (m_serve->err().find("records are kept") == std::string::npos && steadyNowMs() < deadline)
        m_serve->pump(50);
    ASSERT_NE(m_serve->err().find("No such file or directory"), std::string::npos)
        << m_serve->err();
    EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    fs::create_directory(file("j"));
    ASSERT_TRUE(m_serve->waitForOutput("journal: written again (1 record", 10000))
        << m_serve->out();
    const std::string journal = readFile(file("j/journal.jsonl"));
    EXPECT_NE(journal.find("\"file\":\"" + file("inbox/O0001.NC") + "\""), std::string::npos)
        << journal;
    EXPECT_NE(journal.find("\"result\":\"completed\""), std::string::npos) << journal;
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 1);
    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0);

    startServe({"--journal", "/dev/full"});
    ASSERT_TRUE(m_serve->waitForOutput("serving", 10000)) << m_serve->err();
    writeFile(file("PUNCH.NC"), "%\nO0002 (FULL)\nM30\n%\n");
    SimProcess again;
    startSim(again, {"punch", "--program", file("PUNCH.NC")});
    ASSERT_TRUE(m_serve->waitForOutput("receive completed", 20000)) << m_serve->out();
    EXPECT_EQ(again.wait(10000), 0) << again.errors();
    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0);
    const std::string out = m_serve->out();
    const size_t unwritten = out.find("journal: not written: {");
    ASSERT_NE(unwritten, std::string::npos) << out;
    EXPECT_NE(out.find(file("inbox/O0002.NC"), unwritten), std::string::npos) << out;
}

TEST_F(ServeCli, ProgramsPunchedBackToBackAreAllFiledAndNothingBetweenThemFails) {
    startServe();
    // Nothing after the closing %, and no end code.
    punchFiveInARow("", {"--end-code", "none"});
    // A control that ends every program with a line feed after the % and its DC4: neither
    // starts a receive of its own.
    for (int n = 1; n <= 5; ++n)
        fs::rename(file("inbox/O200" + std::to_string(n) + ".NC"),
                   file("first-" + std::to_string(n) + ".NC"));
    fs::remove(file("inbox/journal.jsonl"));
    punchFiveInARow("\n", {});
    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0);
    EXPECT_EQ(journal(5).size(), 5u);
    EXPECT_TRUE(!fs::exists(file("inbox/failed")) || fs::is_empty(file("inbox/failed")));
}

TEST_F(ServeCli, AStartCodeSentOnceDuringTheRequestDelayReleasesTheReply) {
    // The operator switches the control to read mode while the service waits out the delay;
    // the control says DC1 once, then waits for the tape.
    m_requestDelayMs = "3000";
    startServe();
    writeFile(file("REQ.NC"), "%\n(REQ=O0012)\n%");
    SimProcess sim;
    startSim(sim, {"request", "--program", file("REQ.NC"), "--record", file("reply.bin"),
                   "--reply-wait-ms", "1800", "-v"});
    const auto records = journal(1);
    EXPECT_EQ(sim.wait(20000), 0) << sim.errors();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text("result"), "completed") << records[0].text("message");
    EXPECT_EQ(records[0].text("request"), "O0012");
    EXPECT_NE(readFile(file("reply.bin")).find("G01 X50. F300."), std::string::npos);
    // One start code, and it came while the service was waiting: before the reply's DC2.
    const std::string events = sim.errors();
    EXPECT_EQ(occurrences(events, "sent DC1"), 1u) << events;
    EXPECT_LT(events.find("sent DC1"), events.find("data started")) << events;
}

// Behind a device server the line stays connected from one transfer to the next, so the
// server keeps its serial port open: programs punched back to back are all filed, and the
// start code the control sends while the service waits out the request delay releases the
// reply.
TEST_F(ServeCli, ANetworkLineStaysConnectedAcrossTransfers) {
    for (const bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "raw");
        fs::remove_all(file("inbox"));
        Ser2netProcess server;
        behindDeviceServer(server, telnet);
        m_requestDelayMs = "3000";
        startServe();
        const std::string punched = punchFiveInARow("\n", {"-v"});
        EXPECT_EQ(occurrences(punched, "host opened the device"), 1u) << punched;

        writeFile(file("REQ.NC"), "%\n(REQ=O0012)\n%");
        SimProcess sim;
        startSim(sim, {"request", "--program", file("REQ.NC"), "--record", file("reply.bin"),
                       "--reply-wait-ms", "1800", "-v"});
        const auto records = journal(6);
        EXPECT_EQ(sim.wait(20000), 0) << sim.errors();
        ASSERT_EQ(records.size(), 6u);
        EXPECT_EQ(records[5].text("result"), "completed") << records[5].text("message");
        EXPECT_NE(readFile(file("reply.bin")).find("G01 X50. F300."), std::string::npos);
        const std::string events = sim.errors();
        EXPECT_EQ(occurrences(events, "host opened the device"), 1u) << events;
        EXPECT_EQ(occurrences(events, "sent DC1"), 1u) << events;
        m_serve->signal(SIGTERM);
        EXPECT_EQ(m_serve->wait(10000), 0);
    }
}

} // namespace
} // namespace corvane::testing
