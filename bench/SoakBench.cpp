// Soak: large transfers between corvane-cli and the simulated machine over a pseudo-terminal,
// checked byte for byte, with the peak memory of corvane-cli compared against a small run.
//
//   send     a generated program of --mb megabytes goes out unpaced (--no-pace) to cnc-sim in
//            read mode, which holds the line with DC3/DC1 at random moments (--hold-random);
//            what cnc-sim recorded must equal DC2 + the program + DC4, and the peak resident
//            memory of corvane-cli must be that of a --baseline-mb run. A pty has no line
//            rate, so unpaced characters after DC3 are whatever the sender wrote while the
//            DC3 was on its way through the kernel: they are reported, not judged;
//   paced    --paced-seconds of program at the machine's 38400 baud (the default pacing) with
//            the same random holds: byte for byte, and every hold within cnc-sim's tolerance
//            for characters after DC3 (--tolerance, default 10, what a typical control allows);
//   receive  cnc-sim punches a program of --mb megabytes; corvane-cli receives it into a file,
//            which must equal the program with every line ended by CR LF; memory as above.
//
// usage: soak_bench [--mb N] [--baseline-mb N] [--paced-seconds N] [--punch-chunk N]
//                   [--seed N] [--tolerance N] [--keep] [send|paced|receive]...
// --punch-chunk N lets cnc-sim punch N characters per write instead of one: faster than
// corvane-cli stores them, which shows what happens when the input outruns the receive.
// Exit status 0 when every check passed.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"

using namespace corvane::bench;

namespace {

// Memory may differ by a few pages between runs (allocator, stdio buffers, page-table
// rounding); anything that grows with the program is far beyond this.
constexpr long FlatMemorySlackKiB = 1024;

struct Settings {
    double megabytes = 100;
    double baselineMegabytes = 1;
    unsigned seed = 1;
    long tolerance = 10;
    double pacedSeconds = 60;
    long punchChunk = 1; // cnc-sim punch --chunk
    bool keep = false;
    std::vector<std::string> parts;
};

struct Outcome {
    uint64_t programBytes = 0;
    ChildResult cli;
    bool same = false;
    std::string detail;
    long long holds = -1;
    long long maxAfter = -1;
    long long totalAfter = -1;
    long long alarms = -1;
    int simStatus = -1;
    double simCpu = 0;
};

const char* verdict(bool ok) {
    return ok ? "PASS" : "FAIL";
}

class Soak {
public:
    Soak(const Settings& settings) : m_settings(settings), m_work("cvn-soak") {
        if (settings.keep)
            m_work.keep();
    }

    bool prepare() {
        m_config = m_work.file("empty.cfg");
        std::FILE* f = std::fopen(m_config.c_str(), "w");
        if (f)
            std::fclose(f);
        // ASCII on the wire, LF line ends, nothing added around the data but the DC2 start
        // code and the DC4 stop code: the stream is DC2, the program as it stands, DC4.
        const bool sendOk = writeMachine(
            CORVANE_CLI_PATH, m_work.file("send.MDF"),
            {"OutCode=2",      "DataLen=1",   "Parity=0",   "Stop=0",         "HandShake=1",
             "BaudRate=7",     "PtpStart=18", "PtpStop=20", "Xoff=0",         "ErCode=0",
             "HeadLf=0",       "LfCode=0",    "Comment=1",  "DeleteErCode=0", "SendSpace=1",
             "WordBreak=0",    "NnoBase=0",   "NnoIncr=0",  "TVCheck=0",      "PtpNull=0,0,0",
             "PtpSpace=0,0,0", "SendDelay=0"},
            m_work.path());
        // The data starts at the first printable character and ends at DC4; spaces kept.
        const bool receiveOk =
            writeMachine(CORVANE_CLI_PATH, m_work.file("receive.MDF"),
                         {"OutCode=2", "DataLen=1", "Parity=0", "Stop=0", "HandShake=1",
                          "BaudRate=7", "PtrStart=17", "PtrStop=19", "PtpStop=20", "PtrBegin=0",
                          "PtrEof=2", "RecvSpace=2", "PtrTimeOut=20000"},
                         m_work.path());
        m_realtime = realtimeAllowed(m_work.path());
        std::printf("cnc-sim runs %s\n",
                    m_realtime ? "at real-time priority (chrt -f 10)" : "at normal priority");
        return sendOk && receiveOk;
    }

