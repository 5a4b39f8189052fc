// corvane-cli serve as systemd runs it (Type=notify, WatchdogSec=): a datagram socket of the
// test's own stands in for the manager's NOTIFY_SOCKET. The service's log goes into a pipe the
// test holds; a log reader that stops reading (a journal that has hung) blocks the service in
// its next log line, which is what the watchdog is for: the pings must stop then, and come
// back once the log is read again.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "core/support/TempDir.h"
#include "support/ChildProcess.h"
#include "support/ServedMachine.h"
#include "support/SimProcess.h"

extern char** environ;

namespace corvane::testing {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
namespace fs = std::filesystem;

// The manager's end: every datagram the service sends, one string each.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    bool bound() const { return m_bound; }

    // The datagrams that came within `ms`.
    std::vector<std::string> collect(int ms) {
        std::vector<std::string> got;
        const long long deadline = steadyNowMs() + ms;
        for (long long now = steadyNowMs(); now < deadline; now = steadyNowMs()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(deadline - now)) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0)
                got.emplace_back(buffer, static_cast<size_t>(n));
        }
        m_all.insert(m_all.end(), got.begin(), got.end());
        return got;
    }
    // Waits up to `ms` for a datagram that starts with `text`.
    bool waitFor(const std::string& text, int ms) {
        const long long deadline = steadyNowMs() + ms;
        while (steadyNowMs() < deadline)
            for (const std::string& d : collect(50))
                if (d.rfind(text, 0) == 0)
                    return true;
        return false;
    }
    std::string all() const {
        std::string text;
        for (const std::string& d : m_all)
            text += "[" + d + "] ";
        return text;
    }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_bound = false;
    std::vector<std::string> m_all;
};

size_t count(const std::vector<std::string>& datagrams, const std::string& text) {
    return static_cast<size_t>(std::count(datagrams.begin(), datagrams.end(), text));
}

class ServeNotify : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : m_log)
            if (fd >= 0)
                ::close(fd);
    }
    std::string file(const std::string& name) const { return m_dir.file(name); }

    // The service, its stdout into a pipe of one page that the test reads only when asked.
    void startServe(const std::string& notifySocket) {
        writeFile(file("corvane.cfg"), "");
        writeFile(file("ISO.MDF"), ServedIsoMachine);
        fs::create_directory(file("lib"));
        writeFile(file("mill1.ini"),
                  "[Line]\nMachine=ISO.MDF\nPort=" + file("tty") + "\nInbox=inbox\nLibrary=lib\n");
        ASSERT_EQ(::pipe2(m_log, O_CLOEXEC), 0);
        ::fcntl(m_log[0], F_SETPIPE_SZ, 4096);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, m_log[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, file("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> args{CORVANE_CLI_PATH, "--cfg", file("corvane.cfg"), "serve",
                                      "--retry-ms",     "200",   file("mill1.ini")};
        std::vector<std::string> env{"LANG=C", "NOTIFY_SOCKET=" + notifySocket,
                                     "WATCHDOG_USEC=1000000"};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("PATH=", 0) == 0)
                env.emplace_back(*e);
        std::vector<char*> argv;
        std::vector<char*> envp;
        for (auto& a : args)
            argv.push_back(a.data());
        for (auto& e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::fcntl(m_log[0], F_SETFL, O_NONBLOCK);
    }

    // Everything the service has logged so far.
    void readLog() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_log[0], buffer, sizeof buffer)) > 0)
            m_out.append(buffer, static_cast<size_t>(n));
    }
    // The pipe filled to the brim, as a log reader that stopped reading leaves it.
    // (Through an opening of its own: non-blocking on the service's, its writes would fail
    // instead of waiting.)
    void fillLog() {
        const int fd = ::open(("/proc/self/fd/" + std::to_string(m_log[1])).c_str(),
                              O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const char byte = 'x';
        while (::write(fd, &byte, 1) > 0) {
        }
        ::close(fd);
    }

    size_t journalLines() const {
        std::istringstream lines(readFile(file("inbox/journal.jsonl")));
        size_t n = 0;
        for (std::string line; std::getline(lines, line);)
            ++n;
        return n;
    }
    bool waitForJournal(size_t lines, NotifySocket& notify) {
        const long long deadline = steadyNowMs() + 20000;
        while (journalLines() < lines && steadyNowMs() < deadline)
            notify.collect(50);
        return journalLines() >= lines;
    }

    // The service is in write(1, ...), as the kernel tells a process of the same user.
    bool blockedInLogWrite(NotifySocket& notify) {
        const long long deadline = steadyNowMs() + 10000;
        while (steadyNowMs() < deadline) {
            if (readFile("/proc/" + std::to_string(m_pid) + "/syscall").rfind("1 0x1 ", 0) == 0)
                return true;
            notify.collect(20);
        }
        return false;
    }

    TempDir m_dir;
    pid_t m_pid = -1;
    int m_log[2] = {-1, -1};
    std::string m_out;
};

