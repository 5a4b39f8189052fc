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
    void startServe() {
        fs::create_directories(file("lines"));
        writeFile(file("lines/mill1.ini"),
                  "[Line]\nMachine=../ISO.MDF\nPort=" + (m_linePort.empty() ? port() : m_linePort) +
                      "\nInbox=../inbox\nLibrary=../lib\n"
                      "RequestDelay=60000\n");
        m_serve = std::make_unique<ChildProcess>();
        ASSERT_TRUE(m_serve->start(CORVANE_CLI_PATH,
                                   {"--cfg", file("corvane.cfg"), "serve", "--request-delay-ms",
                                    "100", "--retry-ms", "200", file("lines/mill1.ini")}));
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
            if (r.text("direction") == "receive" && checked.insert(path).second) {
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

    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_serve;
    std::string m_linePort; // the line's port when not the machine's pty
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

    const auto records = journal(4);
    const char* const results[] = {"completed", "completed", "not-found", "refused"};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].text("direction"), "send");
        EXPECT_EQ(records[i].text("result"), results[i]);
    }
    EXPECT_EQ(records[0].text("request"), "O0012");
    EXPECT_EQ(records[0].text("file"), file("lib/O0012.NC"));
    EXPECT_EQ(records[0].text("sha256"), sha256OfFile(file("lib/O0012.NC")));
    // A request is a question, not a program: nothing of it is filed.
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
    startServe();
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
    startServe();
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

} // namespace
} // namespace corvane::testing
