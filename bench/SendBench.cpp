// Whole sends through the send engine onto a pseudo-terminal:
//   flat MB        a generated program of MB megabytes, line-rate emulation off, to a reader
//                  that takes everything at once: characters per second, CPU seconds per
//                  megabyte, peak resident memory (run with 1 and 10 to see it does not grow
//                  with the file);
//   paced SECONDS  line-rate emulation on at 38400 baud (8E1, 11 bits: 3490 characters per
//                  second on a real line), SECONDS worth of data;
//   sim BAUD CPS SECONDS
//                  emulation on at the BaudRate index BAUD against the simulated machine
//                  executing CPS characters per second: the characters that followed its DC3.
// Without arguments every case runs, each in its own process so each peak is its own.

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchPty.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/Clock.h"
#include "support/SimProcess.h"
#include "support/StringTable.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/SendEngine.h"
#include "transfer/TransferContext.h"

using namespace corvane;

namespace {

class BenchHost : public TransferHost {
public:
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
    void serviceMessages() override {}
    void idle(uint64_t micros) override {
        const timespec ts{static_cast<time_t>(micros / 1000000u),
                          static_cast<long>(micros % 1000000u) * 1000};
        ppoll(nullptr, 0, &ts, nullptr);
    }
    uint64_t nowMicros() override { return WexGetTickCount64(); }
    const char* text(int id) override { return WexLoadString(Language::English, id); }
};

double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// NC blocks until `bytes` are written; returns the path.
std::string writeProgram(const std::filesystem::path& folder, size_t bytes) {
    const std::string path = (folder / "BENCH.NC").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    size_t written = 0;
    char line[96];
    for (long n = 1; written < bytes; ++n) {
        const int len = std::snprintf(line, sizeof line, "N%ld G01 X%ld.%03ld Y-%ld.%03ld F1200\n",
                                      n, n % 500, n % 1000, n % 300, (n * 7) % 1000);
        std::fwrite(line, 1, size_t(len), f);
        written += size_t(len);
    }
    std::fclose(f);
    return path;
}

struct Send {
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;
    BenchHost host;
    std::filesystem::path folder;

    explicit Send(int baudRate) {
        char pattern[] = "/tmp/cvn-send-bench-XXXXXX";
        folder = mkdtemp(pattern);
        setenv("TMPDIR", folder.c_str(), 1); // the engine's temporary copy goes here too
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
        config.Echo = 0;
    }
    ~Send() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    void queueFile(const std::string& path) {
        std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", path.c_str());
        queue.Entries[0].Size = static_cast<uint32_t>(std::filesystem::file_size(path));
        queue.Count = 1;
    }
    // Runs the engine; returns its result and the CPU seconds of this thread.
    int run(const LineOpener& opener, double& cpu) {
        TransferContext ctx{machine, config, queue, state, host, opener, 0, {}};
        const double cpu0 = threadCpuSeconds();
        const int result = SendNcData(ctx);
        cpu = threadCpuSeconds() - cpu0;
        return result;
    }
};

using corvane::bench::Pty;

// Reads the master end as fast as it comes, timing the first and the last byte.
struct Reader {
    int fd;
    std::atomic<bool> stop{false};
    uint64_t bytes = 0;
    uint64_t firstAt = 0;
    uint64_t lastAt = 0;
    std::thread thread;

    explicit Reader(int masterFd) : fd(masterFd), thread([this] { loop(); }) {}
    void loop() {
        static constexpr size_t Size = 65536;
        std::vector<char> buffer(Size);
        pollfd p{fd, POLLIN, 0};
        while (!stop) {
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer.data(), Size);
            if (n <= 0)
                continue;
            const uint64_t now = WexGetTickCount64();
            if (bytes == 0)
                firstAt = now;
            lastAt = now;
            bytes += uint64_t(n);
        }
    }
    void finish() {
        stop = true;
        thread.join();
    }
    double seconds() const { return double(lastAt - firstAt) / 1e6; }
};

int flat(double megabytes) {
    Send send(7);
    const auto size = static_cast<size_t>(megabytes * 1024 * 1024);
    send.queueFile(writeProgram(send.folder, size));
    const long rssBefore = peakRssKiB();
    Pty pty;
    Reader reader(pty.master);
    LineOptions options;
    options.emulateLineRate = false;
    double cpu = 0;
    const int result = send.run(
        [&](const MachineDef& m, int direction, const char*) {
            OpenedLine opened;
            opened.line = PosixSerialLine::adopt(pty.slave, m, direction, options);
            return opened;
        },
        cpu);
    reader.finish();
    const double mb = double(reader.bytes) / (1024.0 * 1024.0);
    std::printf("flat %.0f MB: result %d, %" PRIu64 " characters in %.2f s = %.0f characters/s, "
                "sender CPU %.2f s = %.2f CPU s/MB, peak RSS %ld KiB (%ld KiB before the send)\n",
                megabytes, result, reader.bytes, reader.seconds(),
                double(reader.bytes) / reader.seconds(), cpu, cpu / mb, peakRssKiB(), rssBefore);
    return result == SendCompleted ? 0 : 1;
}

