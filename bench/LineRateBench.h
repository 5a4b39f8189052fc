#pragma once
// What a character costs (compare_bench, sections 6 to 8): CPU while sending and receiving at
// the line rate of 38400 and 9600 baud, how full the line is kept, sends and receives through
// a device file against cp, and the same runs with an earlier build (--before DIR) side by
// side, whose device-file output must be byte for byte the same.
//
// CPU is read from /proc/PID/stat at two moments inside the data phase (when the machine has
// 10 % and 90 % of the program), so the pauses around a transfer (1 s after opening the port,
// 1 s after the start code, the close) do not dilute the figure. Against it stands the least
// any sender pays that wakes once per character: a loop on this machine that sleeps until
// each character is due and writes it into a pseudo-terminal, nothing else.

#include <atomic>
#include <sys/resource.h>
#include <termios.h>
#include <thread>

#include "BenchSupport.h"

namespace corvane::bench {

// One build of the programs under test.
struct Build {
    std::string name; // "before" / "after"
    std::string cli;
    std::string gui; // empty: not there
};

struct RateRun {
    bool ok = false;
    double cpuShare = -1;    // CPU seconds per second inside the data phase
    double utilisation = -1; // characters per second over the line's
    double seconds = 0;      // of the measured stretch
    std::string note;
};

// Watches `file` grow to `total` bytes while `pid` works on it; CPU and characters between
// the 10 % and 90 % marks. False when the marks were not reached before `deadline`.
inline bool measureDataPhase(Child& child, const std::string& file, uint64_t total, double lineCps,
                             double deadline, RateRun& run) {
    const uint64_t lo = total / 10, hi = total * 9 / 10;
    double t1 = 0, cpu1 = -1;
    uint64_t b1 = 0;
    while (nowSeconds() < deadline && !child.poll()) {
        const uint64_t size = fileSize(file);
        if (cpu1 < 0 && size >= lo) {
            t1 = nowSeconds();
            cpu1 = processCpuSeconds(child.pid());
            b1 = size;
        } else if (cpu1 >= 0 && size >= hi) {
            const double t2 = nowSeconds();
            const double cpu2 = processCpuSeconds(child.pid());
            if (cpu2 < 0)
                return false;
            run.seconds = t2 - t1;
            run.cpuShare = (cpu2 - cpu1) / run.seconds;
            run.utilisation = double(size - b1) / run.seconds / lineCps;
            return true;
        }
        sleepSeconds(0.002);
    }
    return false;
}

// The least a sender that wakes once per character pays here: sleep until each character is
// due, write it into a pty (read at once on the other end), for `seconds`.
inline double wakePerCharacterFloor(double charsPerSecond, double seconds) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buffer[4096];
        pollfd p{master, POLLIN, 0};
        while (!stop)
            if (::poll(&p, 1, 50) > 0 && ::read(master, buffer, sizeof buffer) < 0)
                break;
    });
    const double step = 1.0 / charsPerSecond;
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const double start = nowSeconds();
    double due = start;
    const char byte = 'x';
    while (due < start + seconds) {
        due += step;
        const double wait = due - nowSeconds();
        if (wait > 0) {
            pollfd p{slave, POLLIN, 0};
            const timespec ts{time_t(wait), long((wait - double(time_t(wait))) * 1e9)};
            ppoll(&p, 1, &ts, nullptr);
        }
        [[maybe_unused]] ssize_t n = ::write(slave, &byte, 1);
    }
    const double elapsed = nowSeconds() - start;
    getrusage(RUSAGE_THREAD, &after);
    stop = true;
    reader.join();
    ::close(slave);
    ::close(master);
    auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return (secs(after.ru_utime) - secs(before.ru_utime) + secs(after.ru_stime) -
            secs(before.ru_stime)) /
           elapsed;
}

} // namespace corvane::bench
