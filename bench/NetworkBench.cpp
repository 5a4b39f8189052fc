// Whole sends through the send engine to the simulated machine, over its local pseudo-terminal
// and through the real ser2net in front of it (raw TCP and RFC 2217), optionally with a relay
// in the path that delays every chunk by half of an added round trip:
//   one PATH BAUD CPS SECONDS DELAY_MS
//        PATH pty, tcp or rfc2217; BAUD the BaudRate index (5 = 9600, 7 = 38400); the machine
//        executes CPS characters a second; SECONDS worth of program; DELAY_MS added round trip.
// Prints the machine's holds, the characters that followed its DC3 (most and in all), its
// alarms, and the sender's CPU. Without arguments every case runs, each in its own process.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/ChildProcess.h"
#include "support/Clock.h"
#include "support/Ser2netProcess.h"
#include "support/SimProcess.h"
#include "support/StringTable.h"
#include "transfer/ForwardingLine.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/SendEngine.h"
#include "transfer/TransferContext.h"

using namespace corvane;

namespace {

class BenchHost : public TransferHost {
public:
    void logPrint(int, const std::string& text) override {
        if (text.rfind("Warning", 0) == 0)
            std::fprintf(stderr, "%s\n", text.c_str());
    }
    void logShowFlow(const std::string&) override {}
    void setStatusText(int, const std::string&) override {}
    void setFrameTitle(int, const char*, bool) override {}
    void progressShow(bool) override {}
    void progressRange(uint32_t) override {}
    void progressPos(uint32_t) override {}
    void notify(uint32_t, uint32_t) override {}
    bool selectDeviceFile(bool, MachineDef&, std::string&) override { return false; }
    void showError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void serviceMessages() override {}
    void idle(uint64_t micros) override {
        const timespec ts{static_cast<time_t>(micros / 1000000u),
                          static_cast<long>(micros % 1000000u) * 1000};
        ppoll(nullptr, 0, &ts, nullptr);
    }
    uint64_t nowMicros() override { return WexGetTickCount64(); }
    const char* text(int id) override { return WexLoadString(Language::English, id); }
};

// The line as opened, passed through, with the times of the first and the last byte written:
// the line's use while the program goes out, without the opening, the wait for the machine's
// start code and the engine's pause after the end.
class TimedLine : public ForwardingLine {
public:
    TimedLine(std::unique_ptr<Line> inner, uint64_t& first, uint64_t& last)
        : ForwardingLine(*inner), m_inner(std::move(inner)), m_first(first), m_last(last) {}
    bool writeByte(uint8_t byte, uint64_t waitMicros) override {
        const bool written = m_inner->writeByte(byte, waitMicros);
        if (written) {
            m_last = WexGetTickCount64();
            if (m_first == 0)
                m_first = m_last;
        }
        return written;
    }

private:
    std::unique_ptr<Line> m_inner;
    uint64_t& m_first;
    uint64_t& m_last;
};

double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long summaryValue(const std::string& output, const std::string& label) {
    std::smatch m;
    if (std::regex_search(output, m, std::regex(label + " ([0-9]+)")))
        return std::stol(m[1]);
    return -1;
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A TCP relay on loopback that holds every chunk for `delayMicros` in each direction: a shop
// network's round trip, added to the path between Corvane and the device server.
class DelayRelay {
public:
    DelayRelay(uint16_t target, uint64_t delayMicros) : m_target(target), m_delay(delayMicros) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~DelayRelay() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    uint16_t port = 0;

private:
    struct Chunk {
        uint64_t due;
        std::string bytes;
    };
    void run() {
        pollfd accepting{m_listen, POLLIN, 0};
        while (!m_stop && ::poll(&accepting, 1, 50) <= 0) {
        }
        if (m_stop)
            return;
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = loopback(m_target);
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        const int on = 1;
        for (const int fd : {client, server})
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::deque<Chunk> toServer, toClient;
        bool open = true;
        while (!m_stop && open) {
            const uint64_t now = WexGetTickCount64();
            for (auto* queue : {&toServer, &toClient}) {
                const int fd = queue == &toServer ? server : client;
                while (!queue->empty() && queue->front().due <= now) {
                    ::send(fd, queue->front().bytes.data(), queue->front().bytes.size(),
                           MSG_NOSIGNAL);
                    queue->pop_front();
                }
            }
            uint64_t wait = 20000;
            for (auto* queue : {&toServer, &toClient})
                if (!queue->empty())
                    wait = std::min(wait, queue->front().due - std::min(queue->front().due, now));
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            const timespec ts{0, static_cast<long>(wait) * 1000};
            if (ppoll(p, 2, &ts, nullptr) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char buffer[4096];
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                (i == 0 ? toServer : toClient)
                    .push_back({WexGetTickCount64() + m_delay, std::string(buffer, size_t(n))});
            }
        }
        ::close(client);
        ::close(server);
    }

    uint16_t m_target;
    uint64_t m_delay;
    int m_listen = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::string writeProgram(const std::filesystem::path& folder, size_t bytes) {
    const std::string path = (folder / "BENCH.NC").string();
    std::ofstream out(path, std::ios::binary);
    size_t written = 0;
    char line[96];
    for (long n = 1; written < bytes; ++n) {
        const int len = std::snprintf(line, sizeof line, "N%ld G01 X%ld.%03ld Y-%ld.%03ld F1200\n",
                                      n, n % 500, n % 1000, n % 300, (n * 7) % 1000);
        out.write(line, len);
        written += size_t(len);
    }
    return path;
}

int one(const std::string& path, int baudRate, int cps, double seconds, int delayMs) {
    char pattern[] = "/tmp/cvn-network-bench-XXXXXX";
    const std::filesystem::path folder = mkdtemp(pattern);
    setenv("TMPDIR", folder.c_str(), 1);
    MachineDef machine;
    MachineDefSetDefaults(machine.line, machine.config);
    // 8E1 (11 bits), XON/XOFF, nothing added around the data, LF on the wire.
    machine.line.OutCode = 2;
    machine.line.DataLen = 1;
    machine.line.Parity = 2;
    machine.line.Stop = 0;
    machine.line.HandShake = 1;
    machine.line.BaudRate = baudRate;
    machine.line.PtpStart = 0;
    machine.line.PtpStop = 0;
    machine.config.HeadLf = 0;
    machine.config.LfCode = 0;
    machine.config.Comment = 0;
    machine.config.ErCode = 0;
    AppConfig config;
    config.Echo = 0;
    SendQueue queue;
    const std::string program = writeProgram(folder, static_cast<size_t>(seconds * cps));
    std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", program.c_str());
    queue.Entries[0].Size = static_cast<uint32_t>(std::filesystem::file_size(program));
    queue.Count = 1;

    testing::SimProcess sim;
    if (!sim.start({"read", "--wait-ms", "0", "--cps", std::to_string(cps), "--end-on", "none",
                    "--idle-ms", "1000", "--exit-after-ms",
                    std::to_string(int(seconds * 3000) + 20000)})) {
        std::fprintf(stderr, "cnc-sim did not start: %s\n", sim.errors().c_str());
        return 1;
    }
    std::string port = sim.device();
    testing::Ser2netProcess ser2net;
    std::unique_ptr<DelayRelay> relay;
    if (path != "pty") {
        if (!ser2net.start(folder.string(), path == "rfc2217" ? "telnet(rfc2217),tcp" : "tcp",
                           sim.device())) {
            std::fprintf(stderr, "ser2net did not start: %s\n", ser2net.errors().c_str());
            return 1;
        }
        uint16_t reach = ser2net.port;
        if (delayMs > 0) {
            relay = std::make_unique<DelayRelay>(ser2net.port, uint64_t(delayMs) * 500);
            reach = relay->port;
        }
        port = path + "://127.0.0.1:" + std::to_string(reach);
    }
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", port.c_str());

    TransferState state;
    BenchHost host;
    uint64_t firstByte = 0, lastByte = 0;
    const LineOpener opener = [&firstByte, &lastByte](const MachineDef& m, int direction,
                                                      const char* file) {
        OpenedLine opened = OpenDefaultLine(m, direction, file, LineOptions{});
        if (opened.line)
            opened.line = std::make_unique<TimedLine>(std::move(opened.line), firstByte, lastByte);
        return opened;
    };
    TransferContext ctx{machine, config, queue, state, host, opener, 0, {}};
    const uint64_t start = WexGetTickCount64();
    const double cpu0 = threadCpuSeconds();
    const int result = SendNcData(ctx);
    const double cpu = threadCpuSeconds() - cpu0;
    const double wall = double(WexGetTickCount64() - start) / 1e6;
    const auto status = sim.wait(15000);
    relay.reset();
    ser2net.kill();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    const std::string& out = sim.output();
    // The share of the line the send kept busy: its characters' time on the wire (8E1: 11
    // bits each) over the time the send took, opening and the last drain included; and over
    // the time from the first byte written to the last, plus the last one's own.
    const double onWire =
        double(summaryValue(out, "received")) * 11.0 / double(BaudRateFor(baudRate));
    const double lineUse = onWire / wall * 100.0;
    const double sending = double(lastByte - firstByte) / 1e6 + 11.0 / BaudRateFor(baudRate);
    const double sendingUse = firstByte != 0 ? onWire / sending * 100.0 : 0.0;
    std::printf("%-8s %5d baud %5d cps delay %d ms: result %d, received %ld of %zu, holds %ld, "
                "after DC3 max %ld total %ld, alarms %ld, %.1f s, line use %.1f %% (sending "
                "%.1f %%), sender CPU %.2f s (%.2f %%)\n",
                path.c_str(), BaudRateFor(baudRate), cps, delayMs, result,
                summaryValue(out, "received"), size_t(queue.Entries[0].Size),
                summaryValue(out, "holds"), summaryValue(out, "max after DC3"),
                summaryValue(out, "total after DC3"), summaryValue(out, "alarms"), wall, lineUse,
                sendingUse, cpu, cpu * 100 / wall);
    return result == SendCompleted && status == 0 ? 0 : 1;
}

int runChild(const std::vector<std::string>& args) {
    std::vector<std::string> all{"/proc/self/exe"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0)
        return 1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::fflush(stdout);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "one" && argc > 6)
        return one(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]),
                   std::atoi(argv[6]));
    if (!mode.empty()) {
        std::fprintf(stderr, "usage: network_bench [one pty|tcp|rfc2217 BAUD CPS SECONDS "
                             "DELAY_MS]\n");
        return 2;
    }
    const double seconds = argc > 0 && std::getenv("CORVANE_BENCH_SECONDS")
                               ? std::atof(std::getenv("CORVANE_BENCH_SECONDS"))
                               : 6;
    const std::string length = std::to_string(seconds);
    int failures = 0;
    if (mode.empty() && std::getenv("CORVANE_BENCH_LINE_USE")) {
        // Line use through ser2net: a machine that executes half as fast again as the line
        // brings characters (8E1: 872 a second at 9600, 3490 at 38400; it never holds), and one
        // a little slower than the line, which holds often (what follows its DC3).
        for (const char* path : {"tcp", "rfc2217"})
            for (const bool fast : {false, true})
                for (const char* delay : {"0", "5"})
                    for (const char* cps : {fast ? "5200" : "1300", fast ? "3000" : "800"})
                        failures +=
                            runChild({"one", path, fast ? "7" : "5", cps, length, delay}) != 0;
        return failures == 0 ? 0 : 1;
    }
    for (const char* baud : {"5", "7"}) {
        for (const char* cps : {"300", "1000", "4000"}) {
            failures += runChild({"one", "pty", baud, cps, length, "0"}) != 0;
            for (const char* path : {"tcp", "rfc2217"})
                for (const char* delay : {"0", "5"})
                    failures += runChild({"one", path, baud, cps, length, delay}) != 0;
        }
    }
    return failures == 0 ? 0 : 1;
}