    // Unpaced with `tolerance` 0 (no judgement: a tolerance cnc-sim never reaches), else paced.
    Outcome send(double megabytes, const std::string& tag, bool paced) {
        Outcome o;
        const std::string program = m_work.file("send-" + tag + ".nc");
        o.programBytes = writeProgram(program, uint64_t(megabytes * 1024 * 1024), m_settings.seed);
        const long tolerance = paced ? m_settings.tolerance : 1'000'000;
        const std::string expected = m_work.file("send-" + tag + ".expected");
        writeExpected(expected, program, "\x12", "\n", "\x14");
        const std::string record = m_work.file("send-" + tag + ".record");

        Sim sim(CNC_SIM_PATH, m_work.path(), "sim-send-" + tag, m_realtime);
        // Far beyond any sane rate: 20 s per MB unpaced, twice the line time paced.
        const double limit = 60 + megabytes * (paced ? 2 * 1048576 / 3840.0 : 20);
        if (!sim.start({"read", "--wait-ms", "0", "--hold-random", std::to_string(m_settings.seed),
                        "--tolerance", std::to_string(tolerance), "--record", record,
                        "--exit-after-ms", std::to_string(long(limit * 1000))}))
            return o;
        std::vector<std::string> args{CORVANE_CLI_PATH, "--cfg", m_config, "send", "-q"};
        if (!paced)
            args.push_back("--no-pace");
        args.insert(args.end(), {"-m", m_work.file("send.MDF"), "-p", sim.device(), program});
        Child cli;
        cli.start(args, m_work.file("cli-send-" + tag + ".out"),
                  m_work.file("cli-send-" + tag + ".err"), {"TMPDIR=" + m_work.path()}, true);
        o.cli = cli.wait(limit);
        const ChildResult simResult = sim.wait(30);
        o.simStatus = simResult.status;
        o.simCpu = simResult.cpuSeconds;
        o.holds = sim.value("holds");
        o.maxAfter = sim.value("max after DC3");
        o.totalAfter = sim.value("total after DC3");
        o.alarms = sim.value("alarms");
        o.same = sameFiles(expected, record, o.detail);
        if (o.cli.status != 0 || o.simStatus != 0)
            std::printf("  corvane-cli: %s  cnc-sim: %s%s\n",
                        readWholeFile(m_work.file("cli-send-" + tag + ".err")).c_str(),
                        sim.output().c_str(), sim.errors().c_str());
        std::remove(expected.c_str());
        std::remove(record.c_str());
        std::remove(program.c_str());
        return o;
    }

    Outcome receive(double megabytes, const std::string& tag) {
        Outcome o;
        const std::string program = m_work.file("receive-" + tag + ".nc");
        o.programBytes =
            writeProgram(program, uint64_t(megabytes * 1024 * 1024), m_settings.seed + 1);
        const std::string expected = m_work.file("receive-" + tag + ".expected");
        writeExpected(expected, program, "", "\r\n", ""); // a receive stores CR LF line ends
        const std::string target = m_work.file("receive-" + tag + ".target");

        Sim sim(CNC_SIM_PATH, m_work.path(), "sim-receive-" + tag, m_realtime);
        const double limit = 60 + megabytes * 20;
        if (!sim.start({"punch", "--program", program, "--code", "ascii", "--chunk",
                        std::to_string(m_settings.punchChunk), "--drain-ms", "10000",
                        "--exit-after-ms", std::to_string(long(limit * 1000))}))
            return o;
        Child cli;
        cli.start({CORVANE_CLI_PATH, "--cfg", m_config, "receive", "-q", "-m",
                   m_work.file("receive.MDF"), "-p", sim.device(), target},
                  m_work.file("cli-receive-" + tag + ".out"),
                  m_work.file("cli-receive-" + tag + ".err"), {"TMPDIR=" + m_work.path()}, true);
        o.cli = cli.wait(limit);
        const ChildResult simResult = sim.wait(30);
        o.simStatus = simResult.status;
        o.simCpu = simResult.cpuSeconds;
        o.holds = sim.value("holds");
        o.same = sameFiles(expected, target, o.detail);
        if (o.cli.status != 0 || o.simStatus != 0)
            std::printf("  corvane-cli: %s%s  cnc-sim: %s%s\n",
                        readWholeFile(m_work.file("cli-receive-" + tag + ".out")).c_str(),
                        readWholeFile(m_work.file("cli-receive-" + tag + ".err")).c_str(),
                        sim.output().c_str(), sim.errors().c_str());
        std::remove(expected.c_str());
        std::remove(target.c_str());
        std::remove(program.c_str());
        return o;
    }