TEST_F(ServeNotify, tellsReadinessStateAndWatchdogAndThePingsStopWhileTheLoopIsBlocked) {
    NotifySocket notify(file("notify"));
    ASSERT_TRUE(notify.bound());
    startServe(file("notify"));

    // No machine yet: the line is being retried, which is as started as it gets.
    ASSERT_TRUE(notify.waitFor("READY=1", 10000)) << notify.all() << readFile(file("stderr"));
    ASSERT_TRUE(notify.waitFor("WATCHDOG=1", 5000)) << notify.all();
    EXPECT_NE(notify.all().find("[STATUS=offline: "), std::string::npos) << notify.all();

    const std::string program = "%\nO0007 (NOTIFY)\nG00 X0 Y0\nM30\n%\n";
    writeFile(file("P1.NC"), program);
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"punch", "--program", file("P1.NC"), "--link", file("tty"),
                               "--exit-after-ms", "30000"}));
        ASSERT_TRUE(waitForJournal(1, notify)) << notify.all() << readFile(file("stderr"));
        EXPECT_EQ(sim.wait(10000), 0) << sim.errors();
    }
    readLog();
    EXPECT_NE(notify.all().find("[STATUS=receiving"), std::string::npos) << notify.all();
    EXPECT_NE(notify.all().find("[STATUS=idle]"), std::string::npos) << notify.all();
    const std::vector<std::string> serving = notify.collect(2000);
    EXPECT_GE(count(serving, "WATCHDOG=1"), 2u) << notify.all();

    // The log stops taking lines; the line's next one ("the port is open again" when the
    // machine comes back) blocks the service in its write to stdout.
    fillLog();
    writeFile(file("P2.NC"), "%\nO0008 (BLOCKED)\nM30\n%\n");
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"punch", "--program", file("P2.NC"), "--link", file("tty"), "--exit-after-ms", "30000"}));
    ASSERT_TRUE(blockedInLogWrite(notify)) << notify.all();
    notify.collect(700); // what was on its way
    const std::vector<std::string> blocked = notify.collect(3000);
    EXPECT_EQ(count(blocked, "WATCHDOG=1"), 0u) << notify.all();

    // Read again, the service goes round again.
    const long long deadline = steadyNowMs() + 10000;
    bool pinged = false;
    while (!pinged && steadyNowMs() < deadline) {
        readLog();
        pinged = count(notify.collect(100), "WATCHDOG=1") > 0;
    }
    EXPECT_TRUE(pinged) << notify.all();
    readLog();
    EXPECT_NE(m_out.find("x[mill1] the port is open again"), std::string::npos)
        << m_out.substr(m_out.rfind('x') + 1);

    ::kill(m_pid, SIGTERM);
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
        readLog();
        notify.collect(50);
    }
    m_pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    notify.collect(100);
    EXPECT_NE(notify.all().find("[STOPPING=1"), std::string::npos) << notify.all();
}

} // namespace
} // namespace corvane::testing
