#pragma once
// Tells systemd how a served line is doing, over the datagram socket it names in
// $NOTIFY_SOCKET (the sd_notify protocol: "NAME=value" lines in one datagram; no library
// needed):
//  * READY=1 once the line's port is open, or its first open failed and it is being retried:
//    a unit of Type=notify is started then, not when the process merely exists;
//  * STATUS= the line's state ("idle", "receiving O0012.NC", "offline: REASON"), as
//    `systemctl status` shows it;
//  * WATCHDOG=1 from the service's own turns, so a line whose loop stops going round (a log
//    that takes nothing more, a call that never returns) stops the pings and is restarted.
// It stands in front of the line's other sink (the broker's), which gets every call as well.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "serve/EventSink.h"

namespace corvane::serve {

struct SystemdEnvironment {
    std::string notifySocket;    // $NOTIFY_SOCKET; empty when not started by systemd
    uint64_t watchdogMicros = 0; // $WATCHDOG_USEC when it is meant for this process; 0: none
};

// Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID through `get` (getenv in the program).
// A WATCHDOG_PID naming another process means the watchdog is that one's, not ours.
SystemdEnvironment systemdEnvironment(const std::function<const char*(const char*)>& get,
                                      pid_t self);

// The text STATUS= carries for `status`.
std::string statusText(const LineStatus& status);

class SystemdNotifier : public EventSink {
public:
    // `nowMicros` is a monotonic clock; `next` may be null.
    SystemdNotifier(SystemdEnvironment environment, std::function<uint64_t()> nowMicros,
                    EventSink* next);
    ~SystemdNotifier() override;
    SystemdNotifier(const SystemdNotifier&) = delete;
    SystemdNotifier& operator=(const SystemdNotifier&) = delete;

    // Why the socket cannot be used (a path too long, no socket); empty when fine or unused.
    const std::string& error() const { return m_error; }

    void statusChanged(const LineStatus& status) override;
    void transferRecorded(const JournalRecord& record) override;
    void service() override;
    void started() override;
    // STOPPING=1: the line ends on a stop request.
    void stopping();

private:
    bool send(const std::string& message);
    void sendStatus(uint64_t now);

    std::function<uint64_t()> m_now;
    EventSink* m_next;
    int m_fd = -1;
    std::string m_address; // sockaddr_un bytes, the abstract name's leading NUL included
    uint64_t m_watchdogMicros;
    uint64_t m_lastPing = 0;
    bool m_pinged = false;
    bool m_ready = false;
    std::optional<LineStatus> m_pending; // a state not yet told
    bool m_everSent = false;
    LineActivity m_sentActivity = LineActivity::Idle;
    std::string m_sentFile;
    std::string m_sentReason;
    uint64_t m_lastStatus = 0;
    std::string m_error;
};

} // namespace corvane::serve
