// The network line against the real ser2net, started here on a free loopback port in front of
// the simulated machine's pseudo-terminal, in raw TCP and in RFC 2217 mode: a send with the
// machine's DC3/DC1 holds and a receive leave the same bytes as over the local port, and a
// server killed in the middle ends the transfer as interrupted, naming the server.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/ChildProcess.h"
#include "support/RecordingHost.h"
#include "support/Ser2netProcess.h"
#include "support/SimProcess.h"
#include "transfer/Port.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/SendEngine.h"
#include "transfer/TransferContext.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The recording host on the test's clock, but a pause also lets a little real time pass, so
// the server's answers can arrive while the port layer counts its three seconds.
class SteppingHost : public RecordingHost {
public:
    using RecordingHost::RecordingHost;
    void idle(uint64_t micros) override {
        const timespec pause{0, static_cast<long>(std::min<uint64_t>(micros, 2000) * 1000)};
        nanosleep(&pause, nullptr);
        RecordingHost::idle(micros);
    }
};

struct Mode {
    const char* name;
    const char* accepter;
    const char* scheme;
};

void PrintTo(const Mode& m, std::ostream* os) {
    *os << m.name;
}

class Ser2netLine : public ::testing::TestWithParam<Mode> {
protected:
    Ser2netLine() {
        char pattern[] = "/tmp/cvn-ser2net-test-XXXXXX";
        folder = mkdtemp(pattern);
        MachineDefSetDefaults(machine.line, machine.config);
        // 8N1 XON/XOFF, nothing added around the data, comments kept.
        machine.line.OutCode = 2;
        machine.line.DataLen = 1;
        machine.line.Parity = 0;
        machine.line.Stop = 0;
        machine.line.HandShake = 1;
        machine.line.BaudRate = 5;
        machine.line.PtpStart = 0;
        machine.line.PtpStop = 0;
        machine.config.HeadLf = 0;
        machine.config.LfCode = 0;
        machine.config.Comment = 1;
        machine.config.ErCode = 0;
        machine.config.SendSpace = 1;
        config.Echo = 0;
        host.onPump = [this] {
            if (onPump)
                onPump();
            if (std::chrono::steady_clock::now() > giveUpAt)
                state.InterruptRequest = 1;
        };
    }
    ~Ser2netLine() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string path(const std::string& name) const { return (folder / name).string(); }

    // Sends `text` as one file to the simulator in read mode; the machine's port is the
    // simulator's device, or the device server in front of it. Returns the engine's result.
    int send(const std::string& text, bool throughServer, Ser2netProcess& server, SimProcess& sim,
             const std::string& record) {
        const std::string nc = path("PART.NC");
        std::ofstream(nc, std::ios::binary) << text;
        std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", nc.c_str());
        queue.Entries[0].Size = static_cast<uint32_t>(text.size());
        queue.Count = 1;
        // 960 characters a second on the line against 600 executed: the machine holds often.
        // Its buffer has room beyond the high mark: on a loaded computer the pseudo-terminal
        // hands characters over late and many at a time, its DC3 coming back as late (the test
        // computer, not the line: network_bench measures what follows a DC3).
        EXPECT_TRUE(
            sim.start({"read", "--record",  path(record), "--exit-after-ms", "20000", "--wait-ms",
                       "100",  "--cps",     "600",        "--buffer",        "4096",  "--high",
                       "32",   "--low",     "8",          "--tolerance",     "4096",  "--end-on",
                       "none", "--idle-ms", "700"}))
            << sim.errors();
        std::string port = sim.device();
        if (throughServer) {
            EXPECT_TRUE(server.start(folder.string(), GetParam().accepter, sim.device()))
                << server.errors();
            port = std::string(GetParam().scheme) + "://127.0.0.1:" + std::to_string(server.port);
        }
        std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", port.c_str());
        return SendNcData(ctx);
    }

    fs::path folder;
    const std::chrono::steady_clock::time_point giveUpAt =
        std::chrono::steady_clock::now() + std::chrono::seconds(40);
    std::function<void()> onPump;
    ManualClock clock;
    SteppingHost host{clock};
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;
    LineOptions options;
    TransferContext ctx{machine, config, queue, state, host, DefaultLineOpener(options), 0, {}};
};

// Blocks of a program, with a byte 0xFF (an IAC to Telnet) and the data the flow filter must
// pass among them.
std::string program(size_t count) {
    std::string out;
    for (int n = 10; out.size() < count; n += 10) {
        out += "N" + std::to_string(n) + "G01X" + std::to_string(n % 997) + ".5Y-2.25F300";
        if (n % 70 == 0)
            out += "(\xff\xfe IAC)";
        out += "\n";
    }
    return out;
}

TEST_P(Ser2netLine, sendsWhatTheLocalPortSendsHoldsIncluded) {
    const std::string text = program(1200);
    Ser2netProcess unused;
    SimProcess local;
    ASSERT_EQ(send(text, false, unused, local, "local.bin"), SendCompleted);
    ASSERT_EQ(local.wait(8000), 0) << local.errors();

    host.log.clear();
    Ser2netProcess server;
    SimProcess remote;
    ASSERT_EQ(send(text, true, server, remote, "remote.bin"), SendCompleted)
        << (host.errors.empty() ? server.errors() : host.errors[0]);
    ASSERT_EQ(remote.wait(8000), 0) << remote.errors();

    EXPECT_EQ(fileText(path("remote.bin")), fileText(path("local.bin")));
    EXPECT_NE(fileText(path("remote.bin")).find("\xff\xfe IAC"), std::string::npos);
    RecordProperty("summary", remote.output());
    EXPECT_GE(summaryValue(remote.output(), "holds"), 3) << remote.output();
    EXPECT_EQ(summaryValue(remote.output(), "alarms"), 0) << remote.output();
}

