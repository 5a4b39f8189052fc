#pragma once
// The single-instance link: the running instance listens on a local socket in the user's link
// folder; a second start, or any other program of the same user, sends it requests there.
//
// A request is {kind u32, size u32, size bytes} and gets one i32 answer, all little-endian
// (see HandOverRecord.h for the kinds). Requests are answered on the GUI thread from the event
// loop, also while an engine pumps events during a transfer; whatever would start work is
// posted to the frame rather than run inside the request, so an answer never waits on a
// transfer and a transfer never runs inside another one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace corvane::gui {

struct AppState;
class FrameWindow;

// Brings the frame to the front, out of the task bar when it was minimised.
void ActivateFrame(QWidget& frame);

// What a request does to the running program, and its answer. No sockets here, so every
// accept/refuse rule can be driven directly.
class LinkRequestHandler {
public:
    LinkRequestHandler(FrameWindow& frame, AppState& state);

    int32_t handle(uint32_t kind, const std::vector<uint8_t>& data);

private:
    int32_t handOver(uint32_t kind, const std::vector<uint8_t>& data);
    int32_t command(const std::vector<uint8_t>& data);
    int32_t statusQuery(const std::vector<uint8_t>& data);
    bool frameBlocked() const;
    bool takeMachine(const std::string& path);
    bool queueOnly(const std::string& path);
    bool queueMore(const std::string& path);
    void post(int commandId);

    FrameWindow& m_frame;
    AppState& m_state;
    // A record with HandOverMoreFiles opened a list that the next requests add to.
    bool m_listOpen = false;
};

// The listening side: one reader per connection, one answer per request, in order.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    explicit InstanceServer(LinkRequestHandler& handler, QObject* parent = nullptr);
    ~InstanceServer() override;

    enum class Listen { Listening, InUse, Failed };
    // Listens on the socket `path`. A socket file that nobody answers on (left by a run that
    // crashed) is removed first; one that answers belongs to another instance: InUse.
    Listen listen(const std::string& path, std::string* error);

private:
    void acceptConnections();
    void serve(QLocalSocket* socket);

    LinkRequestHandler& m_handler;
    std::unique_ptr<QLocalServer> m_server;
};

// The asking side, for a second start and for tests.
class LinkClient {
public:
    LinkClient();
    ~LinkClient();
    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    // False when nobody listens at `path` (no instance, or a stale socket file).
    bool connectTo(const std::string& path, int timeoutMs);
    // Sends one request and waits at most `timeoutMs` for its answer; nothing on time-out or
    // when the other side closed the connection.
    std::optional<int32_t> request(uint32_t kind, const uint8_t* data, size_t size, int timeoutMs);

private:
    std::unique_ptr<QLocalSocket> m_socket;
};

} // namespace corvane::gui
