#include "transfer/NetworkLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "settings/MachineDef.h"
#include "support/Clock.h"
#include "support/NameLookup.h"
#include "support/StringIds.h"
#include "transfer/TapeCode.h"
#include "transfer/TcpWindow.h"
#include "transfer/TransferHost.h"

// Principles of operation
//
// The device server's serial port is the machine's line; the socket only carries it. So the
// rules of the local port hold unchanged: the machine's XON/XOFF come back as data and are
// acted on here, before every byte (the server is never asked to do XON/XOFF itself: it would
// act on its serial side, where a stopped line could not be seen from here, and it swallows
// the codes). A socket says nothing about what the far UART still has to send, so bytes leave
// one character time apart at the machine's rate, as from a UART: what is in flight when the
// machine says XOFF is then what one round trip carries, a character or two on a shop network.
// Where a round trip is worth more characters than a control accepts after its XOFF (a fast
// line, a slow network), the bytes are spaced wider, so that never more than a few are on
// their way: slower, but the machine never overflows.
//
// Bytes count as sent once the server has taken them, not once its kernel acknowledged them:
// a hung server's socket keeps accepting a whole program. Through RFC 2217 a hang shows as
// questions left unanswered; on a raw port, as a window that shrinks (a server with little
// buffer) or as acknowledgements that come only on the kernel's timer (AckTiming).
//
// Opening never blocks: the name is looked up, the connection made and the Telnet options and
// line settings agreed in steps that the port layer drives between pumps of the window. Every
// step has its own limit, and a server that never answers a command costs at most three
// seconds and a warning, not the transfer.

namespace corvane {

namespace {

uint64_t monotonicMicros() {
    return WexGetTickCount64();
}

uint64_t wallMicros() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1'000'000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

// The kernel's stamp on received bytes (SO_TIMESTAMPNS), on the wall clock; 0 without one.
uint64_t arrivalMicros(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            return static_cast<uint64_t>(t.tv_sec) * 1'000'000u +
                   static_cast<uint64_t>(t.tv_nsec) / 1000u;
        }
    }
    return 0;
}

bool connectionGone(int error) {
    return error == ECONNRESET || error == EPIPE || error == ENOTCONN || error == ETIMEDOUT ||
           error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNABORTED;
}

int settingName(const Rfc2217Client::Request& r) {
    switch (r.command) {
    case comport::SetBaudRate:
        return IDS_NET_BAUD_RATE;
    case comport::SetDataSize:
        return IDS_NET_DATA_SIZE;
    case comport::SetParity:
        return IDS_NET_PARITY;
    case comport::SetStopSize:
        return IDS_NET_STOP_SIZE;
    default:
        break;
    }
    if (r.value >= 7 && r.value <= 9)
        return IDS_NET_DTR;
    if (r.value >= 10 && r.value <= 12)
        return IDS_NET_RTS;
    return IDS_NET_FLOW_CONTROL;
}

// A value the way a serial port's settings are written (9600, E, 1.5, RTS/CTS, ON).
std::string valueText(uint8_t command, uint32_t value) {
    switch (command) {
    case comport::SetParity: {
        static constexpr const char* Names[] = {"?", "NONE", "ODD", "EVEN", "MARK", "SPACE"};
        return value <= 5 ? Names[value] : std::to_string(value);
    }
    case comport::SetStopSize:
        return value == 3 ? "1.5" : std::to_string(value);
    case comport::SetControl:
        switch (value) {
        case 1:
            return "NONE";
        case 2:
            return "XON/XOFF";
        case 3:
            return "RTS/CTS";
        case 8:
        case 11:
            return "ON";
        case 9:
        case 12:
            return "OFF";
        default:
            return std::to_string(value);
        }
    default:
        return std::to_string(value);
    }
}

} // namespace

