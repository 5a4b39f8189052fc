// corvane-cli (and the window, corvane) side by side with other ways of putting a file on a
// serial line, in one run on one pseudo-terminal bench, so that whatever else loads the
// machine loads every contender alike:
//
//   1. throughput with nothing holding the line: corvane-cli --no-pace, cat into the device,
//      C-Kermit's TRANSMIT /BINARY; a reader on the pty's master end counts the bytes and
//      times the first and the last; also the time from process start to the first byte;
//   2. CPU seconds per second while the machine holds the line for 10 s (cnc-sim --hold-after
//      --hold-ms): corvane-cli and the window, from /proc/PID/stat across the hold;
//   3. characters after DC3 against cnc-sim executing 300, 1000 and 4000 characters per
//      second, with random holds on top so that every rate sees holds: corvane-cli paced at
//      the machine's 38400 baud (its default), corvane-cli --no-pace, C-Kermit with
//      SET FLOW XON/XOFF;
//   4. peak resident memory of corvane-cli for a 1 MB and a 100 MB program (sent into a
//      device file, /dev/null, which takes a minute instead of a quarter of an hour);
//   5. the window's start-up: from exec until the process stops using the CPU (its event
//      loop is idle), and its time from exec to the first byte of a send on the wire;
//   6. CPU while sending at the line rate (38400 and 9600 baud, paced, nothing holding) and
//      how full the line is kept, corvane-cli and the window, against the least any sender
//      pays here that wakes once per character;
//   7. CPU while receiving from cnc-sim punching at the line rate, nothing lost;
//   8. sends and receives through a device file of --big-mb megabytes against cp, and with an
//      earlier build (--before BUILD-DIR) the device-file output of the examples and of the
//      acceptance-style machines compared byte for byte.
// With --before every figure of 6 to 8 is printed for both builds and as a ratio after/before.
//
// usage: compare_bench [--mb N] [--repeat N] [--big-mb N] [--skip-big] [--keep]
//                      [--before BUILD-DIR] [--cost-only]
// Every figure is printed; the exit status is 0 when every run could be made.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchSupport.h"
#include "LineRateBench.h"

using namespace corvane::bench;

namespace {

constexpr const char* KermitPath = "/usr/bin/kermit";
// A pty has no line rate; corvane's pacing emulates this one (8N1 at 38400 baud).
constexpr double LineCps = 3840;

bool haveKermit() {
    return access(KermitPath, X_OK) == 0;
}

bool haveGui() {
#ifdef CORVANE_GUI_PATH
    return access(CORVANE_GUI_PATH, X_OK) == 0;
#else
    return false;
#endif
}

std::string guiPath() {
#ifdef CORVANE_GUI_PATH
    return CORVANE_GUI_PATH;
#else
    return {};
#endif
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A pseudo-terminal whose master end reads everything as it comes, counting bytes and timing
// the first and the last. The slave stays open here too, so that a sender closing it does
// not hang the master up between runs.
class PtyReader {
public:
    PtyReader() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
            std::perror("pty");
            std::exit(1);
        }
        m_slavePath = ptsname(m_master);
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        tcgetattr(m_slave, &tio);
        cfmakeraw(&tio); // cat writes through the line discipline as it finds it: no LF -> CR LF
        tcsetattr(m_slave, TCSANOW, &tio);
        m_thread = std::thread([this] { loop(); });
    }
    ~PtyReader() {
        m_stop = true;
        m_thread.join();
        ::close(m_slave);
        ::close(m_master);
    }
    const std::string& slavePath() const { return m_slavePath; }

    void reset() {
        m_bytes = 0;
        m_first = 0;
        m_last = 0;
    }
    uint64_t bytes() const { return m_bytes; }
    double first() const { return m_first; }
    double last() const { return m_last; }

    // Until `count` bytes came or `timeoutSeconds` passed.
    void waitFor(uint64_t count, double timeoutSeconds) {
        const double deadline = nowSeconds() + timeoutSeconds;
        while (m_bytes < count && nowSeconds() < deadline)
            sleepSeconds(0.005);
    }

private:
    void loop() {
        std::vector<char> buffer(1 << 16);
        pollfd p{m_master, POLLIN, 0};
        while (!m_stop) {
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
            if (n <= 0) {
                sleepSeconds(0.005);
                continue;
            }
            const double now = nowSeconds();
            if (m_bytes == 0)
                m_first = now;
            m_last = now;
            m_bytes += uint64_t(n);
        }
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_bytes{0};
    std::atomic<double> m_first{0};
    std::atomic<double> m_last{0};
    std::thread m_thread;
};

struct Bench {
    WorkFolder work{"cvn-compare"};
    std::string config;
    bool realtime = false; // cnc-sim under chrt -f 10
    int failures = 0;

    std::vector<std::string> cliSend(const std::string& machine, const std::string& port,
                                     const std::string& program, bool paced) {
        std::vector<std::string> args{CORVANE_CLI_PATH, "--cfg", config, "send", "-q"};
        if (!paced)
            args.push_back("--no-pace");
        args.insert(args.end(), {"-m", machine, "-p", port, program});
        return args;
    }
    static std::vector<std::string> catSend(const std::string& port, const std::string& program) {
        return {"/bin/sh", "-c", "exec cat \"$0\" > \"$1\"", program, port};
    }
    static std::vector<std::string> kermitSend(const std::string& port,
                                               const std::string& program) {
        return {KermitPath,
                "-Y", // no initialisation file
                "-H", // no greeting
                "-B", // batch: no controlling terminal needed
                "-C",
                "set line " + port +
                    ", set speed 38400, set carrier-watch off, set flow xon/xoff, "
                    "set transmit echo off, set transmit prompt 0, set transmit pause 0, "
                    "transmit /binary /noecho /nowait " +
                    program + ", exit"};
    }
    std::vector<std::string> guiSend(const std::string& machine, const std::string& program) {
        // CREATE: never hand the send over to a window someone else has open.
        return {guiPath(), "-CREATE", "-CFG=" + config, "-MDF=" + machine, "-EXIT", program};
    }
    static std::vector<std::string> guiEnv() { return {"QT_QPA_PLATFORM=offscreen"}; }

