// The network line through the port layer against a device server scripted inside the test,
// for what a real server cannot be made to show: IAC in the data both ways, an answer that
// differs from the request, modem state that holds the line, odd Telnet options, a server that
// never answers, and every way a connection can fail. Wire bytes are written out literally.
// The open runs on the test's clock, so its three- and five-second limits pass at once.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "support/StringIds.h"
#include "support/TransferFixture.h"
#include "transfer/LineSettings.h"
#include "transfer/NetworkLine.h"
#include "transfer/Port.h"
#include "transfer/PosixSerialLine.h"

namespace corvane::testing {
namespace {

// One listening socket on 127.0.0.1 and the one client it accepts. step() is called from the
// host's pump: it takes what the client sent and, when scripted to, answers the Telnet part.
class ScriptedServer {
public:
    explicit ScriptedServer(int backlog = 4, int receiveBuffer = 0) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) // inherited by the accepted socket: a hang shows in a few KB
            ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, backlog);
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~ScriptedServer() {
        closeClient();
        ::close(m_listen);
    }

    uint16_t port() const { return m_port; }
    bool connected() const { return m_client >= 0; }

    void step() {
        if (m_client < 0) {
            m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (m_client < 0)
                return;
            // The test's clock runs far ahead of the real one: no answer may wait for an ACK.
            const int on = 1;
            ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
        if (!reading)
            return;
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_client, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, static_cast<size_t>(n));
        if (telnet)
            answer();
    }
    // Gives the client a moment to see what was sent (loopback delivers within the call).
    void send(const std::string& bytes) {
        step();
        reply(bytes);
    }
    void closeClient() {
        if (m_client >= 0)
            ::close(m_client);
        m_client = -1;
    }

