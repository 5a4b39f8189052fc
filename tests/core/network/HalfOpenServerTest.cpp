// A served line whose device server goes silent without closing the connection (rebooted,
// cable pulled): nothing comes from the machine, nothing is written, so only the connection's
// own probes can tell. The stand-in server drops every segment that reaches its socket once it
// has accepted (a socket filter, no privileges needed): to the line it is a peer that vanished.
// The service runs on the test's clock; only the kernel's probes take real time, shortened.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "core/support/TempDir.h"
#include "serve/LineService.h"
#include "support/RecordingHost.h"
#include "transfer/LineSettings.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::testing {
namespace {

using corvane::test::TempDir;

// Accepts every connection; each one accepted stops answering at once and stays open.
class SilentServer {
public:
    SilentServer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 4);
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~SilentServer() {
        for (const int fd : m_clients)
            ::close(fd);
        ::close(m_listen);
    }
    uint16_t port() const { return m_port; }
    size_t accepted() const { return m_clients.size(); }
    bool silenced = true;

    void step() {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        m_clients.push_back(fd);
        if (!silenced)
            return;
        // Every segment for this socket is dropped before TCP sees it: no ACK, no RST, as
        // from a server that is gone while the connection still stands.
        sock_filter dropAll[] = {{BPF_RET | BPF_K, 0, 0, 0}};
        sock_fprog program{1, dropAll};
        EXPECT_EQ(::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program), 0);
    }

private:
    int m_listen = -1;
    uint16_t m_port = 0;
    std::vector<int> m_clients;
};

class RecordingSink : public serve::EventSink {
public:
    void statusChanged(const serve::LineStatus& status) override {
        if (status.activity == serve::LineActivity::Offline)
            ++offline;
    }
    void transferRecorded(const serve::JournalRecord&) override { ++records; }
    void service() override {}
    int offline = 0;
    int records = 0;
};

TEST(HalfOpenServer, underAnIdleServedLineIsNoticedAndTheLineReopened) {
    TempDir dir;
    SilentServer server;
    ManualClock clock;
    RecordingHost host(clock);
    RecordingSink sink;

    serve::ServeSettings settings;
    MachineDefSetDefaults(settings.machine.line, settings.machine.config);
    settings.machine.line.HandShake = 1;
    settings.machine.config.PtrBegin = 1;
    settings.machine.config.PtrEof = 3; // % or DC4
    std::snprintf(settings.machine.line.PortName, sizeof settings.machine.line.PortName,
                  "tcp://127.0.0.1:%u", server.port());
    settings.name = "mill1";
    settings.inbox = dir.file("inbox");
    settings.library = dir.file("lib");
    settings.journal = dir.file("inbox/journal.jsonl");
    std::filesystem::create_directory(settings.library);

    LineOptions options;
    options.resolveHostNames = false;
    options.silentServerSeconds = 3; // the line's own is 30
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    serve::ServeEnvironment env;
    env.stopRequested = [&] {
        server.step();
        return server.accepted() >= 2 || std::chrono::steady_clock::now() > giveUp;
    };
    env.wallClock = [] { return time_t{1796800502}; };
    env.sink = &sink;
    serve::LineService service(settings, host, DefaultLineOpener(options), env);
    ASSERT_EQ(service.prepare(), "");
    service.run();

    // Reached again once the first connection was given up; nothing was filed for a listen
    // that received nothing.
    EXPECT_EQ(server.accepted(), 2u);
    EXPECT_GE(sink.offline, 1);
    EXPECT_EQ(sink.records, 0);
    bool lostSaid = false;
    for (const auto& line : host.logTexts())
        lostSaid = lostSaid || line.find("the line was lost") != std::string::npos;
    for (const auto& error : host.errors)
        lostSaid = lostSaid || error.find("the line was lost") != std::string::npos;
    EXPECT_TRUE(lostSaid);
}

} // namespace
} // namespace corvane::testing