    // ASCII 8N1 at 38400 (or `baudIndex`) with XON/XOFF; nothing around the data but `start`
    // and `stop`.
    bool machine(const std::string& path, const std::string& port, int start, int stop,
                 int baudIndex = 7, std::vector<std::string> more = {}) {
        std::vector<std::string> keys{"OutCode=2",
                                      "DataLen=1",
                                      "Parity=0",
                                      "Stop=0",
                                      "HandShake=1",
                                      "BaudRate=" + std::to_string(baudIndex),
                                      "Xoff=0",
                                      "ErCode=0",
                                      "HeadLf=0",
                                      "LfCode=0",
                                      "Comment=1",
                                      "DeleteErCode=0",
                                      "SendSpace=1",
                                      "PtpNull=0,0,0",
                                      "PtpSpace=0,0,0",
                                      "SendDelay=0",
                                      "PtpStart=" + std::to_string(start),
                                      "PtpStop=" + std::to_string(stop)};
        if (!port.empty())
            keys.push_back("PortName=" + port);
        keys.insert(keys.end(), more.begin(), more.end());
        return writeMachine(CORVANE_CLI_PATH, path, keys, work.path());
    }
};

// ---- 1. throughput and time to the first byte ------------------------------------------------

struct Flat {
    const char* name;
    std::vector<double> cps, firstByte, cpu;
    long rss = 0;
    bool ok = true;
};

void throughput(Bench& b, double megabytes, int repeat, std::vector<Flat>& results) {
    std::printf("\n== 1. Throughput, nothing holding the line (%.1f MB program, %d runs each, "
                "median; every sender started through GNU time)\n",
                megabytes, repeat);
    PtyReader pty;
    const std::string program = b.work.file("flat.nc");
    const uint64_t size = writeProgram(program, uint64_t(megabytes * 1048576));
    const std::string machine = b.work.file("flat.MDF");
    if (!b.machine(machine, "", 0, 0)) {
        ++b.failures;
        return;
    }
    results = {{"corvane-cli --no-pace", {}, {}, {}}, {"cat > /dev/pts/N", {}, {}, {}}};
    if (haveKermit())
        results.push_back({"kermit transmit /binary", {}, {}, {}});
    for (int run = 0; run < repeat; ++run) {
        for (Flat& f : results) {
            std::vector<std::string> args;
            const std::string name = f.name;
            if (name.rfind("corvane", 0) == 0)
                args = b.cliSend(machine, pty.slavePath(), program, false);
            else if (name.rfind("cat", 0) == 0)
                args = Bench::catSend(pty.slavePath(), program);
            else
                args = Bench::kermitSend(pty.slavePath(), program);
            pty.reset();
            Child child;
            if (!child.start(args, b.work.file("flat.out"), b.work.file("flat.err"), {}, true)) {
                f.ok = false;
                continue;
            }
            const ChildResult r = child.wait(60 + megabytes * 30);
            pty.waitFor(size, 5);
            if (r.status != 0 || pty.bytes() != size) {
                std::printf("  %s: exit %d, %llu of %llu bytes arrived: %s\n", f.name, r.status,
                            (unsigned long long)pty.bytes(), (unsigned long long)size,
                            readWholeFile(b.work.file("flat.err")).c_str());
                f.ok = false;
                continue;
            }
            const double span = pty.last() - pty.first();
            f.cps.push_back(double(size) / std::max(span, 1e-6));
            f.firstByte.push_back(pty.first() - child.startedAt());
            f.cpu.push_back(r.cpuSeconds);
            f.rss = std::max(f.rss, r.maxRssKiB);
        }
    }
    for (const Flat& f : results) {
        if (!f.ok) {
            ++b.failures;
            continue;
        }
        std::printf("  %-26s %12.0f characters/s  first byte after %7.1f ms  CPU %.2f s  "
                    "peak RSS %ld KiB\n",
                    f.name, median(f.cps), median(f.firstByte) * 1000, median(f.cpu), f.rss);
    }
    if (results.size() >= 2 && results[0].ok && results[1].ok)
        std::printf("  ratio corvane/cat:    throughput %.4f, time to first byte %.1f\n",
                    median(results[0].cps) / median(results[1].cps),
                    median(results[0].firstByte) / median(results[1].firstByte));
    if (results.size() >= 3 && results[0].ok && results[2].ok)
        std::printf("  ratio corvane/kermit: throughput %.4f, time to first byte %.1f\n",
                    median(results[0].cps) / median(results[2].cps),
                    median(results[0].firstByte) / median(results[2].firstByte));
    std::printf("  (corvane waits 1000 ms after opening the port before the first byte, as a "
                "machine expects; less that pause: %.1f ms)\n",
                (median(results[0].firstByte) - 1.0) * 1000);
}

// ---- 2. CPU while the machine holds the line ------------------------------------------------

struct Held {
    std::string name;
    double cpuPerSecond = -1;
    double window = 0;
};

Held cpuWhileHeld(Bench& b, const std::string& name, bool gui) {
    Held h{name};
    const std::string tag = gui ? "held-gui" : "held-cli";
    const std::string link = b.work.file(tag + ".line");
    const std::string record = b.work.file(tag + ".record");
    constexpr long HoldAfter = 2000;
    constexpr double HoldSeconds = 10;
    Sim sim(CNC_SIM_PATH, b.work.path(), "sim-" + tag, b.realtime);
    if (!sim.start({"read", "--wait-ms", "0", "--hold-after", std::to_string(HoldAfter),
                    "--hold-ms", std::to_string(long(HoldSeconds * 1000)), "--record", record,
                    "--link", link, "--exit-after-ms", "60000"}))
        return h;
    const std::string machine = b.work.file(tag + ".MDF");
    const std::string program = b.work.file("held.nc");
    writeProgram(program, 12000);
    if (!b.machine(machine, link, 0, 20))
        return h;
    Child child;
    const bool started = gui ? child.start(b.guiSend(machine, program), b.work.file(tag + ".out"),
                                           b.work.file(tag + ".err"), Bench::guiEnv())
                             : child.start(b.cliSend(machine, link, program, true),
                                           b.work.file(tag + ".out"), b.work.file(tag + ".err"));
    if (!started)
        return h;
    // The hold begins with the character that brings the record to HoldAfter.
    const double deadline = nowSeconds() + 30;
    while (fileSize(record) < uint64_t(HoldAfter) && nowSeconds() < deadline && !child.poll())
        sleepSeconds(0.005);
    const double heldAt = nowSeconds();
    if (fileSize(record) < uint64_t(HoldAfter)) {
        std::printf("  %s: the hold never began: %s\n", name.c_str(),
                    readWholeFile(b.work.file(tag + ".err")).c_str());
        return h;
    }
    // Inside the hold with half a second of margin at both ends.
    sleepSeconds(heldAt + 0.5 - nowSeconds());
    const double cpu0 = processCpuSeconds(child.pid());
    const double t0 = nowSeconds();
    sleepSeconds(heldAt + HoldSeconds - 0.5 - nowSeconds());
    const double cpu1 = processCpuSeconds(child.pid());
    const double t1 = nowSeconds();
    const ChildResult r = child.wait(60);
    sim.wait(20);
    if (cpu0 < 0 || cpu1 < 0 || r.status != 0) {
        std::printf("  %s: exit %d: %s\n", name.c_str(), r.status,
                    readWholeFile(b.work.file(tag + ".err")).c_str());
        return h;
    }
    h.window = t1 - t0;
    h.cpuPerSecond = (cpu1 - cpu0) / h.window;
    return h;
}

// ---- 3. characters after DC3 -----------------------------------------------------------------

struct AfterDc3 {
    long long holds = -1, maxAfter = -1, totalAfter = -1, lost = -1;
    bool ok = false;
};

AfterDc3 afterDc3(Bench& b, int cps, const std::string& who) {
    AfterDc3 a;
    const std::string tag = "dc3-" + std::to_string(cps) + "-" + who;
    const std::string program = b.work.file("dc3-" + std::to_string(cps) + ".nc");
    const double seconds = 8; // of the machine's execution
    writeProgram(program, uint64_t(cps * seconds));
    Sim sim(CNC_SIM_PATH, b.work.path(), "sim-" + tag, b.realtime);
    // No end code from kermit: the machine ends 2 s after the data stopped. The tolerance is
    // set out of reach so that every run is counted to its end instead of failing.
    if (!sim.start({"read", "--wait-ms", "0", "--cps", std::to_string(cps), "--hold-random", "7",
                    "--end-on", "none", "--idle-ms", "2000", "--tolerance", "1000000",
                    "--exit-after-ms", "120000"}))
        return a;
    const std::string machine = b.work.file("dc3.MDF");
    if (!b.machine(machine, "", 0, 0))
        return a;
    std::vector<std::string> args;
    if (who == "paced")
        args = b.cliSend(machine, sim.device(), program, true);
    else if (who == "unpaced")
        args = b.cliSend(machine, sim.device(), program, false);
    else
        args = Bench::kermitSend(sim.device(), program);
    Child child;
    if (!child.start(args, b.work.file(tag + ".out"), b.work.file(tag + ".err")))
        return a;
    const ChildResult r = child.wait(120);
    sim.wait(30);
    a.holds = sim.value("holds");
    a.maxAfter = sim.value("max after DC3");
    a.totalAfter = sim.value("total after DC3");
    const std::string errors = sim.errors();
    a.lost = 0;
    std::smatch m;
    if (std::regex_search(errors, m, std::regex("buffer overflow: ([0-9]+) characters")))
        a.lost = std::stoll(m[1]);
    a.ok = r.status == 0 && a.holds >= 0;
    if (!a.ok)
        std::printf("  %s at %d: exit %d: %s\n", who.c_str(), cps, r.status,
                    readWholeFile(b.work.file(tag + ".err")).c_str());
    return a;
}

// ---- 4. peak memory --------------------------------------------------------------------------

long peakMemory(Bench& b, double megabytes, double& seconds) {
    const std::string program = b.work.file("memory.nc");
    writeProgram(program, uint64_t(megabytes * 1048576));
    const std::string machine = b.work.file("memory.MDF");
    if (!b.machine(machine, "", 0, 0))
        return -1;
    Child child;
    child.start({CORVANE_CLI_PATH, "--cfg", b.config, "send", "-q", "-m", machine, "-o",
                 "/dev/null", program},
                b.work.file("memory.out"), b.work.file("memory.err"), {"TMPDIR=" + b.work.path()},
                true);
    const ChildResult r = child.wait(60 + megabytes * 20);
    std::remove(program.c_str());
    seconds = r.wallSeconds;
    if (r.status != 0) {
        std::printf("  %.0f MB: exit %d: %s\n", megabytes, r.status,
                    readWholeFile(b.work.file("memory.err")).c_str());
        return -1;
    }
    return r.maxRssKiB;
}

// ---- 5. the window's start-up ----------------------------------------------------------------

// From exec until the process has used no CPU for `quietSeconds`: the moment of its last run.
double guiStartupToIdle(Bench& b, long& rss, double& cpuSeconds) {
    Child child;
    const std::string cfg = b.work.file("startup.cfg");
    std::fclose(std::fopen(cfg.c_str(), "w"));
    if (!child.start({guiPath(), "-CREATE", "-CFG=" + cfg}, b.work.file("startup.out"),
                     b.work.file("startup.err"), Bench::guiEnv()))
        return -1;
    constexpr double QuietSeconds = 0.5;
    constexpr long long QuietNanos = 200'000; // timers may wake it briefly; 0.2 ms is no work
    long long lastRun = 0;
    double lastChange = child.startedAt();
    double quietSince = nowSeconds();
    const double deadline = nowSeconds() + 30;
    while (nowSeconds() < deadline) {
        const long long run = processRunNanos(child.pid());
        const double now = nowSeconds();
        if (run < 0 || child.poll())
            break;
        if (run - lastRun > QuietNanos) {
            lastRun = run;
            lastChange = now;
            quietSince = now;
        } else if (now - quietSince >= QuietSeconds) {
            break;
        }
        sleepSeconds(0.001);
    }
    const std::string status = readWholeFile("/proc/" + std::to_string(child.pid()) + "/status");
    std::smatch m;
    if (std::regex_search(status, m, std::regex("VmRSS:\\s*([0-9]+)")))
        rss = std::stol(m[1]);
    child.signal(SIGTERM);
    if (child.wait(5).timedOut)
        std::printf("  (the window did not end on SIGTERM; killed)\n");
    cpuSeconds = double(lastRun) / 1e9;
    return lastChange - child.startedAt();
}

double guiFirstByte(Bench& b) {
    PtyReader pty;
    const std::string machine = b.work.file("gui-first.MDF");
    const std::string program = b.work.file("tiny.nc");
    const uint64_t size = writeProgram(program, 200);
    if (!b.machine(machine, pty.slavePath(), 0, 0))
        return -1;
    Child child;
    if (!child.start(b.guiSend(machine, program), b.work.file("gui-first.out"),
                     b.work.file("gui-first.err"), Bench::guiEnv()))
        return -1;
    const ChildResult r = child.wait(60);
    pty.waitFor(size, 5);
    if (r.status != 0 || pty.bytes() != size) {
        std::printf("  window send: exit %d, %llu of %llu bytes: %s\n", r.status,
                    (unsigned long long)pty.bytes(), (unsigned long long)size,
                    readWholeFile(b.work.file("gui-first.err")).c_str());
        return -1;
    }
    return pty.first() - child.startedAt();
}

// ---- 6. to 8. cost per character -------------------------------------------------------------

double lineCpsFor(int baudIndex) {
    return baudIndex == 5 ? 960.0 : 3840.0; // 8N1: ten bits a character
}

// A paced send of `bytes` to cnc-sim taking every character as it arrives.
RateRun sendAtLineRate(Bench& b, const Build& build, int baudIndex, bool gui, uint64_t bytes) {
    RateRun run;
    const std::string tag = build.name + (gui ? "-gui-" : "-cli-") + std::to_string(baudIndex);
    const std::string link = b.work.file("rate-" + tag + ".line");
    const std::string record = b.work.file("rate-" + tag + ".record");
    const std::string program = b.work.file("rate-" + std::to_string(bytes) + ".nc");
    const uint64_t size = writeProgram(program, bytes);
    const double seconds = double(size) / lineCpsFor(baudIndex);
    Sim sim(CNC_SIM_PATH, b.work.path(), "sim-" + tag, b.realtime);
    if (!sim.start({"read", "--wait-ms", "0", "--record", record, "--link", link, "--exit-after-ms",
                    std::to_string(long((seconds + 60) * 1000))}))
        return run;
    const std::string machine = b.work.file("rate-" + tag + ".MDF");
    if (!b.machine(machine, link, 18, 20, baudIndex))
        return run;
    std::vector<std::string> args;
    if (gui)
        args = {build.gui, "-CREATE", "-CFG=" + b.config, "-MDF=" + machine, "-EXIT", program};
    else
        args = {build.cli, "--cfg", b.config, "send", "-q", "-m", machine, "-p", link, program};
    Child child;
    if (!child.start(args, b.work.file(tag + ".out"), b.work.file(tag + ".err"),
                     gui ? Bench::guiEnv() : std::vector<std::string>{}))
        return run;
    const bool measured = measureDataPhase(child, record, size + 2, lineCpsFor(baudIndex),
                                           nowSeconds() + seconds + 60, run);
    const ChildResult r = child.wait(seconds + 60);
    sim.wait(20);
    const std::string wire = readWholeFile(record);
    const bool whole = wire == "\x12" + readWholeFile(program) + "\x14";
    run.ok = measured && r.status == 0 && whole;
    if (!run.ok)
        run.note = "exit " + std::to_string(r.status) + (whole ? "" : ", record differs") +
                   (measured ? "" : ", not measured") + ": " +
                   readWholeFile(b.work.file(tag + ".err"));
    return run;
}

// cnc-sim punches `bytes` at the line rate; corvane-cli receives them.
RateRun receiveAtLineRate(Bench& b, const Build& build, int baudIndex, uint64_t bytes) {
    RateRun run;
    const std::string tag = build.name + "-receive-" + std::to_string(baudIndex);
    const std::string program = b.work.file("punch-" + std::to_string(bytes) + ".nc");
    const uint64_t size = writeProgram(program, bytes, 3);
    const std::string expected = b.work.file(tag + ".expected");
    writeExpected(expected, program, "", "\r\n", "");
    const uint64_t expectedSize = fileSize(expected);
    const std::string target = b.work.file(tag + ".target");
    const std::string link = b.work.file(tag + ".line");
    const double cps = lineCpsFor(baudIndex);
    const double seconds = double(size) / cps;
    Sim sim(CNC_SIM_PATH, b.work.path(), "sim-" + tag, b.realtime);
    if (!sim.start({"punch", "--program", program, "--code", "ascii", "--cps",
                    std::to_string(long(cps)), "--link", link, "--exit-after-ms",
                    std::to_string(long((seconds + 60) * 1000))}))
        return run;
    const std::string machine = b.work.file(tag + ".MDF");
    if (!b.machine(machine, link, 0, 20, baudIndex,
                   {"PtrStart=17", "PtrStop=19", "PtrBegin=0", "PtrEof=2", "RecvSpace=2",
                    "PtrTimeOut=20000"}))
        return run;
    Child child;
    if (!child.start(
            {build.cli, "--cfg", b.config, "receive", "-q", "-m", machine, "-p", link, target},
            b.work.file(tag + ".out"), b.work.file(tag + ".err")))
        return run;
    // The target grows by whole lines with CR LF; the machine's rate is that of the program.
    const bool measured =
        measureDataPhase(child, target, expectedSize, cps * double(expectedSize) / double(size),
                         nowSeconds() + seconds + 60, run);
    const ChildResult r = child.wait(seconds + 60);
    sim.wait(20);
    std::string detail;
    const bool same = sameFiles(expected, target, detail);
    run.ok = measured && r.status == 0 && same;
    if (!run.ok)
        run.note = "exit " + std::to_string(r.status) + (same ? "" : ", " + detail) +
                   (measured ? "" : ", not measured") + ": " +
                   readWholeFile(b.work.file(tag + ".err"));
    return run;
}

struct FileRun {
    bool ok = false;
    double seconds = 0;
    long rss = 0;
};

// corvane-cli sending `program` into the device file `out`, or receiving from `program` into
// `out` when `receive`.
FileRun deviceFileRun(Bench& b, const Build& build, const std::string& machine,
                      const std::string& program, const std::string& out, bool receive,
                      double limit, bool reportFailure = true) {
    FileRun f;
    std::vector<std::string> args{build.cli, "--cfg", b.config};
    if (receive)
        args.insert(args.end(), {"receive", "-q", "-m", machine, "-i", program, out});
    else
        args.insert(args.end(), {"send", "-q", "-m", machine, "-o", out, program});
    Child child;
    if (!child.start(args, b.work.file("file.out"), b.work.file("file.err"),
                     {"TMPDIR=" + b.work.path()}, true))
        return f;
    const ChildResult r = child.wait(limit);
    f.ok = r.status == 0;
    f.seconds = r.wallSeconds;
    f.rss = r.maxRssKiB;
    if (!f.ok && reportFailure)
        std::printf("  %s %s: exit %d: %s\n", build.name.c_str(), receive ? "receive" : "send",
                    r.status, readWholeFile(b.work.file("file.err")).c_str());
    return f;
}

double copySeconds(Bench& b, const std::string& from, const std::string& to) {
    Child child;
    if (!child.start({"/bin/cp", from, to}, b.work.file("cp.out"), b.work.file("cp.err")))
        return -1;
    const ChildResult r = child.wait(600);
    return r.status == 0 ? r.wallSeconds : -1;
}

// Machines that exercise the whole send and receive processing, all with a device file:
// the examples' own machines, then codes, line ends, leaders, user codes, numbering, word
// breaks, TV check, comments and % removal, skip rules.
std::vector<std::pair<std::string, std::vector<std::string>>> acceptanceMachines() {
    return {
        {"iso-leaders",
         {"OutCode=0", "PtpNull=20,20,5", "PtpSpace=3,2,1", "ErCode=3", "HeadLf=1", "PtpStart=18",
          "PtpStop=20", "LfCode=0"}},
        {"eia-blank-tape", {"OutCode=1", "PtpNull=30,30,10", "ErCode=3", "Comment=0"}},
        {"ascii-crlf-numbered",
         {"OutCode=2", "LfCode=1", "NnoBase=10", "NnoIncr=10", "WordBreak=1", "TVCheck=1",
          "DeleteErCode=1"}},
        {"ascii-cr-odd", {"OutCode=2", "LfCode=2", "TVCheck=2", "SendSpace=0", "Comment=0"}},
        {"ascii-lfcrcr-user-codes",
         {"OutCode=2", "LfCode=3", "PtpUser0=1214", "PtpUser1=AA0D", "PtpUser2=7F", "ErCode=1"}},
        {"skip-rules",
         {"OutCode=2", "SendSkipLine=M06,T01", "SendSkipCode=F,S", "ReceiveSkipLine=G00",
          "ReceiveSkipCode=Z", "PtrBegin=1", "PtrEof=1", "RecvSpace=1"}},
        {"receive-spaces-dropped", {"OutCode=2", "PtrBegin=0", "PtrEof=3", "RecvSpace=0"}},
    };
}

// Programs with the corners a reader meets: CR LF, a bare CR, blank lines, a line of 600
// characters, a line of exactly 511, tabs, lower case, bytes above 127, comments, stray ')'.
std::string cornerProgram() {
    std::string p = "%\r\nO0042 (CORNERS)\r\n\r\nN10 G90 G17\n";
    p += std::string(511, 'X') + "\n" + std::string(600, 'Y') + "\n";
    p += "\tG01 x10 y20 (lower case) F100.\n  (only a comment)\n  \n";
    p += "G01X-10.Y20.Z-5.5\rG00 Z50.\n";
    p += "N20 T01 M06 (TOOL \xE9\xF1)\nN30 S1200 M03) stray\n%%\nM30\n%";
    return p;
}

} // namespace