    // The script of an RFC 2217 server: agree to what the client asks, answer each COM-PORT
    // command with the value asked unless told otherwise.
    bool telnet = true;
    bool reading = true;               // false: a hung server, whose socket fills and is never read
    std::set<int> unanswered;          // SET-CONTROL values never answered (modemless port)
    int baudAnswer = 0;                // answer every SET-BAUDRATE with this, when not 0
    int answerDelayMs = 0;             // real time before answering SET-BAUDRATE (a long way)
    bool refuseBinary = false;         // DONT / WONT BINARY
    std::string received;              // every byte the client sent
    std::string data;                  // the data part of it, IAC doubling undone
    std::vector<std::string> commands; // each COM-PORT subnegotiation: command and value

private:
    void reply(const std::string& bytes) {
        ASSERT_EQ(::send(m_client, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    void answer() {
        const std::string iac(1, '\xff');
        while (m_parsed < received.size()) {
            const size_t left = received.size() - m_parsed;
            const auto at = [&](size_t i) { return static_cast<uint8_t>(received[m_parsed + i]); };
            if (at(0) != 0xFF) {
                data += received[m_parsed++];
                continue;
            }
            if (left < 2)
                return;
            if (at(1) == 0xFF) {
                data += '\xff';
                m_parsed += 2;
            } else if (at(1) >= 251 && at(1) <= 254) {
                if (left < 3)
                    return;
                const uint8_t verb = at(1);
                char reply = verb == 251 ? '\xfd' : verb == 253 ? '\xfb' : 0;
                if (reply && at(2) == 0 && refuseBinary)
                    reply = verb == 251 ? '\xfe' : '\xfc';
                if (reply && (at(2) == 0 || at(2) == 44))
                    this->reply(iac + reply + static_cast<char>(at(2)));
                m_parsed += 3;
            } else if (at(1) == 250) {
                const size_t end = received.find("\xff\xf0", m_parsed);
                if (end == std::string::npos)
                    return;
                const std::string sub = received.substr(m_parsed + 2, end - m_parsed - 2);
                m_parsed = end + 2;
                commands.push_back(sub.substr(1));
                const uint8_t command = static_cast<uint8_t>(sub[1]);
                std::string value = sub.substr(2);
                if (command == 5 && unanswered.count(static_cast<uint8_t>(value[0])))
                    continue;
                if (command == 1 && answerDelayMs > 0) {
                    const timespec pause{0, answerDelayMs * 1'000'000L};
                    nanosleep(&pause, nullptr);
                }
                if (command == 1 && baudAnswer != 0)
                    value = {static_cast<char>(baudAnswer >> 24),
                             static_cast<char>(baudAnswer >> 16),
                             static_cast<char>(baudAnswer >> 8), static_cast<char>(baudAnswer)};
                reply(iac + "\xfa\x2c" + static_cast<char>(command + 100) + value + iac + "\xf0");
            } else {
                m_parsed += 2;
            }
        }
    }

    int m_listen = -1;
    int m_client = -1;
    uint16_t m_port = 0;
    size_t m_parsed = 0;
};

class NetworkLineScripted : public ::testing::Test, public TransferFixture {
protected:
    NetworkLineScripted() {
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.HandShake = 1;
        machine.line.BaudRate = 7; // 38400: the pacing costs the tests little
        host.onPump = [this] { server.step(); };
    }

    void usePort(const std::string& text) {
        std::snprintf(machine.line.PortName, sizeof machine.line.PortName, "%s", text.c_str());
    }
    std::string rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(server.port()); }
    std::string where() const { return "127.0.0.1:" + std::to_string(server.port()); }

    // Reads bytes until `count` came or the clock of the port layer says it waited too long.
    std::string readBytes(size_t count) {
        std::string got;
        while (got.size() < count) {
            const int b = ComReadByte(ctx, 0);
            if (b < 0)
                break;
            got += static_cast<char>(b);
        }
        return got;
    }

    ScriptedServer server;
    bool sentStart = false;
    LineOptions options;
    TransferContext ctx = contextWith([this](const MachineDef& m, int direction, const char* f) {
        return OpenDefaultLine(m, direction, f, options);
    });
};

TEST_F(NetworkLineScripted, asksTheMachinesFramingAndWarnsOfWhatTheServerDidOtherwise) {
    machine.line.BaudRate = 5; // 9600
    machine.line.OutCode = 0;  // ISO send: 7 data bits, even parity
    machine.line.Stop = 1;     // two stop bits
    server.baudAnswer = 4800;  // the server's UART cannot do 9600, say
    server.unanswered = {8};   // no DTR on its port
    usePort(rfc2217());

    const uint64_t start = clock.now();
    ASSERT_EQ(ComOpen(ctx, 2), 0) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_LE(clock.now() - start, 200'000u); // a silent DTR does not hold the open

    EXPECT_EQ(server.received.substr(0, 9), std::string("\xff\xfb\x2c\xff\xfb\x00\xff\xfd\x00", 9));
    const std::vector<std::string> asked{std::string("\x01\x00\x00\x25\x80", 5),
                                         "\x02\x07",
                                         "\x03\x03",
                                         "\x04\x02",
                                         "\x05\x01", // no flow control: XON/XOFF stays ours
                                         "\x05\x08",
                                         "\x05\x0b"};
    EXPECT_EQ(server.commands, asked);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].text, "Warning: the device server " + where() +
                                    " set the baud rate to 4800 instead of 9600.");
    EXPECT_EQ(host.log[1].text,
              "Warning: the device server " + where() + " did not confirm DTR ON.");
    // Paced by the rate the server's UART runs at: 11 bits at 4800, rounded up.
    const auto* line = dynamic_cast<const NetworkLine*>(ctx.port.get());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->charMicros(), 2292u);
    EXPECT_EQ(ComClose(ctx, 0), 0);
    server.step();
    EXPECT_EQ(server.commands.back(), "\x05\x09"); // DTR drops at close, as on a local port
}

