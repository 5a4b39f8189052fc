// The whole shop under load: N lines on this box, each a `corvane-cli serve --broker` against
// its own simulated machine, all reporting to one private mosquitto. Every line alternates
// between the machine punching a program (filed in the inbox) and the machine requesting a
// library program (sent back), as fast as the machines go; the broker is killed and started
// again twice during the run. Checks at the end: every program filed byte for byte, every
// journal record on the broker exactly once, every reply received. Prints CPU per line,
// memory per service and records per second.
//
//   shop_bench [--lines N] [--seconds S]          (defaults: 16 lines, 600 s)
//
// Run by hand, never by ctest; it wants the 2 cores to itself.

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "support/BrokerProcess.h"
#include "support/ChildProcess.h"

namespace fs = std::filesystem;
using corvane::bench::nowSeconds;
using corvane::bench::processCpuSeconds;
using corvane::bench::readWholeFile;
using corvane::testing::BrokerOptions;
using corvane::testing::BrokerProcess;
using corvane::testing::BrokerWatcher;
using corvane::testing::ChildProcess;

namespace {

const char* const IsoMachine = "[MCN_RS232C]\n"
                               "BaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
                               "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
                               "[MCN_Config]\n"
                               "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
                               "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=1\nDefExt=NC\n"
                               "PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n";

void writeFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// What the receive files for a punched program: every line ended with CR LF.
std::string filedForm(const std::string& program) {
    std::string filed;
    for (char c : program) {
        if (c == '\n')
            filed += "\r\n";
        else
            filed += c;
    }
    if (filed.size() < 2 || filed.compare(filed.size() - 2, 2, "\r\n") != 0)
        filed += "\r\n";
    return filed;
}

long long statusValueKb(pid_t pid, const char* key) {
    std::istringstream in(readWholeFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(key));
    return -1;
}

struct Line {
    std::string name;
    std::string dir;
    std::unique_ptr<ChildProcess> serve;
    std::unique_ptr<ChildProcess> sim;
    int action = 0;
    double nextStart = 0;
    bool request = false;
    std::string program; // the one being punched
    int number = 0;
    std::map<std::string, std::string> expected; // inbox file name → filed bytes
    int punches = 0, requests = 0, simFailures = 0, badReplies = 0;
    double cpuStart = 0;
};

} // namespace

