// corvane-cli serve --broker with the simulated machine on a pseudo-terminal and a private
// mosquitto: what an independent subscriber sees while the machine punches and requests, a
// program pushed with shop send, commands refused, and a broker killed in the middle of a
// transfer.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "core/support/TempDir.h"
#include "support/BrokerProcess.h"
#include "support/ChildProcess.h"
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

std::string programOf(int number, int blocks) {
    std::string text =
        "%\nO" + std::to_string(1000 + number) + " (PART " + std::to_string(number) + ")\n";
    for (int i = 0; i < blocks; ++i)
        text += "G01 X" + std::to_string(i) + ". Y" + std::to_string(i) + ". F500.\n";
    // Nothing after the closing %: a stray line end after it would be the start of the
    // service's next listen, which is the serve suite's business, not this one's.
    return text + "M30\n%";
}

// A broker that accepts the connection and answers every subscription as refused (SUBACK
// 0x80), as an access list can; mosquitto grants a 3.1.1 client's subscription instead.
struct RefusingBroker {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    std::atomic<int> client{-1};
    std::thread thread;
    RefusingBroker() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        thread = std::thread([this] {
            client = ::accept(listener, nullptr, nullptr);
            for (unsigned char type = 0, b = 0; ::read(client, &type, 1) == 1;) {
                size_t length = 0;
                for (int shift = 0; ::read(client, &b, 1) == 1; shift += 7) {
                    length |= size_t{b & 0x7fu} << shift;
                    if (!(b & 0x80))
                        break;
                }
                std::string body(length, '\0');
                if (::recv(client, body.data(), length, MSG_WAITALL) !=
                    static_cast<ssize_t>(length))
                    break;
                const std::string answer =
                    type >> 4 == 1   ? std::string("\x20\x02\0\0", 4) // CONNACK
                    : type >> 4 == 8 ? "\x90\x03" + body.substr(0, 2) + "\x80"
                                     : std::string();
                // The line may have hung up already: that is no reason to end the test.
                if (!answer.empty() &&
                    ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
                    break;
            }
        });
    }
    ~RefusingBroker() {
        ::shutdown(client >= 0 ? client.load() : listener, SHUT_RDWR);
        thread.join();
        ::close(client);
        ::close(listener);
    }
    std::string url() const {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        return "mqtt://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
};

class ShopServe : public ::testing::Test {
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

    // The line, from a line file that names the broker as a shop would write it, or with the
    // broker given on the command line.
    // `verbose`: the engines' own lines in the log too, for a test that waits for one.
    void startServe(const BrokerProcess& broker, bool brokerOption = false, bool verbose = false) {
        startServe(broker.url(), brokerOption, verbose);
    }
    void startServe(const std::string& url, bool brokerOption = false, bool verbose = false) {
        writeFile(file("mill1.ini"), "[Line]\nName=mill1\nMachine=ISO.MDF\nPort=" +
                                         (m_linePort.empty() ? port() : m_linePort) +
                                         "\nInbox=inbox\nLibrary=lib\nRequestDelay=100\n" +
                                         (brokerOption ? "" : "Broker=" + url + "\n") +
                                         (verbose ? "Verbose=1\n" : ""));
        std::vector<std::string> args = {"--cfg", file("corvane.cfg"), "serve", "--retry-ms",
                                         "200",   file("mill1.ini")};
        if (brokerOption)
            args.insert(args.end() - 1, {"--broker", url});
        m_serve = std::make_unique<ChildProcess>();
        ASSERT_TRUE(m_serve->start(CORVANE_CLI_PATH, args));
        ASSERT_TRUE(m_serve->waitForOutput("reporting to " + url, 5000))
            << m_serve->out() << m_serve->err();
    }

    // No DC4 after a punched program: what follows the closing % is the service's business,
    // not this suite's.
    void startSim(SimProcess& sim, std::vector<std::string> args) {
        if (args.front() != "read")
            args.insert(args.end(), {"--end-code", "none", "--drain-ms", "300"});
        args.insert(args.end(), {"--link", port(), "--exit-after-ms", "30000"});
        ASSERT_TRUE(sim.start(args)) << sim.errors();
    }

    std::vector<std::string> journalLines() const {
        std::vector<std::string> lines;
        std::istringstream in(readFile(file("inbox/journal.jsonl")));
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line);
        return lines;
    }