namespace {

void costPerCharacter(Bench& b, const std::vector<Build>& builds, double bigMegabytes,
                      bool skipBig) {
    const bool both = builds.size() > 1;
    auto head = [&](const char* what) {
        std::printf("  %-44s", what);
        for (const Build& build : builds)
            std::printf(" %16s", build.name.c_str());
        if (both)
            std::printf(" %14s", "after/before");
        std::printf("\n");
    };
    auto row = [&](const std::string& what, const std::vector<double>& values, int decimals) {
        std::printf("  %-44s", what.c_str());
        for (double v : values)
            if (v < 0)
                std::printf(" %16s", "failed");
            else
                std::printf(" %16.*f", decimals, v);
        if (both && values.size() == 2 && values[0] > 0 && values[1] >= 0)
            std::printf(" %14.3f", values[1] / values[0]);
        std::printf("\n");
    };

    std::printf("\n== 6. Sending at the line rate (paced, cnc-sim takes every character as it "
                "arrives; CPU and line use between 10 %% and 90 %% of the program)\n");
    std::printf("  load average %s", readWholeFile("/proc/loadavg").c_str());
    const double floor38400 = wakePerCharacterFloor(3840, 5);
    const double floor9600 = wakePerCharacterFloor(960, 5);
    std::printf("  least CPU of a sender that wakes once per character on this machine (a loop "
                "that sleeps to each\n  character time and writes it into a pty): %.4f s/s at "
                "38400 baud, %.4f s/s at 9600 baud\n",
                floor38400, floor9600);
    head("");
    struct Case {
        const char* name;
        int baud;
        bool gui;
        uint64_t bytes;
    };
    const Case cases[] = {{"corvane-cli 38400", 7, false, 120 * 1024},
                          {"corvane-cli 9600", 5, false, 30 * 1024},
                          {"corvane (window) 38400", 7, true, 120 * 1024}};
    for (const Case& c : cases) {
        if (c.gui && (builds.front().gui.empty() || access(builds.front().gui.c_str(), X_OK)))
            continue;
        std::vector<double> cpu, use, perFloor;
        for (const Build& build : builds) {
            const RateRun r = sendAtLineRate(b, build, c.baud, c.gui, c.bytes);
            if (!r.ok) {
                std::printf("  %s, %s: %s\n", c.name, build.name.c_str(), r.note.c_str());
                ++b.failures;
            }
            cpu.push_back(r.ok ? r.cpuShare : -1);
            use.push_back(r.ok ? r.utilisation : -1);
            const double floor = c.baud == 5 ? floor9600 : floor38400;
            perFloor.push_back(r.ok && floor > 0 ? r.cpuShare / floor : -1);
        }
        row(std::string(c.name) + ": CPU s/s", cpu, 4);
        row(std::string(c.name) + ": ratio CPU / least", perFloor, 2);
        row(std::string(c.name) + ": line utilisation", use, 3);
    }

    std::printf("\n== 7. Receiving at the line rate (cnc-sim punch --cps 3840 and 960, "
                "corvane-cli receive; target compared byte for byte)\n");
    head("");
    for (int baud : {7, 5}) {
        std::vector<double> cpu, perFloor;
        for (const Build& build : builds) {
            const RateRun r = receiveAtLineRate(b, build, baud, baud == 7 ? 120 * 1024 : 30 * 1024);
            if (!r.ok) {
                std::printf("  receive %d, %s: %s\n", baud == 7 ? 38400 : 9600, build.name.c_str(),
                            r.note.c_str());
                ++b.failures;
            }
            cpu.push_back(r.ok ? r.cpuShare : -1);
            const double floor = baud == 5 ? floor9600 : floor38400;
            perFloor.push_back(r.ok && floor > 0 ? r.cpuShare / floor : -1);
        }
        const std::string name =
            baud == 7 ? "corvane-cli receive 38400" : "corvane-cli receive 9600";
        row(name + ": CPU s/s", cpu, 4);
        row(name + ": ratio CPU / least", perFloor, 2);
    }

    const double mb = skipBig ? 10 : bigMegabytes;
    std::printf("\n== 8. Device files (%.0f MB program, -q; into and out of a file in the work "
                "folder) against cp\n",
                mb);
    const std::string program = b.work.file("device.nc");
    const uint64_t size = writeProgram(program, uint64_t(mb * 1048576), 5);
    const std::string machine = b.work.file("device.MDF");
    const std::string receiveMachine = b.work.file("device-receive.MDF");
    if (!b.machine(machine, "", 0, 0) ||
        !b.machine(receiveMachine, "", 0, 20, 7, {"PtrBegin=0", "PtrEof=0", "RecvSpace=2"})) {
        ++b.failures;
        return;
    }
    const double cp = copySeconds(b, program, b.work.file("device.cp"));
    std::remove(b.work.file("device.cp").c_str());
    std::printf("  cp: %.2f s = %.1f MB/s\n", cp, double(size) / 1048576.0 / cp);
    head("");
    std::vector<std::string> sent, received;
    std::vector<double> sendRate, sendRatio, receiveRate, receiveRatio, sendRss, receiveRss;
    for (const Build& build : builds) {
        const std::string out = b.work.file("device-" + build.name + ".tape");
        const FileRun s = deviceFileRun(b, build, machine, program, out, false, 60 + mb * 3);
        const std::string target = b.work.file("device-" + build.name + ".target");
        const FileRun r =
            deviceFileRun(b, build, receiveMachine, program, target, true, 60 + mb * 3);
        if (!s.ok || !r.ok)
            ++b.failures;
        const double sMb = s.ok ? double(size) / 1048576.0 / s.seconds : -1;
        const double rMb = r.ok ? double(size) / 1048576.0 / r.seconds : -1;
        sendRate.push_back(sMb);
        receiveRate.push_back(rMb);
        sendRatio.push_back(s.ok && cp > 0 ? sMb / (double(size) / 1048576.0 / cp) : -1);
        receiveRatio.push_back(r.ok && cp > 0 ? rMb / (double(size) / 1048576.0 / cp) : -1);
        sendRss.push_back(s.ok ? double(s.rss) : -1);
        receiveRss.push_back(r.ok ? double(r.rss) : -1);
        sent.push_back(out);
        received.push_back(target);
    }
    row("send into a device file: MB/s", sendRate, 1);
    row("send: ratio to cp", sendRatio, 3);
    row("send: peak RSS KiB", sendRss, 0);
    row("receive from a device file: MB/s", receiveRate, 1);
    row("receive: ratio to cp", receiveRatio, 3);
    row("receive: peak RSS KiB", receiveRss, 0);
    std::string detail;
    const std::string expectedTarget = b.work.file("device.expected");
    writeExpected(expectedTarget, program, "", "\r\n", "");
    for (size_t i = 0; i < builds.size(); ++i) {
        const bool tape = sameFiles(program, sent[i], detail);
        std::printf("  %s: device file %s the program%s\n", builds[i].name.c_str(),
                    tape ? "equals" : "DIFFERS from", tape ? "" : (": " + detail).c_str());
        const bool target = sameFiles(expectedTarget, received[i], detail);
        std::printf("  %s: received target %s the program with CR LF%s\n", builds[i].name.c_str(),
                    target ? "equals" : "DIFFERS from", target ? "" : (": " + detail).c_str());
        if (!tape || !target)
            ++b.failures;
    }
    for (const std::string& f : sent)
        std::remove(f.c_str());
    for (const std::string& f : received)
        std::remove(f.c_str());
    std::remove(expectedTarget.c_str());
    std::remove(program.c_str());

    if (!both)
        return;
    // The examples and the acceptance-style machines: every program through every machine,
    // sent into a device file and received back from one, by both builds.
    std::vector<std::pair<std::string, std::string>> programs;
    for (const char* name : {"BRACKET.NC", "SHAFT.NC"})
        programs.emplace_back(name, std::string(CORVANE_SOURCE_DIR) + "/examples/programs/" + name);
    const std::string corners = b.work.file("CORNERS.NC");
    {
        std::FILE* f = std::fopen(corners.c_str(), "wb");
        const std::string text = cornerProgram();
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    programs.emplace_back("CORNERS.NC", corners);
    const std::string generated = b.work.file("GENERATED.NC");
    writeProgram(generated, 200 * 1024, 9);
    programs.emplace_back("GENERATED.NC", generated);

    std::vector<std::pair<std::string, std::string>> machines;
    for (const char* name : {"VMC-ISO-XONXOFF.MDF", "LATHE-EIA.MDF", "TAPE-FILE-ASCII.MDF"})
        machines.emplace_back(name, std::string(CORVANE_SOURCE_DIR) + "/examples/machines/" + name);
    for (const auto& [name, keys] : acceptanceMachines()) {
        const std::string path = b.work.file("accept-" + name + ".MDF");
        if (!writeMachine(builds[1].cli, path, keys, b.work.path())) {
            ++b.failures;
            continue;
        }
        machines.emplace_back(name, path);
    }
    int compared = 0, differing = 0;
    for (const auto& [mName, mPath] : machines) {
        for (const auto& [pName, pPath] : programs) {
            for (bool receive : {false, true}) {
                std::string outs[2];
                for (size_t i = 0; i < 2; ++i) {
                    outs[i] =
                        b.work.file("same-" + builds[i].name + (receive ? ".target" : ".tape"));
                    std::remove(outs[i].c_str());
                    // Exit statuses differ by design here (a machine with a time-out ends a
                    // receive from a file as "Receive TimeOut"); the files must not.
                    deviceFileRun(b, builds[i], mPath, pPath, outs[i], receive, 120, false);
                }
                ++compared;
                if (!sameFiles(outs[0], outs[1], detail)) {
                    ++differing;
                    std::printf("  DIFFERENT: %s %s with %s: %s\n", receive ? "receive" : "send",
                                pName.c_str(), mName.c_str(), detail.c_str());
                }
            }
        }
    }
    std::printf("  device-file output, before and after, byte for byte: %d of %d runs the same "
                "(%zu machines x %zu programs, send and receive)\n",
                compared - differing, compared, machines.size(), programs.size());
    if (differing > 0)
        ++b.failures;
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    double megabytes = 2;
    double bigMegabytes = 100;
    int repeat = 3;
    bool skipBig = false;
    bool costOnly = false;
    std::string before;
    Bench b;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--mb" && i + 1 < argc)
            megabytes = std::atof(argv[++i]);
        else if (a == "--big-mb" && i + 1 < argc)
            bigMegabytes = std::atof(argv[++i]);
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--skip-big")
            skipBig = true;
        else if (a == "--keep")
            b.work.keep();
        else if (a == "--before" && i + 1 < argc)
            before = argv[++i];
        else if (a == "--cost-only")
            costOnly = true;
        else {
            std::fprintf(stderr, "usage: compare_bench [--mb N] [--repeat N] [--big-mb N] "
                                 "[--skip-big] [--keep] [--before BUILD-DIR] [--cost-only]\n");
            return 2;
        }
    }
    b.config = b.work.file("empty.cfg");
    std::fclose(std::fopen(b.config.c_str(), "w"));

    b.realtime = realtimeAllowed(b.work.path());
    std::printf("compare_bench: %ld CPUs online, load average %s", sysconf(_SC_NPROCESSORS_ONLN),
                readWholeFile("/proc/loadavg").c_str());
    std::printf("cnc-sim runs %s; the senders at normal priority\n",
                b.realtime ? "at real-time priority (chrt -f 10)" : "at normal priority");
    if (!haveKermit())
        std::printf("(C-Kermit not found at %s: its columns are left out; install the package "
                    "ckermit)\n",
                    KermitPath);

    std::vector<Build> builds;
    if (!before.empty())
        builds.push_back({"before", before + "/src/cli/corvane-cli", before + "/src/gui/corvane"});
    builds.push_back({before.empty() ? "corvane" : "after", CORVANE_CLI_PATH, guiPath()});
    if (costOnly) {
        costPerCharacter(b, builds, bigMegabytes, skipBig);
        std::printf("\ncompare_bench: %s\n",
                    b.failures == 0 ? "all runs made" : "some runs failed (see above)");
        return b.failures == 0 ? 0 : 1;
    }

    std::vector<Flat> flat;
    throughput(b, megabytes, repeat, flat);

    std::printf("\n== 2. CPU while the machine holds the line for 10 s (cnc-sim --hold-after "
                "2000 --hold-ms 10000)\n");
    std::vector<Held> held{cpuWhileHeld(b, "corvane-cli (paced)", false)};
    if (haveGui())
        held.push_back(cpuWhileHeld(b, "corvane (window, offscreen)", true));
    for (const Held& h : held) {
        if (h.cpuPerSecond < 0) {
            ++b.failures;
            continue;
        }
        std::printf("  %-28s %.4f CPU seconds per second (%.1f s window inside the hold)\n",
                    h.name.c_str(), h.cpuPerSecond, h.window);
    }

    std::printf("\n== 3. Characters after DC3 (cnc-sim --cps N, buffer 256, DC3 at 192, DC1 at "
                "64, plus --hold-random 7)\n");
    std::printf("  %-6s %-34s %-34s %-34s\n", "cps", "corvane-cli paced (default)",
                "corvane-cli --no-pace", "kermit, set flow xon/xoff");
    std::printf("  %-6s %-34s %-34s %-34s\n", "", "holds/max/mean after DC3, lost",
                "holds/max/mean, lost", "holds/max/mean, lost");
    for (int cps : {300, 1000, 4000}) {
        std::string cells[3];
        const char* who[3] = {"paced", "unpaced", "kermit"};
        for (int i = 0; i < 3; ++i) {
            if (i == 2 && !haveKermit()) {
                cells[i] = "n/a";
                continue;
            }
            const AfterDc3 a = afterDc3(b, cps, who[i]);
            if (!a.ok) {
                ++b.failures;
                cells[i] = "failed";
                continue;
            }
            char text[96];
            std::snprintf(text, sizeof text, "%lld / %lld / %.1f, %lld", a.holds, a.maxAfter,
                          a.holds > 0 ? double(a.totalAfter) / double(a.holds) : 0.0, a.lost);
            cells[i] = text;
        }
        std::printf("  %-6d %-34s %-34s %-34s\n", cps, cells[0].c_str(), cells[1].c_str(),
                    cells[2].c_str());
    }
    std::printf("  (the machine's line rate is not emulated: it takes every character as it "
                "arrives;\n   corvane paces at 38400 baud = %.0f characters/s, the others write as "
                "fast as the pty takes them)\n",
                LineCps);

    std::printf("\n== 4. Peak resident memory of corvane-cli (send into a device file, "
                "/dev/null; GNU time's maximum resident set size)\n");
    double smallSeconds = 0, bigSeconds = 0;
    const long small = peakMemory(b, 1, smallSeconds);
    std::printf("  %6.0f MB program: peak RSS %ld KiB (%.1f s)\n", 1.0, small, smallSeconds);
    if (!skipBig) {
        const long big = peakMemory(b, bigMegabytes, bigSeconds);
        std::printf("  %6.0f MB program: peak RSS %ld KiB (%.1f s)\n", bigMegabytes, big,
                    bigSeconds);
        if (small > 0 && big > 0)
            std::printf("  ratio %.0f MB / 1 MB: %.3f (%+ld KiB)\n", bigMegabytes,
                        double(big) / double(small), big - small);
        else
            ++b.failures;
    }
    for (const Flat& f : flat)
        if (f.ok)
            std::printf("  for comparison, %-26s peak RSS %ld KiB (%.1f MB program)\n", f.name,
                        f.rss, megabytes);

    std::printf("\n== 5. Start-up\n");
    for (const Flat& f : flat)
        if (f.ok)
            std::printf("  %-30s exec to first byte on the wire %8.1f ms\n", f.name,
                        median(f.firstByte) * 1000);
    if (haveGui()) {
        long rss = -1;
        double cpu = 0;
        const double idle = guiStartupToIdle(b, rss, cpu);
        if (idle >= 0)
            std::printf("  %-30s exec to idle event loop    %8.1f ms (%.1f ms of CPU; RSS then "
                        "%ld KiB)\n",
                        "corvane (window, offscreen)", idle * 1000, cpu * 1000, rss);
        else
            ++b.failures;
        const double first = guiFirstByte(b);
        if (first >= 0)
            std::printf("  %-30s exec to first byte on the wire %8.1f ms (%.1f ms less the "
                        "1000 ms pause after opening the port)\n",
                        "corvane -EXIT (window)", first * 1000, (first - 1.0) * 1000);
        else
            ++b.failures;
    } else {
        std::printf("  (the window, corvane, was not built: no start-up figures for it)\n");
    }
    costPerCharacter(b, builds, bigMegabytes, skipBig);
    std::printf("\ncompare_bench: %s\n",
                b.failures == 0 ? "all runs made" : "some runs failed (see above)");
    return b.failures == 0 ? 0 : 1;
}