TEST_F(NetworkLineScripted, aServerThatRefusesBinaryIsWarnedOfAndUsed) {
    server.refuseBinary = true;
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 2), 0) << (host.errors.empty() ? "" : host.errors[0]);
    ASSERT_EQ(host.log.size(), 1u);
    EXPECT_EQ(host.log[0].text, "Warning: the device server " + where() +
                                    " refused Telnet binary mode; it may change a CR or the top "
                                    "bit of a character on the way to the machine.");
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, ffIsDoubledOnTheWireAndServerCommandsStayOutOfTheData) {
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 1), 0);
    EXPECT_TRUE(host.log.empty()); // every setting confirmed: no warning
    for (const uint8_t b : {0xFF, 0x41, 0xFF, 0xFF})
        ASSERT_EQ(ComWriteByte(ctx, 0, b), 0);
    server.step();
    EXPECT_EQ(server.data, "\xff\x41\xff\xff");
    EXPECT_NE(server.received.find("\x41\xff\xff\xff\xff"), std::string::npos);

    // Data with a doubled IAC, a NOP, options nobody asked for and subnegotiations that are
    // not ours: only X, 0xFF, Y, Z are the machine's.
    // (The length comes from the literal: a count written by hand read past its end.)
    static const char wire[] = "X\xff\xffY\xff\xf1\xff\xfb\x01\xff\xfd\x63\xff\xfa\x63\x01\xff\xff"
                               "\x02\xff\xf0\xff\xfa\x2c\x96\x01\xff\xf0Z";
    server.send(std::string(wire, sizeof wire - 1));
    EXPECT_EQ(readBytes(4), "X\xffYZ");
    server.step();
    EXPECT_NE(server.received.find("\xff\xfe\x01"), std::string::npos); // DONT ECHO
    EXPECT_NE(server.received.find("\xff\xfc\x63"), std::string::npos); // WONT 99
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, rawTcpCarriesTheBytesAsTheyAreAtTheMachinesPace) {
    server.telnet = false;
    usePort("tcp://127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += static_cast<char>(i * 37);
    const auto start = std::chrono::steady_clock::now();
    for (const char c : bytes) {
        while (ComWriteByte(ctx, 0, static_cast<uint8_t>(c)) != 0) {
        }
    }
    const auto took = std::chrono::steady_clock::now() - start;
    server.step();
    EXPECT_EQ(server.received, bytes);
    // 199 character times of 260 us at 38400 8N1 (a late byte is made up by a quarter at most).
    EXPECT_GE(took, std::chrono::microseconds(199 * 260 * 3 / 4));
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, aLongRoundTripSpacesTheBytesSoFewAreOnTheirWay) {
    // 20 ms to the server and back: at most 8 characters in that time, not 76 at 38400 baud.
    server.answerDelayMs = 20;
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    const auto* line = dynamic_cast<const NetworkLine*>(ctx.port.get());
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(ComWriteByte(ctx, 0, 'A'), 0); // the first byte takes a question along
    server.step();                           // answered after 20 ms
    ASSERT_EQ(ComWriteByte(ctx, 0, 'B'), 0);
    EXPECT_GE(line->spacingMicros(), 20'000u / 8);
    server.step();
    EXPECT_EQ(server.data, "AB");
    EXPECT_EQ(server.commands[7], std::string("\x01\x00\x00\x00\x00", 5)); // asks, sets nothing
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, aProbeAnswerReadLateDoesNotSlowTheLine) {
    // The server answers at once, but the engine pauses after the start code and reads the
    // socket only later: that pause is not the network's round trip.
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    const auto* line = dynamic_cast<const NetworkLine*>(ctx.port.get());
    ASSERT_NE(line, nullptr);
    ASSERT_EQ(ComWriteByte(ctx, 0, '\x12'), 0); // the start code takes a question along
    server.step();
    const timespec pause{0, 300'000'000L};
    nanosleep(&pause, nullptr);
    ASSERT_EQ(ComWriteByte(ctx, 0, 'B'), 0);
    EXPECT_EQ(line->spacingMicros(), line->charMicros());
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, theStartCodeSentWhileTheLineOpensIsKept) {
    // The server opens its device when we connect; the machine's DC1 comes while the line
    // settings are still being agreed on, and must not be waited for again.
    server.unanswered = {8, 11}; // a port without modem lines
    host.onPump = [this] {
        server.step();
        if (server.connected() && !sentStart) {
            sentStart = true;
            server.send("\x11");
        }
    };
    usePort(rfc2217());
    machine.config.Xoff = 1;
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    EXPECT_EQ(ComCheckLine(ctx, 0, 0), 1); // not "waiting for DC1"
    ASSERT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

// A served line turned between transfers on the same connection: the server is told only
// the framing that differs (a pty behind ser2net takes any framing, so only here does a
// wrong one show), what the machine sent is kept, and its XON counts for the next send
// unless the line was turned to receive meanwhile.
TEST_F(NetworkLineScripted, aLineTurnedInPlaceSetsTheFramingThatDiffersAndKeepsTheInput) {
    machine.line.OutCode = 0; // ISO: sends 7E, receives 8N
    machine.config.Xoff = 1;
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 1), 0);
    auto* line = dynamic_cast<NetworkLine*>(ctx.port.get());
    ASSERT_NE(line, nullptr);
    const size_t atOpen = server.commands.size();
    EXPECT_EQ(server.commands[1], "\x02\x08");

    server.send("A\x11");
    ASSERT_TRUE(line->setDirection(machine, 2));
    server.step();
    EXPECT_EQ(std::vector<std::string>(server.commands.begin() + atOpen, server.commands.end()),
              (std::vector<std::string>{"\x02\x07", "\x03\x03"}));
    line->holdUntilXon();
    LineHolds holds;
    ASSERT_TRUE(line->holds(holds));
    EXPECT_FALSE(holds.xoff); // the DC1 that came before the turn
    EXPECT_EQ(line->readByte(0).byte, 'A');

    server.send("B\x11");
    ASSERT_TRUE(line->setDirection(machine, 1));
    ASSERT_TRUE(line->setDirection(machine, 1)); // the same way again: nothing to say
    server.step();
    EXPECT_EQ(server.commands.size(), atOpen + 4);
    EXPECT_EQ(server.commands.back(), "\x03\x01");
    line->holdUntilXon();
    ASSERT_TRUE(line->holds(holds));
    EXPECT_TRUE(holds.xoff); // that DC1 ended the send; the next one must wait for its own
    EXPECT_EQ(line->readByte(0).byte, 'B');
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, modemStateFromTheServerHoldsTheLine) {
    machine.line.HandShake = 4 | 2; // RTS/CTS and DSR/DTR
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    EXPECT_EQ(server.commands[4], "\x05\x03"); // hardware flow control is the server's UART's
    EXPECT_EQ(server.commands.size(), 6u);     // and RTS is its to drive

    server.send(std::string("\xff\xfa\x2c\x6b\x20\xff\xf0", 7)); // DSR on, CTS off
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), -1);
    EXPECT_EQ(host.flow.back(), "-----> [CTS] Waiting for a signal...");
    server.send(std::string("\xff\xfa\x2c\x6b\x10\xff\xf0", 7)); // CTS on, DSR off
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), -1);
    EXPECT_EQ(host.flow.back(), "-----> [DSR] Waiting for a signal...");
    server.send(std::string("\xff\xfa\x2c\x6b\x33\xff\xf0", 7));
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    EXPECT_EQ(host.statusOf(1), "");
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

