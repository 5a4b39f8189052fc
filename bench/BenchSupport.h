#pragma once
// What the soak and the comparison benchmarks share: child processes measured from outside
// (wall time, CPU and peak memory from wait4, CPU samples from /proc), the simulated machine
// started on its pseudo-terminal, generated NC programs, machine files written by corvane-cli,
// and byte-for-byte comparison of large files. Header-only: each benchmark is one program.

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <random>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace corvane::bench {

inline double nowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline void sleepSeconds(double seconds) {
    if (seconds <= 0)
        return;
    const timespec ts{time_t(seconds), long((seconds - double(time_t(seconds))) * 1e9)};
    nanosleep(&ts, nullptr);
}

inline std::string readWholeFile(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

inline uint64_t fileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
}

// The number after `label` in a summary text, -1 when absent.
inline long long summaryValue(const std::string& text, const std::string& label) {
    std::smatch m;
    if (std::regex_search(text, m, std::regex(label + " ([0-9]+)")))
        return std::stoll(m[1]);
    return -1;
}

// CPU seconds a process has used so far (user + system, all threads), from /proc; -1 when
// it is gone. Clock ticks: 10 ms resolution, enough for windows of seconds.
inline double processCpuSeconds(pid_t pid) {
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')'); // the command name may hold spaces
    if (close == std::string::npos)
        return -1;
    // After ") ": state is field 3; utime and stime are fields 14 and 15.
    unsigned long long utime = 0, stime = 0;
    const char* p = stat.c_str() + close + 2;
    int field = 3;
    while (*p && field < 14) {
        if (*p++ == ' ')
            ++field;
    }
    if (std::sscanf(p, "%llu %llu", &utime, &stime) != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Nanoseconds on a CPU summed over the threads of a process (/proc/PID/task/*/schedstat):
// fine-grained, for telling when a starting program has gone idle. -1 when it is gone.
inline long long processRunNanos(pid_t pid) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return -1;
    long long total = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string text = readWholeFile(folder + "/" + entry->d_name + "/schedstat");
        total += std::atoll(text.c_str());
    }
    closedir(dir);
    return total;
}

struct ChildResult {
    int status = -1;          // exit status, 128 + signal when killed, -1 when not ended
    double wallSeconds = 0;   // from spawn to exit
    double cpuSeconds = 0;    // user + system of the child and what it waited for
    long maxRssKiB = 0;       // peak resident memory: see Child::start
    bool rssMeasured = false; // maxRssKiB is the child's own (measured through GNU time)
    bool timedOut = false;
};

// One child process; stdout and stderr go to files (no pipe to keep draining).
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (m_pid > 0 && !m_done) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // `env` entries ("NAME=value") are added to this process's environment.
    //
    // With `measureMemory` the child runs under GNU time, which reports its peak resident
    // memory. wait4's own figure cannot serve: a process started from this one counts this
    // one's resident memory as its own until it execs (the kernel keeps the larger), so a
    // small program would show the size of the benchmark. GNU time is small; what it starts
    // shows its own peak. pid() is then the pid of time, not of the program.
    bool start(const std::vector<std::string>& args, const std::string& outPath,
               const std::string& errPath, const std::vector<std::string>& env = {},
               bool measureMemory = false) {
        m_rssPath.clear();
        if (measureMemory && access(TimePath, X_OK) == 0)
            m_rssPath = outPath + ".rss";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> all = args;
        if (!m_rssPath.empty())
            all.insert(all.begin(), {TimePath, "-f", "%M", "-o", m_rssPath});
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e)
            envText.emplace_back(*e);
        envText.insert(envText.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        m_startedAt = nowSeconds();
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(rc));
            m_pid = -1;
            return false;
        }
        return true;
    }

    pid_t pid() const { return m_pid; }
    double startedAt() const { return m_startedAt; }

    // Reaps the child if it has ended; true when it has.
    bool poll() {
        if (m_done || m_pid <= 0)
            return true;
        int status = 0;
        rusage usage{};
        const pid_t r = wait4(m_pid, &status, WNOHANG, &usage);
        if (r != m_pid)
            return false;
        m_done = true;
        m_result.wallSeconds = nowSeconds() - m_startedAt;
        m_result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        m_result.maxRssKiB = usage.ru_maxrss;
        if (!m_rssPath.empty()) {
            // The last line; time may put "Command exited with non-zero status N" before it.
            std::string text = readWholeFile(m_rssPath);
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            const size_t lastLine = text.rfind('\n');
            const long kib =
                std::atol(text.c_str() + (lastLine == std::string::npos ? 0 : lastLine + 1));
            if (kib > 0) {
                m_result.maxRssKiB = kib;
                m_result.rssMeasured = true;
            }
        }
        return true;
    }

    // Waits up to `timeoutSeconds` (in 10 ms slices), then kills the child.
    ChildResult wait(double timeoutSeconds) {
        const double deadline = nowSeconds() + timeoutSeconds;
        while (!poll()) {
            if (nowSeconds() >= deadline) {
                ::kill(m_pid, SIGKILL);
                while (!poll())
                    sleepSeconds(0.01);
                m_result.timedOut = true;
                break;
            }
            sleepSeconds(0.01);
        }
        return m_result;
    }

    void signal(int sig) {
        if (m_pid > 0 && !m_done)
            ::kill(m_pid, sig);
    }

private:
    static constexpr const char* TimePath = "/usr/bin/time";
    pid_t m_pid = -1;
    std::string m_rssPath;
    bool m_done = false;
    double m_startedAt = 0;
    ChildResult m_result;
};

constexpr const char* ChrtPath = "/usr/bin/chrt";

// Whether the simulated machine can run at a real-time priority here (root, or
// CAP_SYS_NICE), unless CORVANE_BENCH_NO_RT=1 asks not to.
inline bool realtimeAllowed(const std::string& folder) {
    if (const char* no = std::getenv("CORVANE_BENCH_NO_RT"); no && std::string(no) == "1")
        return false;
    if (access(ChrtPath, X_OK) != 0)
        return false;
    Child child;
    if (!child.start({ChrtPath, "-f", "10", "/bin/true"}, folder + "/chrt.out",
                     folder + "/chrt.err"))
        return false;
    return child.wait(10).status == 0;
}

// The simulated machine as a child: its device line read from its stdout file.
//
// With `realtime` it runs under SCHED_FIFO. The machine it stands for is a real-time device
// that takes every character off the line as it arrives; on two cores shared with compilers,
// a simulator at normal priority is sometimes not scheduled for a hundred milliseconds, and
// every character the sender wrote meanwhile, long before any DC3, would be counted as having
// come after the next one. The simulator sleeps in poll between events, so it costs nothing.
class Sim {
public:
    Sim(std::string simPath, std::string folder, std::string name, bool realtime = false)
        : m_simPath(std::move(simPath)), m_out(folder + "/" + name + ".out"),
          m_err(folder + "/" + name + ".err"), m_realtime(realtime) {}

    bool start(std::vector<std::string> args, double timeoutSeconds = 5) {
        args.insert(args.begin(), m_simPath);
        if (m_realtime)
            args.insert(args.begin(), {ChrtPath, "-f", "10"});
        if (!m_child.start(args, m_out, m_err))
            return false;
        const double deadline = nowSeconds() + timeoutSeconds;
        while (nowSeconds() < deadline) {
            const std::string out = readWholeFile(m_out);
            const size_t end = out.find('\n');
            if (out.rfind("device ", 0) == 0 && end != std::string::npos) {
                m_device = out.substr(7, end - 7);
                return true;
            }
            if (m_child.poll())
                break;
            sleepSeconds(0.01);
        }
        std::fprintf(stderr, "cnc-sim did not start: %s\n", readWholeFile(m_err).c_str());
        return false;
    }
    const std::string& device() const { return m_device; }
    Child& child() { return m_child; }
    ChildResult wait(double timeoutSeconds) { return m_child.wait(timeoutSeconds); }
    std::string output() const { return readWholeFile(m_out); }
    std::string errors() const { return readWholeFile(m_err); }
    long long value(const std::string& label) const { return summaryValue(output(), label); }

private:
    std::string m_simPath;
    std::string m_out;
    std::string m_err;
    std::string m_device;
    bool m_realtime;
    Child m_child;
};

// A folder under $TMPDIR (or /tmp) removed at the end unless kept.
class WorkFolder {
public:
    explicit WorkFolder(const char* prefix) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_path = pattern;
    }
    ~WorkFolder() {
        if (m_keep) {
            std::printf("work files kept in %s\n", m_path.c_str());
            return;
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    void keep() { m_keep = true; }

private:
    std::string m_path;
    bool m_keep = false;
};

// A milling program of at least `bytes` characters (whole lines; the exact size is returned):
// programs of a few thousand blocks each, with comments, tool changes, rapid moves, linear and
// circular interpolation, each block ending in LF. No blank lines, no CR, no tabs, nothing
// longer than 80 characters, so both engines pass every line through unchanged.
inline uint64_t writeProgram(const std::string& path, uint64_t bytes, unsigned seed = 1) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::vector<char> buffer(1 << 20);
    std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
    std::mt19937 random(seed);
    auto pick = [&random](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    // A coordinate with three decimals in -max..max, as a control wants it.
    auto coordinate = [&](char* out, size_t size, char axis, int max) {
        const int thousandths = pick(-max * 1000, max * 1000);
        const int whole = std::abs(thousandths) / 1000;
        return std::snprintf(out, size, " %c%s%d.%03d", axis, thousandths < 0 ? "-" : "", whole,
                             std::abs(thousandths) % 1000);
    };
    uint64_t written = 0;
    char line[128];
    auto put = [&](int length) {
        std::fwrite(line, 1, size_t(length), f);
        written += uint64_t(length);
    };
    int programNumber = 1000;
    while (written < bytes) {
        ++programNumber;
        put(std::snprintf(line, sizeof line, "%%\nO%04d (POCKET %d - GENERATED)\n",
                          programNumber % 10000, programNumber));
        int n = 10;
        put(std::snprintf(line, sizeof line, "N%d G90 G17 G40 G49 G80 G21\n", n));
        const int blocks = pick(800, 4000);
        int tool = 1;
        for (int b = 0; b < blocks && written < bytes; ++b) {
            n += 10;
            int len = std::snprintf(line, sizeof line, "N%d", n);
            const int kind = pick(0, 99);
            if (kind < 2) {
                tool = tool % 12 + 1;
                len += std::snprintf(line + len, sizeof line - size_t(len), " T%02d M06 (TOOL %d)",
                                     tool, tool);
            } else if (kind < 8) {
                len += std::snprintf(line + len, sizeof line - size_t(len), " G00");
                len += coordinate(line + len, sizeof line - size_t(len), 'X', 250);
                len += coordinate(line + len, sizeof line - size_t(len), 'Y', 150);
                if (kind < 4)
                    len += std::snprintf(line + len, sizeof line - size_t(len), " S%d M03",
                                         pick(8, 60) * 100);
            } else if (kind < 12) {
                len += std::snprintf(line + len, sizeof line - size_t(len), " G01");
                len += coordinate(line + len, sizeof line - size_t(len), 'Z', 30);
                len +=
                    std::snprintf(line + len, sizeof line - size_t(len), " F%d.", pick(1, 8) * 50);
            } else if (kind < 80) {
                len += std::snprintf(line + len, sizeof line - size_t(len), " G01");
                len += coordinate(line + len, sizeof line - size_t(len), 'X', 250);
                len += coordinate(line + len, sizeof line - size_t(len), 'Y', 150);
                if (kind < 30)
                    len += std::snprintf(line + len, sizeof line - size_t(len), " F%d.",
                                         pick(4, 40) * 50);
            } else {
                len += std::snprintf(line + len, sizeof line - size_t(len), " G0%d",
                                     kind < 90 ? 2 : 3);
                len += coordinate(line + len, sizeof line - size_t(len), 'X', 250);
                len += coordinate(line + len, sizeof line - size_t(len), 'Y', 150);
                len += coordinate(line + len, sizeof line - size_t(len), 'I', 40);
                len += coordinate(line + len, sizeof line - size_t(len), 'J', 40);
            }
            line[len++] = '\n';
            put(len);
        }
        put(std::snprintf(line, sizeof line, "N%d G00 Z50.000 M05\nN%d M30\n%%\n", n + 10, n + 20));
    }
    std::fclose(f);
    return written;
}

// `prefix`, the file at `source` with every LF replaced by `lineEnd`, then `suffix`.
inline void writeExpected(const std::string& path, const std::string& source,
                          const std::string& prefix, const std::string& lineEnd,
                          const std::string& suffix) {
    std::FILE* in = std::fopen(source.c_str(), "rb");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!in || !out) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fwrite(prefix.data(), 1, prefix.size(), out);
    std::vector<char> chunk(1 << 20);
    std::string converted;
    size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
        converted.clear();
        for (size_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n')
                converted += lineEnd;
            else
                converted += chunk[i];
        }
        std::fwrite(converted.data(), 1, converted.size(), out);
    }
    std::fwrite(suffix.data(), 1, suffix.size(), out);
    std::fclose(in);
    std::fclose(out);
}

// Byte-for-byte comparison; on a difference `detail` says where.
inline bool sameFiles(const std::string& expected, const std::string& actual, std::string& detail) {
    std::FILE* a = std::fopen(expected.c_str(), "rb");
    std::FILE* b = std::fopen(actual.c_str(), "rb");
    if (!a || !b) {
        detail = "cannot open " + std::string(a ? actual : expected);
        if (a)
            std::fclose(a);
        if (b)
            std::fclose(b);
        return false;
    }
    std::vector<unsigned char> x(1 << 20), y(1 << 20);
    uint64_t offset = 0;
    bool same = true;
    for (;;) {
        const size_t n = std::fread(x.data(), 1, x.size(), a);
        const size_t m = std::fread(y.data(), 1, y.size(), b);
        const size_t common = std::min(n, m);
        for (size_t i = 0; i < common; ++i) {
            if (x[i] != y[i]) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "first difference at byte %" PRIu64 ": expected 0x%02X, got 0x%02X",
                              offset + i, x[i], y[i]);
                detail = text;
                same = false;
                break;
            }
        }
        if (!same)
            break;
        if (n != m) {
            detail = "lengths differ: expected " + std::to_string(fileSize(expected)) +
                     " bytes, got " + std::to_string(fileSize(actual));
            same = false;
            break;
        }
        offset += n;
        if (n == 0)
            break;
    }
    std::fclose(a);
    std::fclose(b);
    return same;
}

// Writes a machine file with corvane-cli ("machine new FILE KEY=VALUE ...").
inline bool writeMachine(const std::string& cli, const std::string& path,
                         const std::vector<std::string>& keys, const std::string& folder) {
    std::vector<std::string> args{cli, "machine", "new", path};
    args.insert(args.end(), keys.begin(), keys.end());
    Child child;
    if (!child.start(args, folder + "/machine.out", folder + "/machine.err"))
        return false;
    const ChildResult r = child.wait(30);
    if (r.status != 0)
        std::fprintf(stderr, "corvane-cli machine new %s failed: %s\n", path.c_str(),
                     readWholeFile(folder + "/machine.err").c_str());
    return r.status == 0;
}

inline std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace corvane::bench