int main(int argc, char** argv) {
    int lines = 16;
    double seconds = 600;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--lines")
            lines = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);
    }
    std::string pattern = (fs::temp_directory_path() / "cvn-shopbench-XXXXXX").string();
    const std::string root = ::mkdtemp(pattern.data());
    writeFile(root + "/corvane.cfg", "");

    BrokerProcess broker(
        root,
        BrokerOptions{.passwordFile = {}, .certFile = {}, .keyFile = {}, .persistence = true});
    if (!broker.start()) {
        std::fprintf(stderr, "the broker did not start:\n%s\n", broker.log().c_str());
        return 1;
    }
    BrokerWatcher watcher;
    watcher.start(broker.port(), "corvane/+/event", "bench-watch");
    corvane::bench::sleepSeconds(0.5);

    std::mt19937 random(42);
    std::vector<Line> all(static_cast<size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        Line& line = all[size_t(i)];
        char name[16];
        std::snprintf(name, sizeof name, "mill%02d", i + 1);
        line.name = name;
        line.dir = root + "/" + name;
        fs::create_directories(line.dir + "/lib");
        writeFile(line.dir + "/ISO.MDF", IsoMachine);
        std::string library = "%\nO0012 (FACE)\n";
        for (int b = 0; b < 60; ++b)
            library += "G01 X" + std::to_string(b) + ". Y" + std::to_string(b % 7) + ". F300.\n";
        writeFile(line.dir + "/lib/O0012.NC", library + "M30\n%\n");
        writeFile(line.dir + "/line.ini",
                  "[Line]\nName=" + line.name + "\nMachine=ISO.MDF\nPort=" + line.dir +
                      "/tty\nInbox=inbox\nLibrary=lib\nRequestDelay=200\nBroker=" + broker.url() +
                      "\n");
        line.serve = std::make_unique<ChildProcess>();
        // The service's own log goes to a file: sixteen of them talk a lot.
        line.serve->start("/bin/sh",
                          {"-c", "exec '" + std::string(CORVANE_CLI_PATH) + "' --cfg '" + root +
                                     "/corvane.cfg' serve --retry-ms 200 '" + line.dir +
                                     "/line.ini' > '" + line.dir + "/serve.log' 2>&1"});
    }
    corvane::bench::sleepSeconds(1.0);
    for (Line& line : all)
        line.cpuStart = processCpuSeconds(line.serve->pid());

    const double start = nowSeconds();
    const double restarts[2] = {start + seconds / 3, start + 2 * seconds / 3};
    int restartsDone = 0;
    double brokerBackAt = 0;
    std::printf("%d lines, %.0f s, broker %s\n", lines, seconds, broker.url().c_str());
    std::fflush(stdout);

    for (;;) {
        const double now = nowSeconds();
        const bool running = now - start < seconds;
        if (restartsDone < 2 && now >= restarts[restartsDone] && brokerBackAt == 0) {
            broker.kill();
            brokerBackAt = now + 2.0;
            std::printf("[%4.0f s] broker killed\n", now - start);
            std::fflush(stdout);
        }
        if (brokerBackAt != 0 && now >= brokerBackAt) {
            broker.start();
            brokerBackAt = 0;
            ++restartsDone;
            std::printf("[%4.0f s] broker started again\n", now - start);
            std::fflush(stdout);
        }
        bool anySim = false;
        for (Line& line : all) {
            line.serve->pump(0);
            if (line.sim) {
                line.sim->pump(0);
                if (!line.sim->exited()) {
                    anySim = true;
                    continue;
                }
                const auto status = line.sim->wait(1000);
                if (status != 0)
                    ++line.simFailures;
                if (line.request) {
                    ++line.requests;
                    if (readWholeFile(line.dir + "/reply.bin").find("G01 X59. Y3. F300.") ==
                        std::string::npos)
                        ++line.badReplies;
                } else {
                    ++line.punches;
                    line.expected["O" + std::to_string(line.number) + ".NC"] =
                        filedForm(line.program);
                }
                line.sim.reset();
                line.nextStart = now + 0.1;
            }
            if (!running || now < line.nextStart)
                continue;
            line.request = line.action % 2 == 1;
            std::vector<std::string> args;
            if (line.request) {
                writeFile(line.dir + "/req.nc", "%\n(REQ=O0012)\n%");
                std::remove((line.dir + "/reply.bin").c_str());
                args = {"request", "--program", line.dir + "/req.nc", "--record",
                        line.dir + "/reply.bin"};
            } else {
                // Each program under a number of its own, so each is filed under its name.
                line.number = 10000000 + line.action;
                line.program = "%\nO" + std::to_string(line.number) + " (" + line.name + ")\n";
                const int blocks = 20 + int(random() % 80);
                for (int b = 0; b < blocks; ++b)
                    line.program += "G01 X" + std::to_string(random() % 500) + ". Y" +
                                    std::to_string(b) + ". F800.\n";
                line.program += "M30\n%";
                writeFile(line.dir + "/punch.nc", line.program);
                args = {"punch", "--program", line.dir + "/punch.nc"};
            }
            args.insert(args.end(), {"--end-code", "none", "--drain-ms", "300", "--link",
                                     line.dir + "/tty", "--exit-after-ms", "60000"});
            line.sim = std::make_unique<ChildProcess>();
            line.sim->start(CNC_SIM_PATH, args);
            ++line.action;
            anySim = true;
        }
        watcher.pump(0);
        if (!running && !anySim)
            break;
        ::poll(nullptr, 0, 20);
    }
    const double elapsed = nowSeconds() - start;

    // The last records reach the broker.
    corvane::bench::sleepSeconds(3.0);
    watcher.pump(100);
    std::vector<double> cpu;
    std::vector<long long> peak, resident;
    for (Line& line : all) {
        cpu.push_back(processCpuSeconds(line.serve->pid()) - line.cpuStart);
        peak.push_back(statusValueKb(line.serve->pid(), "VmHWM:"));
        resident.push_back(statusValueKb(line.serve->pid(), "VmRSS:"));
    }
    for (Line& line : all)
        line.serve->signal(SIGTERM);
    for (Line& line : all)
        line.serve->wait(10000);
    for (int i = 0; i < 20; ++i)
        watcher.pump(50);

    std::map<std::string, int> seen;
    {
        std::istringstream out(watcher.out());
        std::string text;
        while (std::getline(out, text)) {
            const size_t space = text.find(' ');
            if (space != std::string::npos)
                ++seen[text.substr(space + 1)];
        }
    }

    long records = 0, completed = 0, missing = 0, twice = 0, misfiled = 0, punches = 0,
         requests = 0, simFailures = 0, badReplies = 0;
    for (Line& line : all) {
        std::istringstream journal(readWholeFile(line.dir + "/inbox/journal.jsonl"));
        std::string text;
        while (std::getline(journal, text)) {
            ++records;
            completed += text.find("\"result\":\"completed\"") != std::string::npos;
            const int copies = seen.count(text) ? seen[text] : 0;
            missing += copies == 0;
            twice += copies > 1;
        }
        for (const auto& [name, bytes] : line.expected)
            misfiled += readWholeFile(line.dir + "/inbox/" + name) != bytes;
        punches += line.punches;
        requests += line.requests;
        simFailures += line.simFailures;
        badReplies += line.badReplies;
    }
    double cpuSum = 0, cpuMax = 0;
    for (double c : cpu) {
        cpuSum += c;
        cpuMax = std::max(cpuMax, c);
    }
    long long peakMax = 0, peakSum = 0, rssSum = 0;
    for (size_t i = 0; i < peak.size(); ++i) {
        peakMax = std::max(peakMax, peak[i]);
        peakSum += peak[i];
        rssSum += resident[i];
    }
    std::printf("\nran %.0f s with %d lines; broker restarted %d times\n", elapsed, lines,
                restartsDone);
    std::printf("machines: %ld programs punched, %ld requests answered; %ld machine runs failed, "
                "%ld bad replies\n",
                punches, requests, simFailures, badReplies);
    std::printf("journal: %ld records, %ld completed; filed not byte for byte: %ld\n", records,
                completed, misfiled);
    std::printf(
        "broker: %ld records missing, %ld seen more than once (of %zu distinct events seen)\n",
        missing, twice, seen.size());
    std::printf("records per second: %.2f (all lines)\n", double(records) / elapsed);
    std::printf("CPU per line (serve): mean %.2f %% of a core, max %.2f %%\n",
                100.0 * cpuSum / double(lines) / elapsed, 100.0 * cpuMax / elapsed);
    std::printf(
        "memory per service: peak RSS mean %lld KiB, max %lld KiB; RSS at the end mean %lld KiB\n",
        peakSum / lines, peakMax, rssSum / lines);
    std::printf("folder: %s\n", root.c_str());
    const bool ok = missing == 0 && misfiled == 0 && badReplies == 0 && restartsDone == 2 &&
                    records == punches + requests;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
