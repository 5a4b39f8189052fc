#pragma once
// Progress notices to the program that started us with "NOTIFY=<id>". That program listens
// on the local socket corvane-notify-<id> in the link folder; each notice is three
// little-endian 32-bit words {0x5FE, wParam, lParam}.
//
// A caller may go away at any moment, in the middle of a send. Nothing here ever waits on
// it: writes are buffered and flushed without blocking, a notice that cannot go out is
// dropped, and the send goes on as if nobody had asked.

#include <cstdint>
#include <memory>
#include <string>

class QLocalSocket;

namespace corvane::gui {

class NotifyLink {
public:
    NotifyLink();
    ~NotifyLink();
    NotifyLink(const NotifyLink&) = delete;
    NotifyLink& operator=(const NotifyLink&) = delete;

    // Whether a caller listens under `id` in `folder` now, i.e. accepts a connection ("is a
    // window"). The probe connection is closed again at once.
    static bool isListening(const std::string& folder, uint32_t id, int timeoutMs = 1000);

    // Sends one notice to caller `id`; nothing for id 0 or an empty folder. The connection is
    // kept for the next notice and made again when the caller or the id changed.
    void send(const std::string& folder, uint32_t id, uint32_t wParam, uint32_t lParam);

private:
    bool connectTo(const std::string& path);

    std::unique_ptr<QLocalSocket> m_socket;
    std::string m_path;
};

} // namespace corvane::gui
