#include "serve/SystemdNotifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace corvane::serve {

namespace {

// Progress within a transfer is worth a line in `systemctl status` now and then, not a
// datagram per character.
constexpr uint64_t ProgressEveryMicros = 1'000'000;

uint64_t parseMicros(const char* text) {
    if (text == nullptr || *text == '\0')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' ? value : 0;
}

} // namespace

SystemdEnvironment systemdEnvironment(const std::function<const char*(const char*)>& get,
                                      pid_t self) {
    SystemdEnvironment environment;
    if (const char* socket = get("NOTIFY_SOCKET"))
        environment.notifySocket = socket;
    environment.watchdogMicros = parseMicros(get("WATCHDOG_USEC"));
    const char* pid = get("WATCHDOG_PID");
    if (pid != nullptr && *pid != '\0' && parseMicros(pid) != static_cast<uint64_t>(self))
        environment.watchdogMicros = 0;
    return environment;
}

std::string statusText(const LineStatus& status) {
    std::string text = activityName(status.activity);
    switch (status.activity) {
    case LineActivity::Receiving:
    case LineActivity::Sending:
    case LineActivity::Held:
        if (!status.file.empty())
            text += " " + status.file;
        if (status.total > 0)
            text += " (" + std::to_string(status.position) + " of " + std::to_string(status.total) +
                    " bytes)";
        else if (status.position > 0)
            text += " (" + std::to_string(status.position) + " bytes)";
        break;
    case LineActivity::Waiting:
        if (!status.file.empty())
            text += " to send " + status.file;
        break;
    case LineActivity::Offline:
    case LineActivity::Error:
        if (!status.reason.empty())
            text += ": " + status.reason;
        break;
    case LineActivity::Idle:
        break;
    }
    return text;
}

SystemdNotifier::SystemdNotifier(SystemdEnvironment environment,
                                 std::function<uint64_t()> nowMicros, EventSink* next)
    : m_now(std::move(nowMicros)), m_next(next), m_watchdogMicros(environment.watchdogMicros) {
    const std::string& path = environment.notifySocket;
    if (path.empty())
        return;
    // A path, or an abstract name written with '@' for its leading NUL.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if ((path[0] != '/' && path[0] != '@') || path.size() >= sizeof address.sun_path) {
        m_error = "NOTIFY_SOCKET '" + path + "' is not a socket this program can reach";
        return;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    if (path[0] == '@')
        address.sun_path[0] = '\0';
    m_address.assign(reinterpret_cast<const char*>(&address),
                     offsetof(sockaddr_un, sun_path) + path.size());
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        m_error = std::string("NOTIFY_SOCKET: ") + std::strerror(errno);
}

SystemdNotifier::~SystemdNotifier() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SystemdNotifier::send(const std::string& message) {
    if (m_fd < 0)
        return false;
    // Non-blocking: a manager that is slow to read costs a notice, never the line.
    return ::sendto(m_fd, message.data(), message.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(m_address.data()),
                    static_cast<socklen_t>(m_address.size())) ==
           static_cast<ssize_t>(message.size());
}

void SystemdNotifier::statusChanged(const LineStatus& status) {
    // A new state goes out at once; progress within the same one at most once a second.
    const bool changed = !m_everSent || status.activity != m_sentActivity ||
                         status.file != m_sentFile || status.reason != m_sentReason;
    m_pending = status;
    if (changed)
        sendStatus(m_now());
    if (m_next)
        m_next->statusChanged(status);
}

void SystemdNotifier::sendStatus(uint64_t now) {
    if (!m_pending)
        return;
    if (send("STATUS=" + statusText(*m_pending))) {
        m_everSent = true;
        m_sentActivity = m_pending->activity;
        m_sentFile = m_pending->file;
        m_sentReason = m_pending->reason;
        m_lastStatus = now;
    }
    m_pending.reset();
}

void SystemdNotifier::transferRecorded(const JournalRecord& record) {
    if (m_next)
        m_next->transferRecorded(record);
}

void SystemdNotifier::started() {
    if (!m_ready) {
        m_ready = true;
        send("READY=1");
    }
    if (m_next)
        m_next->started();
}

void SystemdNotifier::service() {
    const uint64_t now = m_now();
    // Half the manager's limit, as it asks: one late turn must not be taken for a hang.
    if (m_watchdogMicros > 0 && (!m_pinged || now - m_lastPing >= m_watchdogMicros / 2)) {
        if (send("WATCHDOG=1")) {
            m_pinged = true;
            m_lastPing = now;
        }
    }
    if (m_pending && now - m_lastStatus >= ProgressEveryMicros)
        sendStatus(now);
    if (m_next)
        m_next->service();
}

void SystemdNotifier::stopping() {
    send("STOPPING=1\nSTATUS=stopping");
}

} // namespace corvane::serve
