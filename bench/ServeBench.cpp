// serve_bench: the unattended line at rest and under a stream of programs.
//
//  1. Idle, compressed: the service listens for one simulated hour on a scripted line whose
//     waits pass on a manual clock, so the hour runs as fast as the CPU allows. The CPU it
//     takes for that is what the hour of listening costs; it must stay within 0.1 % of a core
//     (3.6 s for the hour), or the listen is polling instead of blocking.
//  2. Idle, real: corvane-cli serve as a child on a pseudo-terminal for a few seconds of wall
//     time, its CPU read from /proc: the same figure with the real clock and the real port.
//  3. 1,000 small programs received back to back (manual clock, real files): every one filed,
//     the journal complete, the resident memory flat between the 100th and the 1,000th.
//  4. 1,000 programs punched on one line with random pauses of 0-1.5 s between them, many
//     before the service has said its start code again, some with a line feed or a DC4 after
//     the closing % (manual clock): all filed, 1,000 records, nothing in failed/.
//
// usage: serve_bench [--idle-seconds N] [--programs N]

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "BenchPty.h"
#include "BenchSupport.h"
#include "serve/LineService.h"
#include "support/StringTable.h"
#include "transfer/LineSettings.h"
#include "transfer/TestLine.h"

namespace corvane::bench {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t Second = 1'000'000;

// A host that shows nothing and keeps nothing, so the figures are the service's own.
class QuietHost : public TransferHost {
public:
    explicit QuietHost(ManualClock& clock) : m_clock(clock) {}
    void logPrint(int, const std::string&) override {}
    void logShowFlow(const std::string&) override {}
    void setStatusText(int, const std::string&) override {}
    void setFrameTitle(int, const char*, bool) override {}
    void progressShow(bool) override {}
    void progressRange(uint32_t) override {}
    void progressPos(uint32_t) override {}
    void notify(uint32_t, uint32_t) override {}
    bool selectDeviceFile(bool, MachineDef&, std::string&) override { return false; }
    void showError(const std::string&) override {}
    void serviceMessages() override { ++pumps; }
    void idle(uint64_t micros) override {
        m_clock.advance(micros);
        ++pumps;
    }
    uint64_t nowMicros() override { return m_clock.now(); }
    const char* text(int id) override { return WexLoadString(Language::English, id); }
    uint64_t pumps = 0;

private:
    ManualClock& m_clock;
};

double cpuSecondsOfSelf() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
    const std::string statm = readWholeFile("/proc/self/statm");
    long size = 0, resident = 0;
    std::sscanf(statm.c_str(), "%ld %ld", &size, &resident);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

serve::ServeSettings settingsIn(const std::string& dir) {
    serve::ServeSettings settings;
    MachineDefSetDefaults(settings.machine.line, settings.machine.config);
    settings.machine.line.HandShake = 1;
    settings.machine.config.PtrBegin = 1;
    settings.machine.config.PtrEof = 3;
    settings.machine.config.PtrTimeOut = 5000;
    settings.machine.config.RecvSpace = 2;
    settings.config.Echo = 1; // as configured; a served line leaves blocks out of its log
                              // unless verbose, as in a real run
    settings.name = "bench";
    settings.inbox = dir + "/inbox";
    settings.library = dir + "/lib";
    settings.journal = dir + "/inbox/journal.jsonl";
    fs::create_directories(settings.library);
    return settings;
}

struct Scratch {
    std::string path;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "serve-bench-XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

bool idleCompressed(double simulatedSeconds) {
    Scratch dir;
    ManualClock clock;
    QuietHost host(clock);
    const uint64_t end = uint64_t(simulatedSeconds * double(Second));
    serve::ServeEnvironment env;
    env.stopRequested = [&clock, end] { return clock.now() >= end; };
    env.wallClock = [] { return time_t{1796800502}; };
    auto settings = settingsIn(dir.path);
    LineOpener opener = [&clock, &settings](const MachineDef&, int, const char*) {
        OpenedLine opened;
        opened.line = std::make_unique<TestLine>(clock, FlowSettingsFor(settings.machine.line));
        return opened;
    };
    serve::LineService service(settings, host, opener, env);
    if (!service.prepare().empty())
        return false;
    const double cpuBefore = cpuSecondsOfSelf();
    const double wallBefore = nowSeconds();
    service.run();
    const double cpu = cpuSecondsOfSelf() - cpuBefore;
    const double percent = cpu / simulatedSeconds * 100.0;
    // The scripted line costs no system calls, so the CPU here is only the service's own
    // work; what a real port costs per wake-up is measured by the real run below. The count
    // of wake-ups is what tells blocking from polling: a polling listen would pump at the
    // port layer's 20 ms slice, 50 times a second.
    const double wakeups = double(host.pumps) / simulatedSeconds;
    const bool pass = percent <= 0.1 && wakeups <= 10;
    std::printf("idle, compressed: %.0f s simulated in %.3f s, %.1f ms CPU = %.5f %% of a core, "
                "%.1f wake-ups per simulated second  [%s, limits 0.1 %% and 10 a second]\n",
                simulatedSeconds, nowSeconds() - wallBefore, cpu * 1000, percent, wakeups,
                pass ? "pass" : "FAIL");
    return pass;
}

bool idleReal(double seconds) {
    Scratch dir;
    const std::string machine = dir.path + "/bench.MDF";
    std::FILE* f = std::fopen(machine.c_str(), "w");
    std::fputs("[MCN_RS232C]\nHandShake=1\n[MCN_Config]\nPtrBegin=1\nPtrEof=3\nPtrTimeOut=5000\n",
               f);
    std::fclose(f);
    std::fclose(std::fopen((dir.path + "/c.cfg").c_str(), "w"));
    fs::create_directories(dir.path + "/lib");
    Pty pty;
    std::vector<std::string> args{CORVANE_CLI_PATH,
                                  "--cfg",
                                  dir.path + "/c.cfg",
                                  "serve",
                                  "-m",
                                  machine,
                                  "-p",
                                  ptsname(pty.master),
                                  "--inbox",
                                  dir.path + "/inbox",
                                  "--library",
                                  dir.path + "/lib"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return false;
    posix_spawn_file_actions_destroy(&actions);
    sleepSeconds(1.5); // start-up and the opening of the port are not the idle state
    const long long before = processRunNanos(pid);
    sleepSeconds(seconds);
    const long long after = processRunNanos(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    const double percent = double(after - before) / 1e9 / seconds * 100.0;
    const bool pass = before >= 0 && after >= before && percent <= 0.1;
    std::printf("idle, real: corvane-cli serve on a pty for %.0f s: %.3f ms CPU = %.4f %% of a "
                "core, exit %d  [%s, limit 0.1 %%]\n",
                seconds, double(after - before) / 1e6, percent,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, pass ? "pass" : "FAIL");
    return pass;
}

bool backToBack(int programs) {
    Scratch dir;
    ManualClock clock;
    QuietHost host(clock);
    auto settings = settingsIn(dir.path);
    int punched = 0;
    long rssAtTenth = 0;
    serve::ServeEnvironment env;
    const std::string journal = settings.journal;
    auto journalLines = [&journal] {
        const std::string text = readWholeFile(journal);
        return std::count(text.begin(), text.end(), '\n');
    };
    // The service keeps its port open: the machine punches the next program a few seconds
    // after the service has filed the one before.
    auto line = std::make_unique<TestLine>(clock, FlowSettingsFor(settings.machine.line));
    TestLine& script = *line;
    auto punchNext = [&] {
        char number[16];
        std::snprintf(number, sizeof number, "O%04d", ++punched);
        script.input(std::string("%\n") + number + " (BENCH)\nG00 X0 Y0\nG01 X10. F100.\nM30\n%",
                     clock.now() + 2 * Second);
    };
    long records = 0;
    struct Counter : serve::EventSink {
        long& records;
        std::function<void()> next;
        explicit Counter(long& r) : records(r) {}
        void statusChanged(const serve::LineStatus&) override {}
        void transferRecorded(const serve::JournalRecord&) override {
            ++records;
            next();
        }
    } counter(records);
    counter.next = punchNext;
    env.sink = &counter;
    env.stopRequested = [&] {
        if (records == programs / 10 && rssAtTenth == 0)
            rssAtTenth = residentKiB();
        return records >= programs || clock.now() > uint64_t(programs) * 600 * Second;
    };
    env.wallClock = [] { return time_t{1796800502}; };
    punchNext();
    LineOpener opener = [&](const MachineDef&, int, const char*) {
        OpenedLine opened;
        opened.line = std::move(line);
        return opened;
    };
    serve::LineService service(settings, host, opener, env);
    if (!service.prepare().empty())
        return false;
    const double wallBefore = nowSeconds();
    service.run();
    const long rssAtEnd = residentKiB();
    long filed = 0;
    for (const auto& entry : fs::directory_iterator(settings.inbox))
        filed += entry.path().extension() == ".NC";
    const long lines = journalLines();
    const bool complete = filed == programs && lines == programs;
    const bool flat = rssAtEnd - rssAtTenth <= 512;
    std::printf("back to back: %d programs in %.2f s: %ld filed, %ld journal lines [%s]; "
                "resident memory %ld KiB after %d, %ld KiB after %d (+%ld KiB) [%s, limit "
                "+512 KiB]\n",
                programs, nowSeconds() - wallBefore, filed, lines, complete ? "pass" : "FAIL",
                rssAtTenth, programs / 10, rssAtEnd, programs, rssAtEnd - rssAtTenth,
                flat ? "pass" : "FAIL");
    return complete && flat;
}

// The machine punches `programs` programs on one line, each after a random pause of 0 to
// 1.5 s, whether the service has said its start code again or not; some end with a line feed
// or a DC4 after the closing %. The port is kept open, so every program must be filed, each
// with its record, and nothing may land in failed/.
bool randomGaps(int programs) {
    Scratch dir;
    ManualClock clock;
    QuietHost host(clock);
    auto settings = settingsIn(dir.path);
    std::mt19937 random(19);
    std::uniform_int_distribution<uint64_t> gap(0, 1'500'000);
    auto line = std::make_unique<TestLine>(clock, FlowSettingsFor(settings.machine.line));
    TestLine& script = *line;
    uint64_t at = 2 * Second;
    for (int n = 1; n <= programs; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "O%04d", n);
        const char* after = n % 3 == 0 ? "\n" : n % 3 == 1 ? "\x14" : "";
        const std::string text =
            std::string("%\n") + number + " (GAPS)\nG00 X0 Y0\nG01 X10. F100.\nM30\n%" + after;
        script.input(text, at);
        // The program takes its time on the line at 4800 baud (about 2 ms a character).
        at += text.size() * 2'000 + gap(random);
    }
    long records = 0;
    struct Counter : serve::EventSink {
        long& records;
        explicit Counter(long& r) : records(r) {}
        void statusChanged(const serve::LineStatus&) override {}
        void transferRecorded(const serve::JournalRecord&) override { ++records; }
    } counter(records);
    serve::ServeEnvironment env;
    env.sink = &counter;
    env.stopRequested = [&] { return records >= programs || clock.now() > at + 3600 * Second; };
    env.wallClock = [] { return time_t{1796800502}; };
    int opens = 0;
    LineOpener opener = [&](const MachineDef&, int, const char*) {
        OpenedLine opened;
        if (line) {
            ++opens;
            opened.line = std::move(line);
        }
        return opened;
    };
    serve::LineService service(settings, host, opener, env);
    if (!service.prepare().empty())
        return false;
    const double wallBefore = nowSeconds();
    service.run();
    long filed = 0;
    for (const auto& entry : fs::directory_iterator(settings.inbox))
        filed += entry.path().extension() == ".NC";
    long failed = 0;
    if (fs::exists(settings.inbox + "/failed"))
        for (const auto& entry : fs::directory_iterator(settings.inbox + "/failed")) {
            (void)entry;
            ++failed;
        }
    const std::string journal = readWholeFile(settings.journal);
    const long lines = std::count(journal.begin(), journal.end(), '\n');
    const long completed = [&journal] {
        long count = 0;
        for (size_t p = journal.find("\"result\":\"completed\""); p != std::string::npos;
             p = journal.find("\"result\":\"completed\"", p + 1))
            ++count;
        return count;
    }();
    const bool pass = filed == programs && lines == programs && completed == programs &&
                      failed == 0 && opens == 1;
    std::printf("random gaps: %d programs, pauses of 0-1.5 s, %.0f s of line time in %.2f s: "
                "%ld filed, %ld journal lines (%ld completed), %ld in failed/, %d open of the "
                "port  [%s]\n",
                programs, double(at) / double(Second), nowSeconds() - wallBefore, filed, lines,
                completed, failed, opens, pass ? "pass" : "FAIL");
    return pass;
}

} // namespace
} // namespace corvane::bench

int main(int argc, char** argv) {
    double idleSeconds = 10;
    int programs = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--idle-seconds")
            idleSeconds = std::atof(argv[i + 1]);
        else if (option == "--programs")
            programs = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: serve_bench [--idle-seconds N] [--programs N]\n");
            return 2;
        }
    }
    bool ok = corvane::bench::idleCompressed(3600);
    ok = corvane::bench::idleReal(idleSeconds) && ok;
    ok = corvane::bench::backToBack(programs) && ok;
    ok = corvane::bench::randomGaps(programs) && ok;
    return ok ? 0 : 1;
}
