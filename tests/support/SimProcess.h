#pragma once
// Runs the simulated machine tool (cnc-sim) as a child process for integration tests: starts it
// with arguments, reads the device line it prints first, collects its stdout and stderr and its
// exit status, and kills it if the test ends early. Every wait polls in short slices against a
// deadline, so a broken simulator fails the test instead of hanging it.
//
// The path of cnc-sim comes from the CNC_SIM_PATH compile definition of the test target
// (target_compile_definitions(... CNC_SIM_PATH="$<TARGET_FILE:cnc-sim>")), or from the
// CNC_SIM environment variable, or is given to the constructor.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvane::testing {

class SimProcess {
public:
    static std::string defaultPath() {
        if (const char* env = std::getenv("CNC_SIM"))
            return env;
#ifdef CNC_SIM_PATH
        return CNC_SIM_PATH;
#else
        return "cnc-sim";
#endif
    }

    explicit SimProcess(std::string path = defaultPath()) : m_path(std::move(path)) {}
    ~SimProcess() {
        kill();
        closePipes();
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts cnc-sim with `args` (mode first, e.g. {"read", "--wait-ms", "0"}) and waits up to
    // `timeoutMs` for its "device PATH" line. False when it could not start or printed no
    // device line (its stderr is then in errors(), its exit status in exitStatus()).
    bool start(const std::vector<std::string>& args, int timeoutMs = 5000) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{m_path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&m_pid, m_path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) {
            m_pid = -1;
            closePipes();
            return false;
        }
        const auto deadline = nowMs() + timeoutMs;
        while (nowMs() < deadline) {
            auto newline = m_stdout.find('\n');
            if (newline != std::string::npos) {
                const std::string prefix = "device ";
                if (m_stdout.rfind(prefix, 0) != 0)
                    return false; // usage text or a failure; the caller may wait() for it
                m_device = m_stdout.substr(prefix.size(), newline - prefix.size());
                m_stdout.erase(0, newline + 1);
                return true;
            }
            if (!pump(20) && m_out < 0)
                break; // stdout closed without a device line
        }
        wait(1000);
        return false;
    }

    const std::string& device() const {
        return m_device;
    }
    pid_t pid() const {
        return m_pid;
    }

    // Waits up to `timeoutMs` for the process to end and its output to close. Returns the exit
    // status (128 + signal number when killed by a signal), or nothing on time-out.
    std::optional<int> wait(int timeoutMs) {
        const auto deadline = nowMs() + timeoutMs;
        while (!m_status || m_out >= 0 || m_err >= 0) {
            if (nowMs() >= deadline)
                return m_status;
            pump(20);
            reap();
        }
        return m_status;
    }

    // Sends SIGTERM (the simulator stops cleanly, prints its summary, removes its link).
    void terminate() {
        if (m_pid > 0 && !m_status)
            ::kill(m_pid, SIGTERM);
    }
    void kill() {
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            while (!m_status && reapBlocking())
                ;
        }
    }

    std::optional<int> exitStatus() const {
        return m_status;
    }
    const std::string& output() const {
        return m_stdout;
    } // stdout after the device line
    const std::string& errors() const {
        return m_stderr;
    }

    // Waits up to `timeoutMs` until `text` shows in what the simulator wrote to stderr (its
    // events with -v). False when it did not.
    bool waitForErrors(const std::string& text, int timeoutMs) {
        const long long deadline = nowMs() + timeoutMs;
        while (m_stderr.find(text) == std::string::npos && nowMs() < deadline)
            pump(20);
        return m_stderr.find(text) != std::string::npos;
    }

private:
    static long long nowMs() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1'000'000;
    }

    // Reads what is there on both pipes, waiting at most `sliceMs`. False when nothing came.
    bool pump(int sliceMs) {
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        if (m_out < 0 && m_err < 0) {
            ::poll(nullptr, 0, sliceMs);
            return false;
        }
        if (::poll(fds, 2, sliceMs) <= 0)
            return false;
        bool got = false;
        got |= drain(fds[0], m_out, m_stdout);
        got |= drain(fds[1], m_err, m_stderr);
        return got;
    }

    static bool drain(const pollfd& p, int& fd, std::string& into) {
        if (fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return false;
        char buffer[4096];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, size_t(n));
            return true;
        }
        if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            ::close(fd);
            fd = -1;
        }
        return false;
    }

    void reap() {
        if (m_pid <= 0 || m_status)
            return;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            record(status);
    }
    bool reapBlocking() {
        int status = 0;
        pid_t r = ::waitpid(m_pid, &status, 0);
        if (r == m_pid) {
            record(status);
            return true;
        }
        return r < 0 && errno == EINTR;
    }
    void record(int status) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void closePipes() {
        for (int* fd : {&m_out, &m_err})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

    std::string m_path;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::optional<int> m_status;
    std::string m_device;
    std::string m_stdout;
    std::string m_stderr;
};

// The number after `label` in the simulator's summary, -1 when absent.
inline long summaryValue(const std::string& output, const std::string& label) {
    std::smatch m;
    if (std::regex_search(output, m, std::regex(label + " ([0-9]+)")))
        return std::stol(m[1]);
    return -1;
}

} // namespace corvane::testing