    // Waits until the watcher has seen `count` events; the service keeps running meanwhile.
    std::vector<std::string> events(BrokerWatcher& watcher, size_t count, int timeoutMs = 20000) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (watcher.payloads("corvane/mill1/event").size() < count && steadyNowMs() < deadline) {
            watcher.pump(50);
            m_serve->pump(0);
        }
        return watcher.payloads("corvane/mill1/event");
    }

    bool sawState(BrokerWatcher& watcher, const std::string& state) {
        for (const std::string& payload : watcher.payloads("corvane/mill1/state"))
            if (payload.find("\"state\":\"" + state + "\"") != std::string::npos)
                return true;
        return false;
    }

    void waitForWatcher(BrokerWatcher& watcher, int port) {
        const long long deadline = steadyNowMs() + 10000;
        while (watcher.payloads("corvane/probe/event").empty()) {
            ASSERT_LT(steadyNowMs(), deadline) << watcher.err();
            ChildProcess pub;
            pub.start(mosquittoPubPath(), {"-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1",
                                           "-t", "corvane/probe/event", "-m", "p"});
            pub.wait(5000);
            watcher.pump(100);
        }
    }

    int shop(const std::vector<std::string>& args, std::string& out) {
        ChildProcess cli;
        if (!cli.start(CORVANE_CLI_PATH, args))
            return -1;
        const long long deadline = steadyNowMs() + 20000;
        while (!cli.exited() && steadyNowMs() < deadline) {
            cli.pump(20);
            m_serve->pump(0);
        }
        const auto status = cli.wait(1000);
        out = cli.out() + cli.err();
        return status.value_or(-2);
    }

    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_serve;
    std::string m_linePort; // the line's port when not the machine's pty
};

TEST_F(ShopServe, subscriberSeesTheLineWorkAndEveryJournalLineAsAnEvent) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-serve"));
    waitForWatcher(watcher, broker.port());
    startServe(broker);

    writeFile(file("PUNCH.NC"), programOf(1, 60));
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("PUNCH.NC"), "--cps", "2000"});
        events(watcher, 1);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    writeFile(file("REQ.NC"), "%\n(REQ=O0012)\n%");
    {
        SimProcess sim;
        startSim(sim, {"request", "--program", file("REQ.NC"), "--record", file("reply.bin")});
        events(watcher, 2);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    // The event is the journal line itself, byte for byte.
    EXPECT_EQ(events(watcher, 2), journalLines()) << m_serve->out();
    EXPECT_TRUE(sawState(watcher, "idle"));
    EXPECT_TRUE(sawState(watcher, "receiving"));
    EXPECT_TRUE(sawState(watcher, "sending"));
    EXPECT_NE(readFile(file("reply.bin")).find("O0012"), std::string::npos);

    std::string out;
    ASSERT_EQ(shop({"shop", "status", "--broker", broker.url(), "--wait-ms", "300"}, out), 0)
        << out;
    // The machine's port went with the simulator: the line is there, its port is not, and its
    // state says why in the words of the log.
    const std::string head = "mill1  offline (port not available: ", tail = ")  last: completed ";
    ASSERT_EQ(out.rfind(head, 0), 0u) << out;
    const std::string reason = out.substr(head.size(), out.find(tail) - head.size());
    EXPECT_NE(m_serve->out().find("the port is not available (" + reason + ")"), std::string::npos)
        << out;
    EXPECT_EQ(out.find(tail + file("lib/O0012.NC")), head.size() + reason.size()) << out;

    // A stopped service says so itself.
    m_serve->signal(SIGTERM);
    EXPECT_EQ(m_serve->wait(10000), 0);
    ASSERT_EQ(shop({"shop", "status", "--broker", broker.url(), "--wait-ms", "300"}, out), 0)
        << out;
    EXPECT_EQ(out.rfind("mill1  offline (not served)", 0), 0u) << out;
}