TEST_P(Ser2netLine, aServerKilledMidSendEndsItAsInterruptedNamingTheServer) {
    Ser2netProcess server;
    SimProcess sim;
    const auto start = std::chrono::steady_clock::now();
    onPump = [&] {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500))
            server.kill();
    };
    EXPECT_NE(send(program(6000), true, server, sim, "remote.bin"), SendCompleted);
    ASSERT_FALSE(host.errors.empty());
    EXPECT_EQ(host.errors[0], "127.0.0.1:" + std::to_string(server.port) +
                                  ": the connection to the device server was lost (the server "
                                  "closed it or restarted).");
    EXPECT_EQ(host.logTexts().back(), "==== Interrupted Send ====");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// The machine punches an ISO program with even parity; the receive ends at its second %.
class Ser2netReceive : public Ser2netLine {
protected:
    Ser2netReceive() {
        machine.line.OutCode = 0;
        machine.config.PtrBegin = 1;
        machine.config.PtrEof = 3;
        machine.config.RecvSpace = 2;
        machine.config.PtrTimeOut = 0;
    }

    int receive(bool throughServer, Ser2netProcess& server, SimProcess& sim,
                const std::string& target, const std::string& cps) {
        EXPECT_TRUE(sim.start({"punch", "--program", path("PUNCH.NC"), "--code", "iso",
                               "--line-end", "crlf", "--parity", "even", "--leader", "20", "--cps",
                               cps, "--exit-after-ms", "20000"}))
            << sim.errors();
        std::string port = sim.device();
        if (throughServer) {
            EXPECT_TRUE(server.start(folder.string(), GetParam().accepter, sim.device()))
                << server.errors();
            port = std::string(GetParam().scheme) + "://127.0.0.1:" + std::to_string(server.port);
        }
        std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", port.c_str());
        return ReceiveNcData(ctx, path(target).c_str());
    }
};

TEST_P(Ser2netReceive, storesWhatTheLocalPortStores) {
    std::string text = "%\nO0001 (TEST PART)\n";
    for (int n = 10; n <= 400; n += 10)
        text += "N" + std::to_string(n) + "G01X" + std::to_string(n) + ".Y-2.5F250.\n";
    text += "M30\n%\n";
    std::ofstream(path("PUNCH.NC"), std::ios::binary) << text;

    Ser2netProcess unused;
    SimProcess local;
    ASSERT_EQ(receive(false, unused, local, "LOCAL.NC", "2000"), ReceiveDone);
    Ser2netProcess server;
    SimProcess remote;
    ASSERT_EQ(receive(true, server, remote, "REMOTE.NC", "2000"), ReceiveDone)
        << (host.errors.empty() ? server.errors() : host.errors[0]);
    EXPECT_EQ(fileText(path("REMOTE.NC")), fileText(path("LOCAL.NC")));
    EXPECT_NE(fileText(path("REMOTE.NC")).find("N400G01X400.Y-2.5F250.\r\nM30\r\n%\r\n"),
              std::string::npos);
}

TEST_P(Ser2netReceive, aServerKilledMidReceiveKeepsWhatCameAndNamesTheServer) {
    std::string text = "%\n";
    for (int n = 10; n <= 3000; n += 10)
        text += "N" + std::to_string(n) + "G01X" + std::to_string(n) + ".\n";
    text += "%\n";
    std::ofstream(path("PUNCH.NC"), std::ios::binary) << text;
    Ser2netProcess server;
    SimProcess sim;
    const auto start = std::chrono::steady_clock::now();
    onPump = [&] {
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500))
            server.kill();
    };
    EXPECT_EQ(receive(true, server, sim, "RECV.NC", "300"), ReceiveInterrupted);
    ASSERT_FALSE(host.errors.empty());
    EXPECT_EQ(host.errors[0], "127.0.0.1:" + std::to_string(server.port) +
                                  ": the connection to the device server was lost (the server "
                                  "closed it or restarted).");
    // What arrived before the server went is in the file, line by line.
    const std::string kept = fileText(path("RECV.NC"));
    EXPECT_EQ(kept.rfind("%\r\nN10G01X10.\r\nN20G01X20.\r\n", 0), 0u) << kept;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

INSTANTIATE_TEST_SUITE_P(Modes, Ser2netReceive,
                         ::testing::Values(Mode{"RawTcp", "tcp", "tcp"},
                                           Mode{"Rfc2217", "telnet(rfc2217),tcp", "rfc2217"}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Modes, Ser2netLine,
                         ::testing::Values(Mode{"RawTcp", "tcp", "tcp"},
                                           Mode{"Rfc2217", "telnet(rfc2217),tcp", "rfc2217"}),
                         [](const auto& info) { return std::string(info.param.name); });

// What ser2net answers in RFC 2217 mode in front of a pseudo-terminal, which has no modem
// lines: the framing is confirmed, DTR and RTS never are; the open still ends within its three
// seconds, with one warning for each.
TEST_F(Ser2netLine, rfc2217InFrontOfAPtyConfirmsTheFramingButNotTheModemLines) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"read", "--exit-after-ms", "10000", "--end-on", "none"}));
    Ser2netProcess server;
    ASSERT_TRUE(server.start(folder.string(), "telnet(rfc2217),tcp", sim.device()));
    const std::string where = "127.0.0.1:" + std::to_string(server.port);
    std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "rfc2217://%s",
                  where.c_str());
    ASSERT_EQ(ComOpen(ctx, 2), 0) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_EQ(host.logTexts(),
              (std::vector<std::string>{
                  "Warning: the device server " + where + " did not confirm DTR ON.",
                  "Warning: the device server " + where + " did not confirm RTS ON."}));
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

} // namespace
} // namespace corvane::testing