TEST_F(NetworkLineScripted, anIpv6AddressInBracketsIsReached) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(listener);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    ::listen(listener, 1);
    usePort("tcp://[::1]:" + std::to_string(ntohs(address.sin6_port)));
    EXPECT_EQ(ComOpen(ctx, 2), 0) << (host.errors.empty() ? "" : host.errors[0]);
    EXPECT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    EXPECT_EQ(ComClose(ctx, 0), 0);
    ::close(listener);
}

TEST_F(NetworkLineScripted, aServerThatSpeaksNoTelnetIsToldNotWaitedFor) {
    server.telnet = false; // a raw port: takes the bytes, answers nothing
    usePort(rfc2217());
    const uint64_t start = clock.now();
    EXPECT_EQ(ComOpen(ctx, 2), -2);
    EXPECT_LE(clock.now() - start, 3'100'000u);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], "Failed to open the device.\n\n" + rfc2217() + "\n" + where() +
                                  ": the device server does not speak RFC 2217 (Telnet "
                                  "COM-PORT-CONTROL). Set its port to RFC 2217 mode, or use "
                                  "tcp:// for a raw port.");
}

// ser2net, when it cannot open its own serial device, says so on the connection and closes
// it: told as that, and none of its words reach a received program. Bytes that only begin
// like its words are the machine's and arrive whole.
TEST_F(NetworkLineScripted, aServerThatCannotOpenItsDeviceIsToldAsThat) {
    const std::string word = "Device open failure: Value or file not found\r\n";
    const std::string told = where() +
                             ": the device server could not open its serial port (Value or "
                             "file not found). Check that the machine's cable or adapter is "
                             "plugged into the server and that no other program on the server "
                             "uses the port.";
    server.telnet = false;
    bool said = false;
    host.onPump = [&] {
        server.step();
        if (server.connected() && !said) {
            said = true;
            server.send(word);
            server.closeClient();
        }
    };
    {
        SCOPED_TRACE("rfc2217: while the line opens");
        usePort(rfc2217());
        EXPECT_EQ(ComOpen(ctx, 1), -2);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], "Failed to open the device.\n\n" + rfc2217() + "\n" + told);
    }
    {
        SCOPED_TRACE("raw: open at once, then the word");
        said = false;
        host.errors.clear();
        usePort("tcp://" + where());
        ASSERT_EQ(ComOpen(ctx, 1), 0);
        EXPECT_EQ(readBytes(1), "");
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], told);
        ComClose(ctx, 0);
    }
    {
        SCOPED_TRACE("raw: the machine's D");
        host.onPump = [this] { server.step(); };
        host.errors.clear();
        ASSERT_EQ(ComOpen(ctx, 1), 0);
        server.step();
        server.send("Devi");
        server.send("ce 7%\n");
        EXPECT_EQ(readBytes(10), "Device 7%\n");
        EXPECT_TRUE(host.errors.empty());
        ComClose(ctx, 0);
    }
}

