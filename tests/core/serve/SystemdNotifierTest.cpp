// The notices systemd gets from a served line, read from a datagram socket of the test's own.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>

#include "core/support/TempDir.h"
#include "serve/SystemdNotifier.h"

namespace corvane::serve {
namespace {

class Manager {
public:
    explicit Manager(const std::string& path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Manager() { ::close(m_fd); }
    std::vector<std::string> take() {
        std::vector<std::string> got;
        char buffer[512];
        ssize_t n;
        while ((n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            got.emplace_back(buffer, static_cast<size_t>(n));
        return got;
    }
    bool bound = false;

private:
    int m_fd = -1;
};

TEST(SystemdNotifier, readyOnceStatesAtOnceProgressThinnedAndPingsAtHalfTheLimit) {
    corvane::test::TempDir dir;
    Manager manager(dir.file("notify"));
    ASSERT_TRUE(manager.bound);
    uint64_t now = 1'000'000;
    SystemdNotifier notifier(
        {dir.file("notify"), 10'000'000}, [&now] { return now; }, nullptr);
    ASSERT_EQ(notifier.error(), "");

    notifier.statusChanged({"mill1", LineActivity::Offline, "", 0, 0, "no such port"});
    notifier.started();
    notifier.started();
    notifier.service();
    EXPECT_EQ(manager.take(),
              (std::vector<std::string>{"STATUS=offline: no such port", "READY=1", "WATCHDOG=1"}));
    now += 4'000'000;
    notifier.service(); // under half the limit since the last ping
    notifier.statusChanged({"mill1", LineActivity::Receiving, "", 10, 0});
    notifier.statusChanged({"mill1", LineActivity::Receiving, "", 20, 0});
    EXPECT_EQ(manager.take(), (std::vector<std::string>{"STATUS=receiving (10 bytes)"}));
    now += 1'000'000;
    notifier.service();
    EXPECT_EQ(manager.take(),
              (std::vector<std::string>{"WATCHDOG=1", "STATUS=receiving (20 bytes)"}));
    notifier.statusChanged({"mill1", LineActivity::Held, "O1.NC", 5, 50});
    notifier.stopping();
    EXPECT_EQ(manager.take(), (std::vector<std::string>{"STATUS=held O1.NC (5 of 50 bytes)",
                                                        "STOPPING=1\nSTATUS=stopping"}));
}

TEST(SystemdNotifier, aWatchdogMeantForAnotherProcessIsNotOurs) {
    std::map<std::string, const char*> env{
        {"NOTIFY_SOCKET", "@manager"}, {"WATCHDOG_USEC", "30000000"}, {"WATCHDOG_PID", "42"}};
    auto get = [&env](const char* name) -> const char* {
        const auto it = env.find(name);
        return it == env.end() ? nullptr : it->second;
    };
    EXPECT_EQ(systemdEnvironment(get, 42).watchdogMicros, 30'000'000u);
    EXPECT_EQ(systemdEnvironment(get, 43).watchdogMicros, 0u);
    EXPECT_EQ(systemdEnvironment(get, 43).notifySocket, "@manager");
    env.erase("WATCHDOG_PID");
    EXPECT_EQ(systemdEnvironment(get, 43).watchdogMicros, 30'000'000u);
    // A relative path is nothing systemd hands out.
    SystemdNotifier notifier(
        {"run/notify", 0}, [] { return uint64_t{0}; }, nullptr);
    EXPECT_NE(notifier.error(), "");
}

} // namespace
} // namespace corvane::serve
