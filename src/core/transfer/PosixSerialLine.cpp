#include "transfer/PosixSerialLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "settings/MachineDef.h"
#include "support/Clock.h"
#include "support/StringIds.h"
#include "transfer/DeviceFileLine.h"
#include "transfer/LineSettings.h"
#include "transfer/NetworkLine.h"
#include "transfer/PortAddress.h"
#include "transfer/SerialTermios.h"
#include "transfer/TapeCode.h"
#include "transfer/TransferHost.h"

// Principles of operation
//
// The kernel's IXON is off: the XON/XOFF codes the machine sends are taken out of the input
// here, by the same filter the tests use, and the hold they set is obeyed before each byte.
// CTS and DSR are read with TIOCMGET before every byte. Bytes go out one at a time, and the
// next waits until the driver's queue is empty, so that after the machine says XOFF at most
// the one byte on the wire follows it. Reads and writes never block in the kernel: every wait
// is a poll bounded by the caller's slice, so the window keeps running and an interrupt is
// seen within one slice.
//
// A pseudo-terminal (the simulator, or the virtual port of a network serial bridge) has no
// line rate and its output queue always reads empty, so the rule above would let us write as
// fast as the CPU allows and the machine would get a flood of characters after its XOFF. On
// such a line the UART is emulated instead: a byte leaves only one character time after the
// previous one (LinePacer keeps the cadence), and the wait in between watches the input, so
// an XOFF stops the very next byte.
//
// At line rate this runs thousands of times a second, so a byte costs what it must and no
// more: the wait before it is the one poll that also watches the input, and when that poll
// saw nothing arrive, nothing is read before the write. The thread's timer slack is made
// small while a paced line is open; the default 50 us would make every wake-up late by a
// fifth of a character at 38400 baud.

namespace corvane {

namespace {

uint64_t monotonicMicros() {
    return WexGetTickCount64();
}

std::string groupOwning(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return {};
    group gr{};
    group* found = nullptr;
    char buffer[4096];
    if (getgrgid_r(st.st_gid, &gr, buffer, sizeof buffer, &found) != 0 || !found)
        return {};
    return found->gr_name;
}

OpenedLine failure(OpenFailure kind, int error, const std::string& device) {
    OpenedLine opened;
    opened.error.kind = kind;
    opened.error.text =
        kind == OpenFailure::PermissionDenied ? groupOwning(device) : std::strerror(error);
    return opened;
}

// True for a terminal whose output queue says nothing about what the far end has taken: a
// pseudo-terminal (found by its device number), or any terminal without modem lines.
bool withoutOutputQueue(int fd) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned int kind = major(st.st_rdev);
        constexpr unsigned int Unix98SlaveFirst = 136;
        constexpr unsigned int Unix98SlaveLast = 143;
        constexpr unsigned int LegacyMaster = 2;
        constexpr unsigned int LegacySlave = 3;
        if ((kind >= Unix98SlaveFirst && kind <= Unix98SlaveLast) || kind == LegacyMaster ||
            kind == LegacySlave)
            return true;
    }
    int status = 0;
    return ioctl(fd, TIOCMGET, &status) != 0 && (errno == ENOTTY || errno == EINVAL);
}

OpenFailure failureKind(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return OpenFailure::PermissionDenied;
    case EBUSY:
        return OpenFailure::Busy;
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return OpenFailure::NotFound;
    case ENOTTY:
    case EINVAL:
        return OpenFailure::NotASerialPort;
    default:
        return OpenFailure::Other;
    }
}

} // namespace

PosixSerialLine::PosixSerialLine(int fd, const FlowSettings& flow)
    : m_fd(fd), m_flow(flow), m_input(flow) {}

PosixSerialLine::~PosixSerialLine() {
    close();
}

OpenedLine PosixSerialLine::open(const std::string& device, const MachineDef& machine,
                                 int direction) {
    return open(device, machine, direction, LineOptions{});
}

OpenedLine PosixSerialLine::open(const std::string& device, const MachineDef& machine,
                                 int direction, const LineOptions& options) {
    int fd;
    do {
        fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return failure(failureKind(errno), errno, device);

    // The port is ours alone for the transfer, as another program writing into it would
    // corrupt the program on the machine.
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        ::close(fd);
        return failure(failureKind(error), error, device);
    }

    std::unique_ptr<PosixSerialLine> line(new PosixSerialLine(fd, FlowSettingsFor(machine.line)));
    line->m_device = device;
    int error = 0;
    if (!line->setUp(machine, direction, options, error)) {
        line->close();
        return failure(failureKind(error), error, device);
    }
    OpenedLine opened;
    opened.line = std::move(line);
    return opened;
}