TEST_F(NetworkLineScripted, everyConnectionFaultNamesTheServerAndItsReason) {
    struct Fault {
        std::string port;
        std::string reason;
    };
    // A port where nothing listens: bind one, then let it go.
    std::string closedPort;
    {
        ScriptedServer gone;
        closedPort = "127.0.0.1:" + std::to_string(gone.port());
    }
    // A server whose queue of unaccepted connections is full never answers the next one.
    ScriptedServer full(0);
    const uint16_t fullPort = full.port();
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(fullPort);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    const std::string fullWhere = "127.0.0.1:" + std::to_string(fullPort);
    const Fault faults[] = {
        {"tcp://" + closedPort, closedPort + ": the connection was refused. Nothing listens on "
                                             "that port: check that the device server runs "
                                             "and the port number."},
        {"rfc2217://mill-7.corvane.test:3001",
         "mill-7.corvane.test:3001: the name of the device server could not be resolved. "
         "Check the host name."},
        {"tcp://" + fullWhere, fullWhere + ": the device server did not answer within 5 seconds."},
        {"tcp://127.0.0.1", "The port is not written as COM n, a device path, tcp://HOST:PORT or "
                            "rfc2217://HOST:PORT."},
    };
    options.resolveHostNames = false; // no test asks a name server
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.port);
        usePort(f.port);
        host.errors.clear();
        EXPECT_EQ(ComOpen(ctx, 2), -2);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], "Failed to open the device.\n\n" + f.port + "\n" + f.reason);
    }
    for (const int fd : fillers)
        ::close(fd);
}

TEST_F(NetworkLineScripted, anInterruptEndsTheWaitForAnAnswer) {
    server.telnet = false;
    usePort(rfc2217());
    int pumps = 0;
    host.onPump = [&] {
        server.step();
        if (++pumps == 5)
            state.InterruptRequest = 1;
    };
    EXPECT_EQ(ComOpen(ctx, 2), -2);
    EXPECT_TRUE(host.errors.empty());
    EXPECT_LT(clock.now(), 200'000u);
}

TEST_F(NetworkLineScripted, aServerGoneMidSendEndsTheTransferNamingIt) {
    usePort(rfc2217());
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    ASSERT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
    server.closeClient();
    for (int tries = 0; tries < 100 && state.InterruptRequest == 0; ++tries)
        ComWriteByte(ctx, 0, 'B');
    EXPECT_EQ(state.InterruptRequest, 1);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], where() + ": the connection to the device server was lost (the "
                                        "server closed it or restarted).");
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