    void keep() { m_work.keep(); }

private:
    const Settings& m_settings;
    WorkFolder m_work;
    std::string m_config;
    bool m_realtime = false;
};

void printRun(const char* what, double megabytes, const Outcome& o, bool withHolds) {
    const double mb = double(o.programBytes) / (1024.0 * 1024.0);
    std::printf("%s %.2f MB: %llu program bytes in %.1f s = %.0f characters/s, corvane-cli exit "
                "%d%s, CPU %.1f s, peak RSS %ld KiB (cnc-sim CPU %.1f s)\n",
                what, megabytes, (unsigned long long)o.programBytes, o.cli.wallSeconds,
                double(o.programBytes) / o.cli.wallSeconds, o.cli.status,
                o.cli.timedOut ? " (timed out)" : "", o.cli.cpuSeconds, o.cli.maxRssKiB, o.simCpu);
    if (withHolds)
        std::printf("  cnc-sim: exit %d, holds %lld, max after DC3 %lld, total after DC3 %lld "
                    "(mean %.2f per hold), alarms %lld\n",
                    o.simStatus, o.holds, o.maxAfter, o.totalAfter,
                    o.holds > 0 ? double(o.totalAfter) / double(o.holds) : 0.0, o.alarms);
    std::printf("  stream %s%s%s (%.2f MB)\n", o.same ? "identical" : "DIFFERS", o.same ? "" : ": ",
                o.detail.c_str(), mb);
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "soak_bench: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--mb")
            settings.megabytes = std::atof(value("--mb"));
        else if (a == "--baseline-mb")
            settings.baselineMegabytes = std::atof(value("--baseline-mb"));
        else if (a == "--seed")
            settings.seed = unsigned(std::strtoul(value("--seed"), nullptr, 0));
        else if (a == "--paced-seconds")
            settings.pacedSeconds = std::atof(value("--paced-seconds"));
        else if (a == "--punch-chunk")
            settings.punchChunk = std::atol(value("--punch-chunk"));
        else if (a == "--tolerance")
            settings.tolerance = std::atol(value("--tolerance"));
        else if (a == "--keep")
            settings.keep = true;
        else if (a == "send" || a == "paced" || a == "receive")
            settings.parts.push_back(a);
        else {
            std::fprintf(
                stderr,
                "usage: soak_bench [--mb N] [--baseline-mb N] [--paced-seconds N] "
                "[--punch-chunk N] [--seed N] [--tolerance N] [--keep] [send|paced|receive]...\n");
            return 2;
        }
    }
    if (settings.parts.empty())
        settings.parts = {"paced", "send", "receive"};

    Soak soak(settings);
    if (!soak.prepare())
        return 1;
    std::printf("soak: %.0f MB against a %.0f MB baseline, seed %u, cnc-sim tolerance %ld "
                "characters after DC3\n",
                settings.megabytes, settings.baselineMegabytes, settings.seed, settings.tolerance);
    int failures = 0;
    for (const std::string& part : settings.parts) {
        if (part == "paced") {
            // 38400 baud, 8N1: 3840 characters a second.
            const double megabytes = settings.pacedSeconds * 3840 / (1024.0 * 1024.0);
            const Outcome o = soak.send(megabytes, "paced", true);
            printRun("paced  ", megabytes, o, true);
            const bool ok =
                o.cli.status == 0 && o.simStatus == 0 && o.same && o.holds > 0 && o.alarms == 0;
            std::printf("  %s completed, byte for byte, %lld holds, characters after DC3 within "
                        "the tolerance of %ld (max %lld)\n",
                        verdict(ok), o.holds, settings.tolerance, o.maxAfter);
            failures += ok ? 0 : 1;
            continue;
        }
        const bool sending = part == "send";
        const Outcome small = sending ? soak.send(settings.baselineMegabytes, "baseline", false)
                                      : soak.receive(settings.baselineMegabytes, "baseline");
        printRun(sending ? "send   " : "receive", settings.baselineMegabytes, small, sending);
        const Outcome big = sending ? soak.send(settings.megabytes, "large", false)
                                    : soak.receive(settings.megabytes, "large");
        printRun(sending ? "send   " : "receive", settings.megabytes, big, sending);

        const bool completed = small.cli.status == 0 && big.cli.status == 0 &&
                               small.simStatus == 0 && big.simStatus == 0;
        const bool identical = small.same && big.same;
        const bool flat = big.cli.rssMeasured && small.cli.rssMeasured && big.cli.maxRssKiB > 0 &&
                          big.cli.maxRssKiB <= small.cli.maxRssKiB + FlatMemorySlackKiB;
        std::printf("  %s completed (exit 0 on both sides)\n", verdict(completed));
        std::printf("  %s byte for byte\n", verdict(identical));
        std::printf("  %s peak memory flat: %ld KiB at %.0f MB, %ld KiB at %.0f MB (%+ld KiB)\n",
                    verdict(flat), small.cli.maxRssKiB, settings.baselineMegabytes,
                    big.cli.maxRssKiB, settings.megabytes, big.cli.maxRssKiB - small.cli.maxRssKiB);
        bool ok = completed && identical && flat;
        if (sending) {
            const bool held = big.holds > 0;
            std::printf("  %s the machine held the line (%lld holds)\n", verdict(held), big.holds);
            std::printf("  INFO unpaced on a pty, characters after DC3: max %lld, mean %.1f "
                        "(not judged; see the paced run)\n",
                        big.maxAfter,
                        big.holds > 0 ? double(big.totalAfter) / double(big.holds) : 0.0);
            ok = ok && held;
        }
        failures += ok ? 0 : 1;
    }
    if (failures > 0)
        soak.keep();
    std::printf("soak: %s\n", failures == 0 ? "PASS" : "FAIL");
    return failures == 0 ? 0 : 1;
}
