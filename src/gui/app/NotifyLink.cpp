#include "app/NotifyLink.h"

#include <array>

#include <QLocalSocket>

#include "app/LinkFolder.h"

namespace corvane::gui {

namespace {

constexpr uint32_t noticeMessage = 0x5FE;
// A caller that stops reading must not make us hoard its notices without end.
constexpr qint64 pendingLimit = 64 * 1024;
// At the end the last notices are given this long to leave before the socket goes.
constexpr int farewellMs = 250;

void putU32(char* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
}

} // namespace

NotifyLink::NotifyLink() = default;

NotifyLink::~NotifyLink() {
    if (m_socket && m_socket->state() == QLocalSocket::ConnectedState &&
        m_socket->bytesToWrite() > 0)
        m_socket->waitForBytesWritten(farewellMs);
}

bool NotifyLink::isListening(const std::string& folder, uint32_t id, int timeoutMs) {
    if (id == 0 || folder.empty())
        return false;
    const std::string path = NotifySocketPath(folder, id);
    if (!FitsSocketAddress(path))
        return false;
    QLocalSocket probe;
    probe.connectToServer(QString::fromLocal8Bit(path.c_str()), QIODevice::WriteOnly);
    const bool listening = probe.waitForConnected(timeoutMs);
    probe.abort();
    return listening;
}

bool NotifyLink::connectTo(const std::string& path) {
    m_socket = std::make_unique<QLocalSocket>();
    m_path = path;
    if (!FitsSocketAddress(path))
        return false;
    // A local connect completes (or fails) at once; one still pending is given no time here,
    // the notice is dropped and the next one finds the connection made.
    m_socket->connectToServer(QString::fromLocal8Bit(path.c_str()), QIODevice::WriteOnly);
    return m_socket->state() == QLocalSocket::ConnectedState;
}

void NotifyLink::send(const std::string& folder, uint32_t id, uint32_t wParam, uint32_t lParam) {
    if (id == 0 || folder.empty())
        return;
    const std::string path = NotifySocketPath(folder, id);
    const bool connected =
        m_socket && m_path == path && m_socket->state() == QLocalSocket::ConnectedState;
    if (!connected) {
        if (m_socket && m_path == path && m_socket->state() == QLocalSocket::ConnectingState)
            return;
        if (!connectTo(path))
            return;
    }
    if (m_socket->bytesToWrite() > pendingLimit)
        return;
    std::array<char, 12> notice{};
    putU32(notice.data(), noticeMessage);
    putU32(notice.data() + 4, wParam);
    putU32(notice.data() + 8, lParam);
    if (m_socket->write(notice.data(), notice.size()) != static_cast<qint64>(notice.size()))
        return;
    m_socket->flush(); // as much as the socket takes now; the rest leaves from the event loop
}

} // namespace corvane::gui