// A server that stops taking bytes (hung, or stopped) must not let the send pass for complete:
// what sits in its socket never reaches the machine.
TEST_F(NetworkLineScripted, aServerThatTakesNothingEndsTheSendAsInterrupted) {
    for (const bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "raw");
        ScriptedServer hung(4, 2048);
        hung.telnet = telnet;
        host.onPump = [&hung] { hung.step(); };
        state.InterruptRequest = 0;
        host.errors.clear();
        options.serverStallMicros = 300'000;
        const std::string where = "127.0.0.1:" + std::to_string(hung.port());
        usePort((telnet ? "rfc2217://" : "tcp://") + where);
        ASSERT_EQ(ComOpen(ctx, 2), 0);
        hung.reading = false;
        int close = 0;
        for (int i = 0; i < 6000 && state.InterruptRequest == 0; ++i)
            ComWriteByte(ctx, 0, 'A');
        close = ComClose(ctx, 0);
        EXPECT_TRUE(state.InterruptRequest == 1 || close != 0);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_EQ(host.errors[0], where + ": the device server took nothing for 1 seconds; the "
                                          "transfer was interrupted (the server hangs or its "
                                          "serial port is blocked).");
    }
}

// A raw server whose socket has room for the whole program: its kernel acknowledges every
// byte whether the server reads or not, and only when the acknowledgements come tells. The last
// bytes of a send, acknowledged on the kernel's timer, are not taken for delivered.
TEST_F(NetworkLineScripted, aRawServerThatStopsReadingIsToldByItsLateAcknowledgements) {
    for (const bool stops : {false, true}) {
        SCOPED_TRACE(stops ? "stops" : "reads");
        ScriptedServer raw;
        raw.telnet = false;
        host.onPump = [&raw] { raw.step(); };
        host.errors.clear();
        options.serverStallMicros = 300'000;
        const std::string where = "127.0.0.1:" + std::to_string(raw.port());
        usePort("tcp://" + where);
        ASSERT_EQ(ComOpen(ctx, 2), 0);
        for (int i = 0; i < 400; ++i) {
            ASSERT_EQ(ComWriteByte(ctx, 0, 'A'), 0);
            raw.step();
        }
        raw.reading = !stops;
        state.InterruptRequest = 0;
        for (int i = 0; i < 2000 && state.InterruptRequest == 0;) {
            i += ComWriteByte(ctx, 0, 'B') == 0 ? 1 : 0;
            raw.step();
        }
        const int close = ComClose(ctx, 0);
        EXPECT_EQ(state.InterruptRequest == 1 || close != 0, stops);
        ASSERT_EQ(host.errors.size(), stops ? 1u : 0u);
        if (stops) {
            EXPECT_EQ(host.errors[0], where + ": the device server took nothing for 1 seconds; "
                                              "the transfer was interrupted (the server hangs or "
                                              "its serial port is blocked).");
        }
    }
}

} // namespace
} // namespace corvane::testing

namespace corvane::testing {
namespace {

// A local port whose driver did not take a setting says so in the log, as a device server does.
TEST(LocalPortWarnings, areShownWhenThePortOpens) {
    struct DroppingLine : ForwardingLine {
        using ForwardingLine::ForwardingLine;
        std::vector<LineMessage> openWarnings() const override {
            return {LineMessage{IDS_PORT_SETTINGS_DROPPED, {"/dev/ttyUSB0", "CS7 PARENB"}}};
        }
    };
    TransferFixture parts;
    MachineDefSetDefaults(parts.machine.line, parts.machine.config);
    TestLine inner(parts.clock, FlowSettings{});
    TransferContext ctx = parts.contextWith([&](const MachineDef&, int, const char*) {
        OpenedLine opened;
        opened.line = std::make_unique<DroppingLine>(inner);
        return opened;
    });
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    ASSERT_EQ(parts.host.log.size(), 1u);
    EXPECT_EQ(parts.host.log[0].text,
              "Warning: the port /dev/ttyUSB0 did not take these settings: CS7 PARENB.");
    parts.host.language = Language::Japanese;
    EXPECT_EQ(ComClose(ctx, 0), 0);
    ASSERT_EQ(ComOpen(ctx, 2), 0);
    EXPECT_EQ(parts.host.log[1].text,
              "警告: ポート /dev/ttyUSB0 は次の設定を受け付けませんでした: CS7 PARENB。");
    EXPECT_EQ(ComClose(ctx, 0), 0);
}

} // namespace
} // namespace corvane::testing