NetworkLine::NetworkLine(const PortAddress& address, const MachineDef& machine, int direction,
                         const LineOptions& options)
    : m_address(address), m_telnet(address.kind == PortKind::Rfc2217),
      m_resolveNames(options.resolveHostNames), m_flow(FlowSettingsFor(machine.line)),
      m_input(m_flow) {
    if (options.serverStallMicros != 0)
        m_stallMicros = options.serverStallMicros;
    if (options.silentServerSeconds != 0)
        m_silentServerSeconds = options.silentServerSeconds;
    m_input.setReceiving(direction == DirectionReceive);
    const Framing framing = FramingFor(machine.line, direction);
    m_baud = static_cast<uint32_t>(BaudRateFor(machine.line.BaudRate));
    m_dataSize = static_cast<uint32_t>(framing.dataBits);
    m_parity = framing.parity == 'O' ? 2u : framing.parity == 'E' ? 3u : 1u;
    m_stopSize = static_cast<uint32_t>(framing.stopBits);
    m_hardwareFlow = (machine.line.HandShake & HandShakeRtsCts) != 0;
    const int bits = 1 + framing.dataBits + (framing.parity != 'N' ? 1 : 0) + framing.stopBits;
    m_bitsPerCharacter = bits;
    m_lineBaud = m_baud;
    m_pacer.setCharMicros(CharacterMicros(bits, m_baud));
}

NetworkLine::~NetworkLine() {
    close();
}

OpenedLine NetworkLine::open(const PortAddress& address, const MachineDef& machine, int direction,
                             const LineOptions& options) {
    OpenedLine opened;
    opened.line.reset(new NetworkLine(address, machine, direction, options));
    return opened;
}

OpenProgress NetworkLine::fail(int textId, const std::string& detail) {
    m_phase = Phase::Failed;
    m_failure = LineMessage{textId, {m_address.hostPort()}};
    if (!detail.empty())
        m_failure.args.push_back(detail);
    close();
    return OpenProgress::Failed;
}

OpenProgress NetworkLine::failDropped() {
    if (!m_deviceFailure.empty())
        return fail(IDS_NET_DEVICE_OPEN_FAILED, m_deviceFailure);
    return fail(IDS_NET_DROPPED);
}

OpenProgress NetworkLine::continueOpen(uint64_t now) {
    if (!m_phaseStarted) {
        m_phaseStarted = true;
        m_phaseStart = now;
    }
    switch (m_phase) {
    case Phase::Resolving:
        return resolve(now);
    case Phase::Connecting:
        return connecting(now);
    case Phase::Negotiating:
        return negotiating(now);
    case Phase::Settling:
        return settling(now);
    case Phase::Ready:
        return OpenProgress::Done;
    case Phase::Failed:
        return OpenProgress::Failed;
    }
    return OpenProgress::Failed;
}

OpenProgress NetworkLine::resolve(uint64_t now) {
    const std::string service = std::to_string(m_address.port);
    if (!m_lookup) {
        // An address needs no name server: take it at once.
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        if (getaddrinfo(m_address.host.c_str(), service.c_str(), &hints, &m_addresses) == 0) {
            m_nextAddress = m_addresses;
            m_phase = Phase::Connecting;
            m_phaseStart = now;
            return connectNext(now);
        }
        m_addresses = nullptr;
        if (!m_resolveNames)
            return fail(IDS_NET_NAME_NOT_RESOLVED);
        m_lookup = startNameLookup(m_address.host, m_address.port);
    }
    const int status = m_lookup->status();
    if (status == EAI_INPROGRESS) {
        if (now - m_phaseStart >= ResolveMicros)
            return fail(IDS_NET_NAME_NOT_RESOLVED);
        return OpenProgress::Pending;
    }
    if (status != 0)
        return fail(IDS_NET_NAME_NOT_RESOLVED);
    // The lookup keeps the addresses while they are tried.
    m_nextAddress = m_lookup->addresses();
    m_phase = Phase::Connecting;
    m_phaseStart = now;
    return connectNext(now);
}

OpenProgress NetworkLine::connectNext(uint64_t now) {
    // A name may stand for several addresses (localhost: ::1 and 127.0.0.1); the first that
    // takes the connection wins.
    while (m_nextAddress) {
        const addrinfo* a = m_nextAddress;
        m_nextAddress = a->ai_next;
        const int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            m_lastError = errno;
            continue;
        }
        // Set before the connect, so the window the server is offered is already small.
        const int buffer = SendBufferBytes;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
            m_fd = fd;
            return connecting(now);
        }
        m_lastError = errno;
        ::close(fd);
    }
    if (m_lastError == ECONNREFUSED)
        return fail(IDS_NET_REFUSED);
    if (m_lastError == ETIMEDOUT)
        return fail(IDS_NET_NO_ANSWER);
    return fail(IDS_NET_UNREACHABLE, std::strerror(m_lastError ? m_lastError : EHOSTUNREACH));
}