int paced(double seconds) {
    Send send(7);
    send.queueFile(writeProgram(send.folder, static_cast<size_t>(seconds * 3490)));
    Pty pty;
    Reader reader(pty.master);
    double cpu = 0;
    uint64_t charMicros = 0;
    const int result = send.run(
        [&](const MachineDef& m, int direction, const char*) {
            auto line = PosixSerialLine::adopt(pty.slave, m, direction, LineOptions{});
            charMicros = line->charMicros();
            OpenedLine opened;
            opened.line = std::move(line);
            return opened;
        },
        cpu);
    reader.finish();
    const double cps = double(reader.bytes) / reader.seconds();
    std::printf("paced 38400 baud 8E1: result %d, %" PRIu64 " characters in %.2f s = %.0f "
                "characters/s (a real line: 3490; one character %" PRIu64 " us = %.0f/s), "
                "%.1f %% of the line rate, sender CPU %.2f s (%.1f %% of the time)\n",
                result, reader.bytes, reader.seconds(), cps, charMicros, 1e6 / double(charMicros),
                cps * 100 / 3490.9, cpu, cpu * 100 / reader.seconds());
    return result == SendCompleted ? 0 : 1;
}

long summaryValue(const std::string& output, const std::string& label) {
    std::smatch m;
    if (std::regex_search(output, m, std::regex(label + " ([0-9]+)")))
        return std::stol(m[1]);
    return -1;
}

int againstSim(int baudRate, int cps, double seconds) {
    Send send(baudRate);
    const std::string program = writeProgram(send.folder, static_cast<size_t>(seconds * cps));
    send.queueFile(program);
    const auto characters = static_cast<size_t>(std::filesystem::file_size(program));
    testing::SimProcess sim;
    const std::string cpsText = std::to_string(cps);
    if (!sim.start({"read", "--wait-ms", "0", "--cps", cpsText, "--end-on", "none", "--idle-ms",
                    "500", "--exit-after-ms", std::to_string(int(seconds * 3000) + 10000)})) {
        std::fprintf(stderr, "cnc-sim did not start: %s\n", sim.errors().c_str());
        return 1;
    }
    std::snprintf(send.machine.line.PortName, sizeof send.machine.line.PortName, "%s",
                  sim.device().c_str());
    const uint64_t start = WexGetTickCount64();
    double cpu = 0;
    const int result = send.run(DefaultLineOpener(LineOptions{}), cpu);
    const double wall = double(WexGetTickCount64() - start) / 1e6;
    const auto status = sim.wait(10000);
    const std::string& out = sim.output();
    std::printf("cnc-sim at %d characters/s, %d baud 8E1 paced: result %d, exit %d, received "
                "%ld of %zu, holds %ld, max after DC3 %ld, total after DC3 %ld, alarms %ld "
                "(%.1f s, sender CPU %.2f s)\n",
                cps, BaudRateFor(baudRate), result, status ? *status : -1,
                summaryValue(out, "received"), characters, summaryValue(out, "holds"),
                summaryValue(out, "max after DC3"), summaryValue(out, "total after DC3"),
                summaryValue(out, "alarms"), wall, cpu);
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
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flat" && argc > 2)
        return flat(std::atof(argv[2]));
    if (mode == "paced" && argc > 2)
        return paced(std::atof(argv[2]));
    if (mode == "sim" && argc > 4)
        return againstSim(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]));
    if (!mode.empty()) {
        std::fprintf(stderr,
                     "usage: send_bench [flat MB | paced SECONDS | sim BAUD CPS SECONDS]\n");
        return 2;
    }
    int failures = 0;
    const std::vector<std::vector<std::string>> cases = {
        {"flat", "1"},
        {"flat", "10"},
        {"paced", "20"},
        {"sim", "5", "1000", "8"}, // 9600 baud: 873 characters/s, below what the machine takes
        {"sim", "5", "500", "8"},
        {"sim", "6", "1000", "8"},
        {"sim", "7", "1000", "8"},
    };
    for (const auto& c : cases)
        failures += runChild(c) != 0;
    return failures == 0 ? 0 : 1;
}
