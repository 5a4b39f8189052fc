// How the port layer behaves on a real terminal, with a pseudo-terminal as the machine:
//   * CPU time spent per second while the machine holds the line with XOFF (should be ~0:
//     the retry loop sleeps on the line);
//   * bytes per second through the port layer when nothing holds the line;
//   * bytes that still arrive after the machine said XOFF while we send flat out.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "BenchPty.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/Clock.h"
#include "support/StringTable.h"
#include "transfer/Port.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/TransferContext.h"

using namespace corvane;

namespace {

class BenchHost : public TransferHost {
public:
    explicit BenchHost(TransferState& state) : m_state(state) {}
    uint64_t stopAt = UINT64_MAX; // sets the interrupt request once the clock passes it

    void logPrint(int, const std::string&) override {}
    void logShowFlow(const std::string&) override {}
    void setStatusText(int, const std::string&) override {}
    void setFrameTitle(int, const char*, bool) override {}
    void progressShow(bool) override {}
    void progressRange(uint32_t) override {}
    void progressPos(uint32_t) override {}
    void notify(uint32_t, uint32_t) override {}
    bool selectDeviceFile(bool, MachineDef&, std::string&) override { return false; }
    void showError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void serviceMessages() override {
        if (nowMicros() >= stopAt)
            m_state.InterruptRequest = 1;
    }
    void idle(uint64_t micros) override {
        const timespec ts{static_cast<time_t>(micros / 1000000u),
                          static_cast<long>(micros % 1000000u) * 1000};
        ppoll(nullptr, 0, &ts, nullptr);
        serviceMessages();
    }
    uint64_t nowMicros() override { return WexGetTickCount64(); }
    const char* text(int id) override { return WexLoadString(Language::English, id); }

private:
    TransferState& m_state;
};

using corvane::bench::Pty;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Run {
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;
    BenchHost host{state};
    Pty pty;
    TransferContext ctx{machine,
                        config,
                        queue,
                        state,
                        host,
                        [this](const MachineDef& m, int direction, const char*) {
                            OpenedLine opened;
                            opened.line = PosixSerialLine::adopt(pty.slave, m, direction);
                            return opened;
                        },
                        0,
                        {}};
    Run() {
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.HandShake = 1;
        machine.line.OutCode = 2;
        machine.line.BaudRate = 7;
    }
    // The character layer's retry loop. Counts the attempts.
    int send(uint8_t byte, long& attempts) {
        for (;;) {
            ++attempts;
            if (ComWriteByte(ctx, 0, byte) == 0)
                return 0;
            host.serviceMessages();
            if (state.InterruptRequest != 0)
                return -1;
        }
    }
};

void heldLine(double seconds) {
    Run run;
    run.machine.config.Xoff = 1; // waiting for DC1 that never comes
    if (ComOpen(run.ctx, 2) != 0)
        std::exit(1);
    long attempts = 0;
    const uint64_t start = WexGetTickCount64();
    run.host.stopAt = start + static_cast<uint64_t>(seconds * 1e6);
    const double cpu0 = cpuSeconds();
    run.send('%', attempts);
    const double wall = (WexGetTickCount64() - start) / 1e6;
    const double cpu = cpuSeconds() - cpu0;
    std::printf("held by XOFF for %.2f s: CPU %.2f ms per second (%.3f %%), %.1f attempts per "
                "second\n",
                wall, cpu * 1000 / wall, cpu * 100 / wall, attempts / wall);
    run.state.InterruptRequest = 0;
    run.host.stopAt = UINT64_MAX;
    run.ctx.port->close();
}

void throughput(double seconds) {
    Run run;
    if (ComOpen(run.ctx, 2) != 0)
        std::exit(1);
    std::atomic<bool> done{false};
    std::atomic<long> received{0};
    std::thread peer([&] {
        char buf[4096];
        pollfd p{run.pty.master, POLLIN, 0};
        while (!done) {
            if (poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(run.pty.master, buf, sizeof buf);
                if (n > 0)
                    received += n;
            }
        }
    });
    long attempts = 0;
    long sent = 0;
    const uint64_t start = WexGetTickCount64();
    const double cpu0 = cpuSeconds();
    while (WexGetTickCount64() - start < static_cast<uint64_t>(seconds * 1e6)) {
        if (run.send(static_cast<uint8_t>('A' + sent % 26), attempts) != 0)
            break;
        ++sent;
    }
    const double wall = (WexGetTickCount64() - start) / 1e6;
    const double cpu = cpuSeconds() - cpu0;
    usleep(100'000);
    done = true;
    peer.join();
    std::printf("unheld: %.0f bytes per second through ComWriteByte (%ld sent, %ld received, "
                "%.1f attempts per byte, CPU %.0f %%)\n",
                sent / wall, sent, received.load(), double(attempts) / double(sent),
                cpu * 100 / wall);
    run.ctx.port->close();
}

void afterXoff(int rounds) {
    Run run;
    if (ComOpen(run.ctx, 2) != 0)
        std::exit(1);
    std::atomic<bool> done{false};
    std::atomic<int> worst{0};
    std::atomic<long> total{0};
    std::thread peer([&] {
        char buf[4096];
        pollfd p{run.pty.master, POLLIN, 0};
        for (int r = 0; r < rounds && !done; ++r) {
            long got = 0;
            while (got < 200 && poll(&p, 1, 1000) > 0) {
                const ssize_t n = ::read(run.pty.master, buf, sizeof buf);
                if (n > 0)
                    got += n;
            }
            const char xoff = 0x13;
            if (::write(run.pty.master, &xoff, 1) != 1)
                break;
            int after = 0;
            while (poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(run.pty.master, buf, sizeof buf);
                if (n <= 0)
                    break;
                after += static_cast<int>(n);
            }
            worst = std::max(worst.load(), after);
            total += after;
            const char xon = 0x11;
            if (::write(run.pty.master, &xon, 1) != 1)
                break;
        }
        done = true;
    });
    long attempts = 0;
    run.host.stopAt = UINT64_MAX;
    while (!done) {
        run.state.InterruptRequest = 0;
        run.host.stopAt = WexGetTickCount64() + 200'000;
        run.send('X', attempts);
    }
    peer.join();
    std::printf("bytes after XOFF (pty, %d rounds): worst %d, mean %.2f\n", rounds, worst.load(),
                double(total.load()) / rounds);
    run.ctx.port->close();
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    heldLine(seconds);
    throughput(seconds > 2 ? 2.0 : seconds);
    afterXoff(20);
    return 0;
}