OpenProgress NetworkLine::connecting(uint64_t now) {
    pollfd p{m_fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) > 0) {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == 0) {
            connected(now);
            return m_telnet ? negotiating(now) : OpenProgress::Done;
        }
        m_lastError = error;
        ::close(m_fd);
        m_fd = -1;
        return connectNext(now);
    }
    if (now - m_phaseStart >= ConnectMicros)
        return fail(IDS_NET_NO_ANSWER);
    return OpenProgress::Pending;
}

void NetworkLine::connected(uint64_t now) {
    m_timerSlack.take();
    // One byte per write must go out as it is written, not when Nagle thinks it worth it.
    const int on = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // A server rebooted or a cable pulled leaves the connection half open: the kernel's
    // defaults would notice after two hours. A third of the time idle, then probes a sixth
    // apart (10 s, then 4 probes 5 s apart: 30 s); unacknowledged data gives up after the
    // same time.
    const int silent = static_cast<int>(m_silentServerSeconds);
    const int idle = std::max(1, silent / 3);
    const int interval = std::max(1, silent / 6);
    const int count = std::max(1, (silent - idle) / interval);
    const unsigned userTimeoutMs = m_silentServerSeconds * 1000u;
    setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(m_fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
    if (m_addresses)
        freeaddrinfo(m_addresses);
    m_addresses = nullptr;
    m_nextAddress = nullptr;
    m_lookup.reset();
    m_phaseStart = now;
    if (!m_telnet) {
        m_phase = Phase::Ready;
        fitRoundTrip();
        return;
    }
    m_phase = Phase::Negotiating;
    m_client.start();
    flush();
}

OpenProgress NetworkLine::negotiating(uint64_t now) {
    if (!takeInput())
        return failDropped();
    if (m_client.comPortRefused())
        return fail(IDS_NET_NO_TELNET);
    if (m_client.comPortAccepted()) {
        queueLineSettings();
        m_phase = Phase::Settling;
        m_phaseStart = now;
        return settling(now);
    }
    // A raw port forwards our Telnet bytes to the machine and answers nothing (or the
    // machine's own data); a Telnet server without COM-PORT never says DO.
    if (now - m_phaseStart >= AnswerMicros)
        return fail(IDS_NET_NO_TELNET);
    return OpenProgress::Pending;
}

void NetworkLine::queueLineSettings() {
    // XON/XOFF is never asked for: the machine's codes must reach us. RTS/CTS belongs to the
    // server's UART, which alone can stop within a character of CTS dropping.
    m_client.queueCommand(comport::SetBaudRate, m_baud);
    m_client.queueCommand(comport::SetDataSize, m_dataSize);
    m_client.queueCommand(comport::SetParity, m_parity);
    m_client.queueCommand(comport::SetStopSize, m_stopSize);
    m_client.queueCommand(comport::SetControl,
                          m_hardwareFlow ? comport::FlowHardware : comport::FlowNone);
    // DTR and RTS up, as a local port raises them for a ready sender.
    m_client.queueCommand(comport::SetControl, comport::DtrOn);
    if (!m_hardwareFlow)
        m_client.queueCommand(comport::SetControl, comport::RtsOn);
    flush();
}

OpenProgress NetworkLine::settling(uint64_t now) {
    if (!takeInput())
        return failDropped();
    // The modem lines do not hold the open: a confirmation that has not come by the time the
    // line settings are answered is warned about, not waited for.
    if (!m_client.settingsAnswered() && now - m_phaseStart < AnswerMicros)
        return OpenProgress::Pending;
    // Their answers, when they come, come with the others: a moment's grace, no more.
    if (!m_client.allAnswered() && now - m_phaseStart < AnswerMicros) {
        if (m_settingsAnsweredAt == 0)
            m_settingsAnsweredAt = std::max<uint64_t>(now, 1);
        if (now - m_settingsAnsweredAt < ModemLineGraceMicros)
            return OpenProgress::Pending;
    }
    noteAnswers();
    if (m_client.binaryRefused())
        m_warnings.push_back(LineMessage{IDS_NET_NO_BINARY, {m_address.hostPort()}});
    // A server that set another rate than asked sends at that rate: pace by it, or bytes pile
    // up in it (or the line idles).
    for (const Rfc2217Client::Request& r : m_client.requests()) {
        if (r.command == comport::SetBaudRate && r.answered && r.answer != 0 &&
            r.answer != r.value && r.answer <= 4'000'000u) {
            m_lineBaud = r.answer;
            m_pacer.setCharMicros(CharacterMicros(m_bitsPerCharacter, r.answer));
        }
    }
    fitRoundTrip();
    m_phase = Phase::Ready;
    return OpenProgress::Done;
}

bool NetworkLine::setDirection(const MachineDef& machine, int direction) {
    // What has come so far belongs to the transfer before: its flow codes are taken now, so
    // that a turn to receive forgets them too (an XON still in the socket after a send).
    if (m_fd < 0 || m_phase != Phase::Ready || !takeInput())
        return false;
    const Framing framing = FramingFor(machine.line, direction);
    const auto dataSize = static_cast<uint32_t>(framing.dataBits);
    const uint32_t parity = framing.parity == 'O' ? 2u : framing.parity == 'E' ? 3u : 1u;
    const auto stopSize = static_cast<uint32_t>(framing.stopBits);
    if (m_telnet) {
        // Only what differs: a server may reset its UART for every setting it is given. The
        // answers are not waited for (the open already said what the server will not set),
        // and the commands go ahead of any byte of the transfer on the same stream, so the
        // server sets the frame before it sends one. Bytes the machine sent before that were
        // read in the old frame, as on a local port turned in place.
        if (dataSize != m_dataSize)
            m_client.queueCommandUnanswered(comport::SetDataSize, dataSize);
        if (parity != m_parity)
            m_client.queueCommandUnanswered(comport::SetParity, parity);
        if (stopSize != m_stopSize)
            m_client.queueCommandUnanswered(comport::SetStopSize, stopSize);
        if (!flush())
            return false;
    }
    m_dataSize = dataSize;
    m_parity = parity;
    m_stopSize = stopSize;
    m_bitsPerCharacter = 1 + framing.dataBits + (framing.parity != 'N' ? 1 : 0) + framing.stopBits;
    m_pacer.setCharMicros(CharacterMicros(m_bitsPerCharacter, m_lineBaud));
    fitRoundTrip();
    if (direction == DirectionReceive)
        m_input.forgetFlow();
    m_input.setReceiving(direction == DirectionReceive);
    return true;
}

void NetworkLine::probeRoundTrip(uint64_t now) {
    if (m_probeSentAt != 0 || m_writesSinceFit != 0)
        return;
    m_client.queueProbe();
    m_probeSentAt = std::max<uint64_t>(now, 1);
    m_probeSentAtWall = wallMicros();
    m_probeAnsweredAt = 0;
}

void NetworkLine::takeProbeAnswer(uint64_t now, uint64_t previousRead) {
    if (m_probeSentAt == 0)
        return;
    if (!m_client.takeProbeAnswer()) {
        // A server that answers nothing has hung; slowing down for it would only hide that.
        if (now - m_probeSentAt >= m_stallMicros) {
            m_stalled = true;
            m_lost = true;
        }
        return;
    }
    const uint64_t sentAt = m_probeSentAt;
    const uint64_t sentAtWall = m_probeSentAtWall;
    const uint64_t arrivedWall = m_probeAnsweredAt;
    m_probeSentAt = 0;
    m_probeAnsweredAt = 0;
    uint64_t measured = 0;
    if (arrivedWall != 0 && sentAtWall != 0) {
        // Both on the system's wall clock, as the kernel stamps it; a clock set back between
        // them makes the measure worthless.
        if (arrivedWall < sentAtWall)
            return;
        measured = arrivedWall - sentAtWall;
    } else {
        // Without the kernel's stamp the answer came some time after the read before this
        // one. When the socket was not read for a while (the engine pausing after the start
        // code) that time is ours, not the network's: such a measure is dropped.
        measured = now - sentAt;
        const uint64_t unsure = now - std::max(previousRead, sentAt);
        if (unsure > std::max<uint64_t>(2'000, measured / 4))
            return;
    }
    // Never longer than the time from the question to this read.
    m_answerRoundTrip = std::min(measured, now - sentAt);
    fitRoundTrip();
}

bool NetworkLine::heldByModem() const {
    // A server's UART held by the machine's CTS takes nothing, rightly.
    if (!m_flow.cts)
        return false;
    if (!m_telnet || !m_client.modemStateKnown())
        return true; // a raw port does not say: a CTS machine may hold for as long as it likes
    return !(m_client.modemState() & comport::Cts);
}

void NetworkLine::watchForStall(uint64_t now) {
    if (m_fd < 0 || m_phase != Phase::Ready)
        return;
    const int unsent = untaken();
    const std::string& pending = m_telnet ? m_client.output() : m_raw;
    if (m_input.held() || heldByModem())
        m_ackTiming.pause();
    const uint64_t late = lateSince();
    if (late != 0 && now > late && now - late >= m_stallMicros) {
        m_stalled = true;
        m_lost = true;
        return;
    }
    if (unsent <= WindowSlackBytes && pending.empty()) {
        m_unsent = 0;
        m_stuckSince = 0;
        return;
    }
    if (m_stuckSince == 0 || unsent < m_unsent || heldByModem()) {
        m_stuckSince = now;
        m_unsent = unsent;
        return;
    }
    m_unsent = unsent;
    if (now - m_stuckSince >= m_stallMicros) {
        m_stalled = true;
        m_lost = true;
    }
}

int NetworkLine::untaken() {
    int unsent = 0;
    if (ioctl(m_fd, SIOCOUTQ, &unsent) != 0)
        unsent = 0;
    m_unacked = unsent;
    // What the server's kernel acknowledged but the server has not read: the window it
    // offers, short of the widest it ever offered.
    PeerAcks peer;
    if (PeerState(m_fd, peer)) {
        m_widestWindow = std::max(m_widestWindow, peer.window);
        if (!m_telnet) {
            const uint64_t now = monotonicMicros();
            const uint64_t acked = m_written - std::min<uint64_t>(m_written, unsent);
            m_ackTiming.acknowledged(acked, now - std::min(now, peer.lastAckAgo),
                                     peer.minRoundTrip);
        }
        unsent += static_cast<int>(std::min<uint32_t>(m_widestWindow - peer.window, 1u << 24));
    }
    return unsent;
}

void NetworkLine::fitRoundTrip() {
    tcp_info info{};
    socklen_t length = sizeof info;
    uint64_t kernel = 0;
    if (m_fd >= 0 && getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0)
        kernel = info.tcpi_rtt;
    m_pacer.fitRoundTrip(std::max(kernel, m_answerRoundTrip), RoundTripBudget);
}

void NetworkLine::noteAnswers() {
    const std::string server = m_address.hostPort();
    for (const Rfc2217Client::Request& r : m_client.requests()) {
        const std::string asked = valueText(r.command, r.value);
        if (!r.answered) {
            m_warnings.push_back(LineMessage{IDS_NET_NOT_CONFIRMED,
                                             {server, MessageArg::table(settingName(r)), asked}});
        } else if (r.answer != r.value) {
            m_warnings.push_back(LineMessage{IDS_NET_SET_DIFFERENTLY,
                                             {server, MessageArg::table(settingName(r)),
                                              valueText(r.command, r.answer), asked}});
        }
    }
}

bool NetworkLine::flush() {
    std::string& out = m_telnet ? m_client.output() : m_raw;
    while (!out.empty() && m_fd >= 0) {
        const ssize_t n = ::send(m_fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            out.erase(0, static_cast<size_t>(n));
            if (!m_telnet) {
                m_written += static_cast<uint64_t>(n);
                m_ackTiming.sent(m_written, monotonicMicros());
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        noteError(errno);
        return false;
    }
    return !m_lost;
}

void NetworkLine::noteError(int error) {
    if (connectionGone(error))
        m_lost = true;
}

bool NetworkLine::takeInput() {
    if (m_fd < 0)
        return false;
    m_input.compact();
    uint8_t chunk[512];
    std::string decoded;
    for (;;) {
        if (m_input.room(sizeof chunk) == 0)
            break; // what stays in the socket is not lost; the server's buffer fills instead
        // The kernel's time of arrival comes along with the bytes: a probe's answer is timed
        // by when it reached us, not by when the engine came round to read it.
        iovec part{chunk, sizeof chunk};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (n > 0) {
            decoded.clear();
            if (m_telnet) {
                const bool answeredBefore = m_client.probeAnswered();
                m_client.take(chunk, static_cast<size_t>(n), decoded);
                if (!answeredBefore && m_client.probeAnswered())
                    m_probeAnsweredAt = arrivalMicros(message);
            } else {
                decoded.assign(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
            }
            takeData(decoded.data(), decoded.size());
            continue;
        }
        if (n == 0) {
            connectionClosed(); // the server closed it (or was restarted)
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            noteError(errno);
        break;
    }
    const uint64_t now = monotonicMicros();
    const uint64_t previousRead = m_lastReadAt;
    m_lastReadAt = now;
    takeProbeAnswer(now, previousRead);
    watchForStall(now);
    // Our answers to the server's Telnet options go out as soon as they are due.
    if (m_telnet && !m_client.output().empty())
        flush();
    return !m_lost;
}

namespace {
// What ser2net sends, and then closes the connection, when its serial device cannot be opened
// ("Device open failure: Value or file not found").
constexpr std::string_view DeviceOpenFailure = "Device open failure";
constexpr size_t LongestServerWord = 200;
} // namespace

void NetworkLine::takeData(const char* bytes, size_t count) {
    if (!m_watchingServerWord) {
        m_input.take(reinterpret_cast<const uint8_t*>(bytes), count);
        return;
    }
    m_serverWord.append(bytes, count);
    const size_t compared = std::min(m_serverWord.size(), DeviceOpenFailure.size());
    const bool mayBeTheWord =
        m_serverWord.compare(0, compared, DeviceOpenFailure.substr(0, compared)) == 0;
    if (mayBeTheWord && m_serverWord.size() <= LongestServerWord &&
        m_serverWord.find('\n') == std::string::npos)
        return;
    if (mayBeTheWord && compared == DeviceOpenFailure.size()) {
        // The server's word, whole: what follows it is of no use; the close comes next.
        m_deviceFailure = m_serverWord.substr(DeviceOpenFailure.size());
        const auto start = m_deviceFailure.find_first_not_of(": ");
        const auto end = m_deviceFailure.find_first_of("\r\n");
        m_deviceFailure = start == std::string::npos || start >= end
                              ? std::string("?")
                              : m_deviceFailure.substr(start, end - start);
        m_watchingServerWord = false;
        m_serverWord.clear();
        return;
    }
    // The machine's own bytes.
    m_watchingServerWord = false;
    const std::string held = std::move(m_serverWord);
    m_serverWord.clear();
    m_input.take(reinterpret_cast<const uint8_t*>(held.data()), held.size());
}

void NetworkLine::connectionClosed() {
    m_lost = true;
    // A server that said only part of its word and closed: the whole of what it said is the
    // reason; bytes that were the start of something else still reach the reader.
    if (m_watchingServerWord && !m_serverWord.empty()) {
        if (m_serverWord.size() >= DeviceOpenFailure.size()) {
            m_serverWord.push_back('\n');
            takeData("", 0);
        } else {
            m_watchingServerWord = false;
            m_input.take(reinterpret_cast<const uint8_t*>(m_serverWord.data()),
                         m_serverWord.size());
            m_serverWord.clear();
        }
    }
}

void NetworkLine::waitOnSocket(uint64_t micros) {
    if (m_fd < 0 || m_lost) {
        SleepMicros(micros);
        return;
    }
    const std::string& out = m_telnet ? m_client.output() : m_raw;
    pollfd p{m_fd, static_cast<short>(out.empty() ? POLLIN : (POLLIN | POLLOUT)), 0};
    const timespec ts = MicrosToTimespec(micros);
    ppoll(&p, 1, &ts, nullptr);
}

bool NetworkLine::holds(LineHolds& out) {
    out = LineHolds{};
    if (!takeInput())
        return false;
    out.xoff = m_input.held();
    if (m_telnet && m_client.modemStateKnown()) {
        out.cts = m_flow.cts && !(m_client.modemState() & comport::Cts);
        out.dsr = m_flow.dsr && !(m_client.modemState() & comport::Dsr);
    }
    return true;
}

bool NetworkLine::writeByte(uint8_t byte, uint64_t waitMicros) {
    const uint64_t deadline = monotonicMicros() + waitMicros;
    for (;;) {
        if (!takeInput())
            return false;
        const uint64_t now = monotonicMicros();
        const std::string& pending = m_telnet ? m_client.output() : m_raw;
        const bool busy = !m_pacer.due(now) || !pending.empty();
        if (!busy && !m_input.held()) {
            if (m_telnet)
                m_client.queueData(byte);
            else
                m_raw += static_cast<char>(byte);
            m_pacer.sent(now);
            // A network's round trip changes: measure it now and then.
            if (m_telnet && m_phase == Phase::Ready)
                probeRoundTrip(now);
            constexpr unsigned FitEvery = 256;
            if (++m_writesSinceFit >= FitEvery) {
                m_writesSinceFit = 0;
                fitRoundTrip();
            }
            return flush();
        }
        if (now >= deadline)
            return false;
        uint64_t wait = deadline - now;
        if (!m_pacer.due(now))
            wait = std::min(wait, m_pacer.dueAt() - now);
        if (!pending.empty() && !flush())
            return false;
        waitOnSocket(wait);
    }
}

ReadResult NetworkLine::readByte(uint64_t waitMicros) {
    return m_input.read(
        waitMicros, [this](uint64_t) { return takeInput(); },
        [this](uint64_t micros) {
            waitOnSocket(micros);
            return true;
        });
}

void NetworkLine::waitForChange(uint64_t waitMicros) {
    if (!takeInput()) {
        SleepMicros(waitMicros);
        return;
    }
    waitOnSocket(waitMicros);
    takeInput();
}

void NetworkLine::drainOutput(uint64_t waitMicros) {
    // Sent means taken by the server: our queue empty, the socket's too (acknowledged), and
    // the last byte's character time over.
    const uint64_t deadline = monotonicMicros() + waitMicros;
    for (;;) {
        if (m_fd < 0 || m_lost || !flush())
            return;
        const uint64_t now = monotonicMicros();
        const std::string& pending = m_telnet ? m_client.output() : m_raw;
        const int unsent = untaken();
        // A raw server's acknowledgement of the last bytes tells whether it read them: they
        // are sent once it came promptly, or once the server shows that it reads again.
        const bool acknowledged = m_telnet || (m_unacked == 0 && lateSince() == 0);
        if (pending.empty() && unsent <= WindowSlackBytes && m_pacer.due(now) && acknowledged)
            return;
        // Bytes the server has not taken are not sent: wait for them as long as it takes
        // them, and end when it has taken nothing for StallMicros.
        watchForStall(now);
        if (m_lost)
            return;
        if (now >= deadline && m_stuckSince == 0 && lateSince() == 0)
            return;
        SleepMicros(std::min<uint64_t>(deadline - now, 1000));
    }
}

void NetworkLine::purge() {
    takeInput();
    m_input.clear();
}

void NetworkLine::dropDtr() {
    if (!m_telnet || m_fd < 0 || m_lost)
        return;
    m_client.queueCommandUnanswered(comport::SetControl, comport::DtrOff);
    flush();
}

void NetworkLine::close() {
    if (m_addresses)
        freeaddrinfo(m_addresses);
    m_addresses = nullptr;
    m_nextAddress = nullptr;
    m_lookup.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_timerSlack.release();
}

bool NetworkLine::outputDelivered() const {
    return !m_stalled;
}

LineMessage NetworkLine::lostReason() const {
    if (m_stalled)
        return LineMessage{
            IDS_NET_SERVER_STALLED,
            {m_address.hostPort(), std::to_string((m_stallMicros + 999'999) / 1'000'000)}};
    if (!m_deviceFailure.empty())
        return LineMessage{IDS_NET_DEVICE_OPEN_FAILED, {m_address.hostPort(), m_deviceFailure}};
    return LineMessage{IDS_NET_DROPPED, {m_address.hostPort()}};
}

} // namespace corvane