TEST_F(ShopServe, shopSendPushesALibraryProgramAndRefusalsComeBackAsEvents) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-send"));
    waitForWatcher(watcher, broker.port());
    startServe(broker, true);

    // Each push with the machine in read mode, as the operator would have it. The control says
    // DC1 once, while the line still listens: that start code is kept for the push, and it is
    // not taken for a program coming in (which would refuse the push as busy).
    auto push = [&](const std::string& name) {
        std::string out;
        SimProcess sim;
        startSim(sim, {"read", "--record", file("got.bin"), "-v"});
        // The service has the port open and the DC1 has gone out before the push comes.
        EXPECT_TRUE(sim.waitForErrors("sent DC1", 10000)) << sim.errors();
        const int status = shop({"shop", "send", "--broker", broker.url(), "mill1", name}, out);
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
        return std::make_pair(status, out);
    };
    auto [status, out] = push("O0012");
    EXPECT_EQ(status, 0) << out << m_serve->out();
    (void)status;
    // The answer on stdout, then (stderr) the line's states as the push went.
    EXPECT_EQ(out.rfind("mill1: completed " + file("lib/O0012.NC") + "\n", 0), 0u) << out;
    EXPECT_NE(out.find("mill1  sending  " + file("lib/O0012.NC")), std::string::npos) << out;
    EXPECT_NE(readFile(file("got.bin")).find("G01 X50. F300."), std::string::npos);
    // The file's bytes, and the wire's: all the machine got from the send's DC2 on. The log
    // names each.
    const std::string got = readFile(file("got.bin"));
    const std::string bytes = std::to_string(fs::file_size(file("lib/O0012.NC")));
    const std::string wire = std::to_string(got.size() - got.find('\x12'));
    EXPECT_NE(
        m_serve->out().find("(" + bytes + " bytes in the file, " + wire + " bytes on the wire)"),
        std::string::npos)
        << m_serve->out();
    EXPECT_NE(journalLines().at(0).find(R"("bytes":)" + bytes + ","), std::string::npos);
    EXPECT_NE(journalLines().at(0).find(R"("wire_bytes":)" + wire + ","), std::string::npos);

    // A name that is not in the library, or is not a name at all, is answered on the broker
    // alone: nobody at the control asked, so the machine is sent nothing.
    EXPECT_EQ(shop({"shop", "send", "--broker", broker.url(), "mill1", "O0099"}, out), 1);
    EXPECT_NE(out.find("mill1: not-found"), std::string::npos) << out;
    EXPECT_EQ(shop({"shop", "send", "--broker", broker.url(), "mill1", "../mill1.ini"}, out), 1);
    EXPECT_NE(out.find("mill1: refused"), std::string::npos) << out;

    // What a broker client may throw at the line: each answered, none fatal.
    for (const std::string& payload :
         {std::string(R"({"send":)"), std::string(R"({"cancel":true,"id":"c1"})"),
          std::string(70000, '{'), std::string(R"({"send":7,"id":"n1"})")}) {
        ChildProcess pub;
        ASSERT_TRUE(pub.start(mosquittoPubPath(),
                              {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-q", "1",
                               "-t", "corvane/mill1/command", "-m", payload}));
        pub.wait(5000);
    }
    const std::vector<std::string> all = events(watcher, 7);
    ASSERT_EQ(all.size(), 7u) << m_serve->out();
    EXPECT_NE(all[3].find("malformed JSON"), std::string::npos) << all[3];
    EXPECT_NE(all[4].find("\"command\":\"c1\""), std::string::npos) << all[4];
    EXPECT_NE(all[4].find("nothing to cancel"), std::string::npos) << all[4];
    EXPECT_NE(all[5].find("70000 bytes"), std::string::npos) << all[5];
    EXPECT_NE(all[6].find("\"command\":\"n1\""), std::string::npos) << all[6];
    for (size_t i = 3; i < all.size(); ++i)
        EXPECT_NE(all[i].find("\"result\":\"refused\""), std::string::npos) << all[i];
    EXPECT_EQ(all, journalLines());
    EXPECT_FALSE(m_serve->exited()) << m_serve->err();
}

TEST_F(ShopServe, aCancelOfAReceiveThatBroughtNoProgramIsAnsweredOnceAndTheLineServesOn) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-cancel"));
    waitForWatcher(watcher, broker.port());
    startServe(broker);
    // The control punches a stray character and no program, and stays on the line.
    writeFile(file("STRAY.NC"), "X");
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("STRAY.NC"), "--linger-ms", "20000"});
    for (const long long deadline = steadyNowMs() + 10000; !sawState(watcher, "receiving");) {
        ASSERT_LT(steadyNowMs(), deadline) << m_serve->out();
        watcher.pump(20);
        m_serve->pump(0);
    }
    ChildProcess pub;
    ASSERT_TRUE(pub.start(mosquittoPubPath(),
                          {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-q", "1", "-t",
                           "corvane/mill1/command", "-m", R"({"cancel":true,"id":"x1"})"}));
    pub.wait(5000);
    const std::vector<std::string> answered = events(watcher, 1);
    ASSERT_EQ(answered.size(), 1u) << m_serve->out();
    EXPECT_NE(answered[0].find("\"command\":\"x1\""), std::string::npos) << answered[0];
    EXPECT_NE(answered[0].find("\"result\":\"interrupted\""), std::string::npos) << answered[0];
    EXPECT_EQ(journalLines(), answered);
    EXPECT_FALSE(m_serve->exited());
}