std::unique_ptr<PosixSerialLine> PosixSerialLine::adopt(int fd, const MachineDef& machine,
                                                        int direction) {
    return adopt(fd, machine, direction, LineOptions{});
}

std::unique_ptr<PosixSerialLine> PosixSerialLine::adopt(int fd, const MachineDef& machine,
                                                        int direction, const LineOptions& options) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    std::unique_ptr<PosixSerialLine> line(new PosixSerialLine(fd, FlowSettingsFor(machine.line)));
    int error = 0;
    if (!line->setUp(machine, direction, options, error)) {
        line->close();
        return nullptr;
    }
    return line;
}

bool PosixSerialLine::setUp(const MachineDef& machine, int direction, const LineOptions& options,
                            int& error) {
    if (tcgetattr(m_fd, &m_original) != 0) {
        error = errno;
        return false;
    }
    m_haveOriginal = true;
    m_input.setReceiving(direction == DirectionReceive);
    m_direction = direction;

    const termios wanted = BuildSerialTermios(m_original, machine.line, direction);
    // tcsetattr succeeds when any part took, so what matters is what reads back. Like the
    // original driver call, a refusal does not stop the transfer.
    tcsetattr(m_fd, TCSANOW, &wanted);
    termios got{};
    if (tcgetattr(m_fd, &got) == 0) {
        struct Check {
            tcflag_t mask;
            const char* name;
        };
        static constexpr Check Checks[] = {{CSIZE, "CSIZE"},
                                           {PARENB, "PARENB"},
                                           {PARODD, "PARODD"},
                                           {CSTOPB, "CSTOPB"},
                                           {CRTSCTS, "CRTSCTS"}};
        for (const auto& c : Checks) {
            if ((wanted.c_cflag & c.mask) != (got.c_cflag & c.mask)) {
                if (!m_dropped.empty())
                    m_dropped += ' ';
                m_dropped +=
                    c.mask == CSIZE ? ((wanted.c_cflag & CSIZE) == CS7 ? "CS7" : "CS8") : c.name;
            }
        }
        if ((wanted.c_iflag & IXOFF) != (got.c_iflag & IXOFF))
            m_dropped += m_dropped.empty() ? "IXOFF" : " IXOFF";
        if (cfgetospeed(&wanted) != cfgetospeed(&got))
            m_dropped += m_dropped.empty() ? "speed" : " speed";
    }

    // Some USB adapters hold received bytes for 16 ms by default; an XOFF from the machine
    // must be seen at once. Drivers that cannot, or users who may not, are left as they are.
    serial_struct serial{};
    if (ioctl(m_fd, TIOCGSERIAL, &serial) == 0) {
        m_originalSerialFlags = serial.flags;
        if (!(serial.flags & ASYNC_LOW_LATENCY)) {
            serial.flags |= ASYNC_LOW_LATENCY;
            m_lowLatencySet = ioctl(m_fd, TIOCSSERIAL, &serial) == 0;
        }
    }

    const Framing framing = FramingFor(machine.line, direction);
    const int bits = 1 + framing.dataBits + (framing.parity != 'N' ? 1 : 0) + framing.stopBits;
    m_charMicros = CharacterMicros(bits, static_cast<uint32_t>(BaudRateFor(machine.line.BaudRate)));
    m_paced = options.emulateLineRate && withoutOutputQueue(m_fd);
    m_pacer.setCharMicros(m_charMicros);
    if (m_paced)
        m_timerSlack.take();

    // DTR and RTS asserted, as the machine expects from a ready sender (a pty has neither).
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(m_fd, TIOCMBIS, &lines);
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

bool PosixSerialLine::setDirection(const MachineDef& machine, int direction) {
    if (m_fd < 0 || m_lost)
        return false;
    if (direction != m_direction) {
        // TCSANOW, never TCSAFLUSH: what the machine has sent stays in the driver.
        const termios wanted = BuildSerialTermios(m_original, machine.line, direction);
        tcsetattr(m_fd, TCSANOW, &wanted);
        const Framing framing = FramingFor(machine.line, direction);
        const int bits = 1 + framing.dataBits + (framing.parity != 'N' ? 1 : 0) + framing.stopBits;
        m_charMicros =
            CharacterMicros(bits, static_cast<uint32_t>(BaudRateFor(machine.line.BaudRate)));
        m_pacer.setCharMicros(m_charMicros);
    }
    if (direction == DirectionReceive)
        m_input.forgetFlow();
    m_input.setReceiving(direction == DirectionReceive);
    m_direction = direction;
    return true;
}

bool PosixSerialLine::takeInput() {
    // A device that has gone may still hold what it received before; that is read out
    // first, so a receive keeps every byte that reached the computer.
    if (m_fd < 0)
        return false;
    m_input.compact();
    unsigned char chunk[256];
    for (;;) {
        // A receive takes no more than fits; what stays in the driver is not lost.
        const size_t room = m_input.room(sizeof chunk);
        if (room == 0)
            return true;
        const ssize_t n = ::read(m_fd, chunk, room);
        if (n > 0) {
            m_input.take(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            m_inputSeen = false; // the caller stamps the moment if it wants to rely on it
            return !m_lost;
        }
        if (errno == EINTR)
            continue;
        noteError(errno);
        return false;
    }
}

void PosixSerialLine::noteError(int error) {
    // EIO: the tty was hung up under us (adapter unplugged, far end of a pty closed);
    // ENXIO/ENODEV: the device behind the open file is gone.
    if (error == EIO || error == ENXIO || error == ENODEV)
        m_lost = true;
}

void PosixSerialLine::notePoll(short revents) {
    // A hung-up terminal reads as empty (0 bytes, as an idle line does with VMIN 0), so poll
    // is the one place that tells: the far end of a pty closed, or the driver hung the
    // port up when its adapter was pulled. Neither comes back for this open file.
    if (revents & POLLHUP)
        m_lost = true;
}

bool PosixSerialLine::takeInputUnlessFresh(uint64_t now) {
    // A poll or read that found nothing a few microseconds ago stands for one now: anything
    // arriving in between is no different from a byte arriving just after the write.
    constexpr uint64_t FreshMicros = 50;
    if (m_inputSeen && now - m_inputSeenAt <= FreshMicros && now >= m_inputSeenAt)
        return !m_lost;
    if (!takeInput())
        return false;
    m_inputSeen = true;
    m_inputSeenAt = now;
    return true;
}

int PosixSerialLine::outputQueued() const {
    int queued = 0;
    if (ioctl(m_fd, TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

bool PosixSerialLine::waitForInput(uint64_t micros) {
    pollfd p{m_fd, POLLIN, 0};
    const timespec ts = MicrosToTimespec(micros);
    const int r = ppoll(&p, 1, &ts, nullptr);
    if (r > 0)
        notePoll(p.revents);
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLIN))
        return false;
    return !m_lost;
}

bool PosixSerialLine::holds(LineHolds& out) {
    out = LineHolds{};
    if (!takeInputUnlessFresh(monotonicMicros()))
        return false;
    out.xoff = m_input.held();
    if (m_flow.cts || m_flow.dsr) {
        int status = 0;
        if (ioctl(m_fd, TIOCMGET, &status) == 0) {
            out.cts = m_flow.cts && !(status & TIOCM_CTS);
            out.dsr = m_flow.dsr && !(status & TIOCM_DSR);
        } else if (errno != ENOTTY && errno != EINVAL) {
            return false; // a pty has no modem lines: nothing holds it; anything else is a fault
        }
    }
    return true;
}

bool PosixSerialLine::writeByte(uint8_t byte, uint64_t waitMicros) {
    uint64_t now = monotonicMicros();
    const uint64_t deadline = now + waitMicros;
    for (;;) {
        if (!takeInputUnlessFresh(now)) {
            SleepMicros(waitMicros);
            return false;
        }
        // The previous byte is still on its way: in the driver's queue, or on an emulated
        // line, still within its character time.
        const bool busy = m_paced ? !m_pacer.due(now) : outputQueued() > 0;
        bool full = false;
        if (!busy && !m_input.held()) {
            const ssize_t n = ::write(m_fd, &byte, 1);
            if (n == 1) {
                if (m_paced)
                    m_pacer.sent(now);
                return true;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                noteError(errno);
                SleepMicros(waitMicros);
                return false;
            }
            full = true;
        }
        if (now >= deadline)
            return false;
        const uint64_t remaining = deadline - now;
        // Held: sleep until the machine sends something (its XON, we hope). Previous byte
        // still on its way: look again when it should have left (about one character time),
        // watching the input for an XOFF meanwhile. Kernel buffer full: wait until it takes a
        // byte.
        uint64_t wait = remaining;
        if (busy)
            wait = std::min(m_paced ? m_pacer.dueAt() - now : m_charMicros, remaining);
        pollfd p{m_fd, static_cast<short>(full ? (POLLIN | POLLOUT) : POLLIN), 0};
        const timespec ts = MicrosToTimespec(wait);
        const int r = ppoll(&p, 1, &ts, nullptr);
        if (r > 0)
            notePoll(p.revents);
        if (m_lost || (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) &&
                       !(p.revents & (POLLIN | POLLOUT)))) {
            SleepMicros(deadline - std::min(deadline, monotonicMicros()));
            return false;
        }
        now = monotonicMicros();
        if (r == 0) {
            // Nothing arrived while we waited: the input needs no read before the write.
            m_inputSeen = true;
            m_inputSeenAt = now;
        } else {
            m_inputSeen = false;
        }
    }
}

ReadResult PosixSerialLine::readByte(uint64_t waitMicros) {
    return m_input.read(
        waitMicros, [this](uint64_t now) { return takeInputUnlessFresh(now); },
        [this](uint64_t micros) {
            if (!waitForInput(micros))
                return false;
            m_inputSeen = false; // what woke the poll is read on the next pass
            return true;
        });
}

void PosixSerialLine::waitForChange(uint64_t waitMicros) {
    if (!takeInput() || !waitForInput(waitMicros)) {
        SleepMicros(waitMicros); // a failing device wakes poll at once; do not spin on it
        return;
    }
    takeInput();
}

void PosixSerialLine::drainOutput(uint64_t waitMicros) {
    if (m_fd < 0)
        return;
    const uint64_t deadline = monotonicMicros() + waitMicros;
    for (;;) {
        const uint64_t now = monotonicMicros();
        if (now >= deadline)
            return;
        if (m_paced) {
            // The last byte of an emulated line is "sent" when its character time is over.
            if (m_pacer.due(now))
                return;
            SleepMicros(std::min(m_pacer.dueAt() - now, deadline - now));
            continue;
        }
        if (outputQueued() == 0)
            return;
        SleepMicros(std::min(m_charMicros, deadline - now));
    }
}

void PosixSerialLine::purge() {
    if (m_fd < 0)
        return;
    // Input only: output that is still on its way (to a network serial server, say) may be
    // the stop code the machine is waiting for.
    tcflush(m_fd, TCIFLUSH);
    m_input.clear();
}

void PosixSerialLine::dropDtr() {
    if (m_fd < 0)
        return;
    int lines = TIOCM_DTR;
    ioctl(m_fd, TIOCMBIC, &lines);
}

void PosixSerialLine::close() {
    if (m_fd < 0)
        return;
    // The kernel's close waits up to 30 s for queued output; what a held line kept back after
    // the drain deadline is not going to leave.
    if (outputQueued() > 0)
        tcflush(m_fd, TCOFLUSH);
    if (m_lowLatencySet) {
        serial_struct serial{};
        if (ioctl(m_fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = m_originalSerialFlags;
            ioctl(m_fd, TIOCSSERIAL, &serial);
        }
    }
    if (m_haveOriginal)
        tcsetattr(m_fd, TCSANOW, &m_original);
    m_timerSlack.release();
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

std::vector<LineMessage> PosixSerialLine::openWarnings() const {
    // A pseudo-terminal has no wire, so what it drops changes nothing the machine sees.
    if (m_dropped.empty() || m_fd < 0 || withoutOutputQueue(m_fd))
        return {};
    return {LineMessage{IDS_PORT_SETTINGS_DROPPED, {m_device, m_dropped}}};
}

OpenedLine OpenDefaultLine(const MachineDef& machine, int direction, const char* deviceFile) {
    return OpenDefaultLine(machine, direction, deviceFile, LineOptions{});
}

OpenedLine OpenDefaultLine(const MachineDef& machine, int direction, const char* deviceFile,
                           const LineOptions& options) {
    if (deviceFile)
        return DeviceFileLine::open(deviceFile, direction);
    PortAddress address;
    if (!MachinePortAddress(machine.line, address)) {
        // Never "tried": a mistyped network port must not end up opened as a file path.
        OpenedLine refused;
        refused.error.kind = OpenFailure::Other;
        refused.error.message = LineMessage{IDS_NET_BAD_PORT_TEXT, {}};
        return refused;
    }
    if (address.isNetwork())
        return NetworkLine::open(address, machine, direction, options);
    return PosixSerialLine::open(SerialDeviceName(machine.line), machine, direction, options);
}

LineOpener DefaultLineOpener(const LineOptions& options) {
    return [options](const MachineDef& machine, int direction, const char* deviceFile) {
        return OpenDefaultLine(machine, direction, deviceFile, options);
    };
}

} // namespace corvane
