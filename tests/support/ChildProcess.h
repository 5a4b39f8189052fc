#pragma once
// A program under test as a child process: its stdout and stderr collected, the locale fixed
// so its texts are the English ones, and a deadline on every wait, so a program that hangs
// fails the test instead of stopping it. Killed if the test ends first.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvane::testing {

inline long long steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        for (int fd : {m_out, m_err})
            if (fd >= 0)
                ::close(fd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `path` with `args`. The child inherits this environment without its locale
    // settings, with LANG=C, and with each "NAME=value" of `settings` in place of any
    // inherited NAME.
    bool start(const std::string& path, const std::vector<std::string>& args,
               const std::vector<std::string>& settings = {}) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> replaced = {"LANG=", "LC_", "LANGUAGE="};
        for (const std::string& setting : settings)
            replaced.push_back(setting.substr(0, setting.find('=') + 1));
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool keep = true;
            for (const std::string& prefix : replaced)
                keep = keep && entry.rfind(prefix, 0) != 0;
            if (keep)
                env.push_back(entry);
        }
        env.push_back("LANG=C");
        env.insert(env.end(), settings.begin(), settings.end());
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        const int rc =
            posix_spawn(&m_pid, all[0].c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        return rc == 0;
    }

    // Collects output for at most `sliceMs`; notes the exit once it has happened.
    void pump(int sliceMs) {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (m_out < 0 && m_err < 0) {
            ::poll(nullptr, 0, sliceMs);
        } else if (::poll(fds, 2, sliceMs) > 0) {
            drain(fds[0], m_out, m_stdout);
            drain(fds[1], m_err, m_stderr);
        }
        int status = 0;
        if (!m_status && m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Waits for the exit and the end of the output; nothing when the deadline passed first.
    std::optional<int> wait(int timeoutMs) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (!m_status || m_out >= 0 || m_err >= 0) {
            if (steadyNowMs() >= deadline)
                return m_status;
            pump(20);
        }
        return m_status;
    }

    // Waits until stdout holds `text`.
    bool waitForOutput(const std::string& text, int timeoutMs) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (m_stdout.find(text) == std::string::npos) {
            if (steadyNowMs() >= deadline || (m_out < 0 && m_err < 0))
                return false;
            pump(20);
        }
        return true;
    }

    // Only ever to the child itself: kill() with a pid of -1 would reach every process.
    void signal(int number) {
        if (m_pid > 0 && !m_status)
            ::kill(m_pid, number);
    }
    bool exited() const { return m_status.has_value(); }
    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    const std::string& out() const { return m_stdout; }
    const std::string& err() const { return m_stderr; }

private:
    static void drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(fd);
            fd = -1;
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::optional<int> m_status;
    std::string m_stdout;
    std::string m_stderr;
};

} // namespace corvane::testing