TEST_F(ShopServe, aRefusedCommandSubscriptionIsLoggedAndTheLineServesOn) {
    RefusingBroker broker;
    startServe(broker.url());
    ASSERT_TRUE(m_serve->waitForOutput("commands for this line are refused by the broker", 10000))
        << m_serve->out();
    writeFile(file("P1.NC"), programOf(1, 10));
    SimProcess sim;
    startSim(sim, {"punch", "--program", file("P1.NC")});
    for (const long long deadline = steadyNowMs() + 10000; journalLines().empty();) {
        ASSERT_LT(steadyNowMs(), deadline) << m_serve->out();
        m_serve->pump(50);
    }
    EXPECT_NE(journalLines()[0].find("\"result\":\"completed\""), std::string::npos);
}

// Behind a device server too, the DC1 the control sent while the line listened releases the
// push: the same connection carries both, so the server opens the machine's port once.
TEST_F(ShopServe, shopSendBehindADeviceServerTakesTheStartCodeSentWhileTheLineListened) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    SimProcess sim;
    startSim(sim, {"read", "--record", file("got.bin"), "-v"});
    Ser2netProcess server;
    ASSERT_TRUE(server.start(m_dir.path(), "telnet(rfc2217),tcp", port())) << server.errors();
    m_linePort = "rfc2217://127.0.0.1:" + std::to_string(server.port);
    startServe(broker, true);
    ASSERT_TRUE(sim.waitForErrors("sent DC1", 10000)) << sim.errors();
    std::string out;
    EXPECT_EQ(shop({"shop", "send", "--broker", broker.url(), "mill1", "O0012"}, out), 0)
        << out << m_serve->out();
    EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    EXPECT_NE(readFile(file("got.bin")).find("G01 X50. F300."), std::string::npos);
    const std::string events = sim.errors();
    for (const std::string once : {"host opened the device", "sent DC1"})
        EXPECT_EQ(events.find(once), events.rfind(once)) << events;
}

TEST_F(ShopServe, shopSendSaysTheLineIsHeldAndGivesUpWaitingAtItsTimeout) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    startServe(broker, true, true);
    // A control that is never put in read mode: no DC1 ever comes.
    SimProcess sim;
    startSim(sim, {"read", "--no-start"});
    ASSERT_TRUE(m_serve->waitForOutput("[DC1] Send...", 10000)) << m_serve->out();
    std::string out;
    EXPECT_EQ(
        shop({"shop", "send", "--broker", broker.url(), "--timeout", "5", "mill1", "O0012"}, out),
        1);
    EXPECT_NE(out.find("mill1: no answer within 5 s; the line is held"), std::string::npos) << out;
    EXPECT_NE(out.find("mill1  held  " + file("lib/O0012.NC")), std::string::npos) << out;
    EXPECT_NE(out.find("put the control in read mode"), std::string::npos) << out;
    EXPECT_EQ(
        shop({"shop", "send", "--broker", broker.url(), "--timeout", "0", "mill1", "O0012"}, out),
        2)
        << out;
}

TEST_F(ShopServe, brokerKilledMidTransferTheTransferCompletesAndEveryEventIsSentOnce) {
    BrokerProcess broker(
        m_dir.path(),
        BrokerOptions{.passwordFile = {}, .certFile = {}, .keyFile = {}, .persistence = true});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-crash"));
    waitForWatcher(watcher, broker.port());
    startServe(broker);

    // A first program goes through while all is well.
    writeFile(file("P1.NC"), programOf(1, 10));
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("P1.NC")});
        ASSERT_EQ(events(watcher, 1).size(), 1u);
        sim.wait(10000);
    }
    // The broker dies while the machine punches a long program, and comes back before it ends.
    writeFile(file("P2.NC"), programOf(2, 150));
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("P2.NC"), "--cps", "1500"});
        const long long deadline = steadyNowMs() + 10000;
        while (!sawState(watcher, "receiving") && steadyNowMs() < deadline) {
            watcher.pump(20);
            m_serve->pump(0);
        }
        ASSERT_TRUE(sawState(watcher, "receiving"));
        broker.kill();
        for (int i = 0; i < 30; ++i)
            m_serve->pump(20);
        ASSERT_TRUE(broker.start()) << broker.log();
        EXPECT_EQ(sim.wait(20000), 0) << sim.errors();
    }
    // And dies again between programs: the next record waits for it.
    broker.kill();
    writeFile(file("P3.NC"), programOf(3, 10));
    {
        SimProcess sim;
        startSim(sim, {"punch", "--program", file("P3.NC")});
        const long long deadline = steadyNowMs() + 10000;
        while (journalLines().size() < 3 && steadyNowMs() < deadline)
            m_serve->pump(50);
        sim.wait(10000);
    }
    ASSERT_TRUE(broker.start()) << broker.log();

    const std::vector<std::string> journal = journalLines();
    ASSERT_EQ(journal.size(), 3u);
    for (const std::string& line : journal)
        EXPECT_NE(line.find("\"result\":\"completed\""), std::string::npos) << line;
    EXPECT_TRUE(fs::exists(file("inbox/O1002.NC")));
    events(watcher, 3);
    std::map<std::string, int> seen;
    for (const std::string& payload : watcher.payloads("corvane/mill1/event"))
        ++seen[payload];
    for (const std::string& line : journal)
        EXPECT_GE(seen[line], 1) << line;
    EXPECT_EQ(seen.size(), 3u) << m_serve->out();
    EXPECT_EQ(broker.receivedPublishes("corvane/mill1/event"), 3) << broker.log();
    EXPECT_FALSE(m_serve->exited());
    EXPECT_NE(m_serve->out().find("[mill1] broker " + broker.url()), std::string::npos)
        << m_serve->out();
}

TEST_F(ShopServe, brokerSettingsAreCheckedBeforeTheLineIsServed) {
    auto serve = [&](const std::string& extraKeys, const std::vector<std::string>& options) {
        writeFile(file("m.ini"), "[Line]\nName=mill1\nMachine=ISO.MDF\nPort=" + port() +
                                     "\nInbox=inbox\nLibrary=lib\n" + extraKeys);
        std::vector<std::string> args = {"--cfg", file("corvane.cfg"), "serve"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(file("m.ini"));
        ChildProcess child;
        EXPECT_TRUE(child.start(CORVANE_CLI_PATH, args));
        const int status = child.wait(10000).value_or(-1);
        return std::make_pair(status, child.err());
    };
    auto [status, err] = serve("", {"--broker", "tcp://127.0.0.1:1883"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("mqtt://"), std::string::npos) << err;
    // The password file is taken from the line file's folder, and must be there.
    std::tie(status, err) =
        serve("Broker=mqtt://127.0.0.1:1\nBrokerUser=mill1\nBrokerPasswordFile=mill1.pw\n", {});
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find(file("mill1.pw")), std::string::npos) << err;
    // A CA file that holds no certificate is a file to fix, not a reason to restart.
    writeFile(file("ca.crt"), "not a certificate\n");
    std::tie(status, err) = serve("Broker=mqtts://127.0.0.1:1\nBrokerCa=ca.crt\n", {});
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find("CA file '" + file("ca.crt") + "' holds no certificate"), std::string::npos)
        << err;
    std::tie(status, err) = serve("Broker=mqtt://127.0.0.1:1\n", {"--name", "mill+1"});
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("mill+1"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(file("inbox/journal.jsonl")));
}

TEST_F(ShopServe, theLibraryListingIsRetainedAndFollowsTheFolder) {
    BrokerProcess broker(m_dir.path(), BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    startServe(broker);
    auto listingHas = [&](const std::string& name, int timeoutMs) {
        // A fresh subscriber each time: what it gets first is the retained listing.
        const long long deadline = steadyNowMs() + timeoutMs;
        while (steadyNowMs() < deadline) {
            ChildProcess sub;
            sub.start(mosquittoSubPath(), {"-h", "127.0.0.1", "-p", std::to_string(broker.port()),
                                           "-C", "1", "-W", "2", "-t", "corvane/mill1/library"});
            sub.wait(3000);
            m_serve->pump(0);
            if (sub.out().find("\"name\":\"" + name + "\"") != std::string::npos)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(listingHas("O0012.NC", 5000)) << m_serve->out();
    writeFile(file("lib/O0077.NC"), programOf(77, 20));
    EXPECT_TRUE(listingHas("O0077.NC", 8000)) << m_serve->out();
}

} // namespace
} // namespace corvane::testing
