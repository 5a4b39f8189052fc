#include "app/InstanceLink.h"

#include <cstdio>
#include <filesystem>

#include <QApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>

#include "app/CommandIds.h"
#include "app/FrameWindow.h"
#include "app/HandOverRecord.h"
#include "app/LinkFolder.h"
#include "app/MachineFileLoad.h"
#include "common/AppState.h"
#include "support/PathParts.h"
#include "support/StringIds.h"
#include "transfer/TransferHost.h"

namespace corvane::gui {

namespace {

// Status queries, by wParam.
constexpr uint32_t queryIdle = 0;
constexpr uint32_t queryAlive = 1;
constexpr uint32_t queryInterrupt = 2;
constexpr uint32_t queryClearLog = 3;

uint32_t readU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Both the command and the status query carry exactly one u32.
std::optional<uint32_t> singleWord(const std::vector<uint8_t>& data) {
    if (data.size() != 4)
        return std::nullopt;
    return readU32(data.data());
}

QByteArray answerBytes(int32_t answer) {
    const auto value = static_cast<uint32_t>(answer);
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

} // namespace

void ActivateFrame(QWidget& frame) {
    // Clearing only the minimised state brings a maximised window back maximised.
    if (frame.isMinimized())
        frame.setWindowState(frame.windowState() & ~Qt::WindowMinimized);
    frame.show();
    frame.raise();
    frame.activateWindow();
}

LinkRequestHandler::LinkRequestHandler(FrameWindow& frame, AppState& state)
    : m_frame(frame), m_state(state) {}

int32_t LinkRequestHandler::handle(uint32_t kind, const std::vector<uint8_t>& data) {
    switch (kind) {
    case LinkKindHandOverPath:
    case LinkKindHandOverRecord:
        return handOver(kind, data);
    case LinkKindHandOverMore: {
        // Only into the list a record opened, and only while nothing else holds the queue.
        if (!m_listOpen || frameBlocked())
            return 0;
        const std::optional<HandOverRequest> request =
            DecodeHandOver(kind, data.data(), data.size());
        return request && queueMore(request->filePath) ? 1 : 0;
    }
    case LinkKindCommand:
        return command(data);
    case LinkKindStatusQuery:
        return statusQuery(data);
    default:
        return 0;
    }
}

// A modal dialog works on the state a hand-over would replace, and the engines read the
// queue and the machine for as long as a command runs them.
bool LinkRequestHandler::frameBlocked() const {
    return QApplication::activeModalWidget() != nullptr || !m_frame.isEnabled() ||
           m_state.transfer.TransferRunning || m_state.transfer.TransferBusy;
}

int32_t LinkRequestHandler::handOver(uint32_t kind, const std::vector<uint8_t>& data) {
    m_listOpen = false;
    if (data.empty())
        return 0;
    if (frameBlocked()) {
        ActivateFrame(m_frame);
        return 0;
    }
    const std::optional<HandOverRequest> request = DecodeHandOver(kind, data.data(), data.size());
    if (!request)
        return 0;

    if (kind == LinkKindHandOverPath) {
        if (queueOnly(request->filePath))
            post(CmdQueueSend);
        return 1;
    }

    ActivateFrame(m_frame);
    const bool list = (request->flags & HandOverMoreFiles) != 0;
    // A list starts empty, so that nothing of an earlier send goes out with it.
    if (list)
        m_state.queue.Count = 0;
    if (request->flags & HandOverHasNotify)
        m_state.notifyWindow = request->notifyWindow;
    // Files meant for a machine that could not be read are not sent with another one.
    if ((request->flags & HandOverHasMachine) && !takeMachine(request->machinePath))
        return 0;
    if (list) {
        // The first file and the ones that follow are sent together on the command 5000; the
        // answer 1 tells the sender that the list is open.
        if (request->flags & HandOverHasFile)
            queueOnly(request->filePath);
        m_listOpen = true;
        return 1;
    }
    if ((request->flags & HandOverHasFile) && queueOnly(request->filePath))
        post(CmdQueueSend);
    return 0;
}

// A handed-over machine is for this run only, like one named by "MDF=": McnFile keeps naming
// the configured machine, and the definition is not written over that file at exit.
// It is read as a whole machine, like any machine file chosen in the window; one that cannot
// be read is told once the request has been answered, and the machine in use stays.
bool LinkRequestHandler::takeMachine(const std::string& path) {
    std::string reason;
    if (!ReadMachineFile(m_state, path, &reason)) {
        FrameWindow* frame = &m_frame;
        const AppState* state = &m_state;
        QTimer::singleShot(0, frame, [frame, state, path, reason] {
            TellMachineFileNotRead(*state, frame, path, reason, IDS_FILES_NOT_SENT_WITH_MACHINE);
        });
        return false;
    }
    if (!m_state.flags.MachineFromCommandLine) {
        // The machine file chosen up to now is the one to keep at exit.
        std::snprintf(m_state.SavedMcnFile, sizeof m_state.SavedMcnFile, "%s",
                      m_state.config.McnFile);
        m_state.flags.MachineFromCommandLine = true;
    }
    return true;
}

bool LinkRequestHandler::queueOnly(const std::string& path) {
    if (path.empty() || path.size() >= sizeof(SendQueueEntry::Name) ||
        WexPathExists(1, path.c_str()) == 0)
        return false;
    SendQueue& queue = m_state.queue;
    queue.Entries[0] = SendQueueEntry{};
    std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", path.c_str());
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    queue.Entries[0].Size = error ? 0 : static_cast<uint32_t>(size);
    queue.Count = 1;
    return true;
}

// A file of an open list goes behind the others (one that is gone is left out, as the first
// file would be).
bool LinkRequestHandler::queueMore(const std::string& path) {
    SendQueue& queue = m_state.queue;
    if (path.empty() || path.size() >= sizeof(SendQueueEntry::Name) ||
        WexPathExists(1, path.c_str()) == 0 || queue.Count < 0 || queue.Count >= SendQueueCapacity)
        return false;
    SendQueueEntry& entry = queue.Entries[queue.Count];
    entry = SendQueueEntry{};
    std::snprintf(entry.Name, sizeof entry.Name, "%s", path.c_str());
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    entry.Size = error ? 0 : static_cast<uint32_t>(size);
    ++queue.Count;
    return true;
}

int32_t LinkRequestHandler::command(const std::vector<uint8_t>& data) {
    m_listOpen = false;
    const std::optional<uint32_t> id = singleWord(data);
    if (!id || (*id != CmdQueueSend && *id != CmdClose))
        return 0;
    post(static_cast<int>(*id));
    return 1;
}

int32_t LinkRequestHandler::statusQuery(const std::vector<uint8_t>& data) {
    const std::optional<uint32_t> query = singleWord(data);
    if (!query)
        return 0;
    switch (*query) {
    case queryIdle:
        return m_state.transfer.TransferRunning ? 0 : 1;
    case queryAlive:
        return 1;
    case queryInterrupt:
        if (m_state.transfer.TransferRunning)
            post(CmdInterrupt);
        return 1;
    case queryClearLog:
        m_frame.logPrint(LogText, "\f");
        return 1;
    default:
        return 0;
    }
}

// Posted, not run: the request is answered first, and a send started here would otherwise
// run inside the request, possibly inside an engine's own event pumping.
void LinkRequestHandler::post(int commandId) {
    FrameWindow* frame = &m_frame;
    QTimer::singleShot(0, frame, [frame, commandId] { frame->dispatchCommand(commandId); });
}

InstanceServer::InstanceServer(LinkRequestHandler& handler, QObject* parent)
    : QObject(parent), m_handler(handler), m_server(std::make_unique<QLocalServer>()) {
    connect(m_server.get(), &QLocalServer::newConnection, this, &InstanceServer::acceptConnections);
}

InstanceServer::~InstanceServer() {
    m_server->close(); // removes the socket file
}

InstanceServer::Listen InstanceServer::listen(const std::string& path, std::string* error) {
    if (!FitsSocketAddress(path)) {
        if (error != nullptr)
            *error = path + ": too long for a local socket";
        return Listen::Failed;
    }
    const QString name = QString::fromLocal8Bit(path.c_str());
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return Listen::InUse;
        }
    }
    // Nobody answered: whatever socket file is there was left behind.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        if (error != nullptr)
            *error = path + ": " + m_server->errorString().toStdString();
        return Listen::Failed;
    }
    return Listen::Listening;
}

void InstanceServer::acceptConnections() {
    while (QLocalSocket* socket = m_server->nextPendingConnection())
        serve(socket);
}

void InstanceServer::serve(QLocalSocket* socket) {
    socket->setParent(this);
    auto reader = std::make_shared<LinkRequestReader>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] {
        const QByteArray bytes = socket->readAll();
        reader->feed(reinterpret_cast<const uint8_t*>(bytes.constData()),
                     static_cast<size_t>(bytes.size()));
        while (std::optional<LinkRequest> request = reader->next())
            socket->write(answerBytes(m_handler.handle(request->kind, request->data)));
        if (reader->failed()) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->flush();
    });
}

LinkClient::LinkClient() : m_socket(std::make_unique<QLocalSocket>()) {}

LinkClient::~LinkClient() = default;

bool LinkClient::connectTo(const std::string& path, int timeoutMs) {
    if (!FitsSocketAddress(path))
        return false;
    m_socket->connectToServer(QString::fromLocal8Bit(path.c_str()));
    return m_socket->waitForConnected(timeoutMs);
}

std::optional<int32_t> LinkClient::request(uint32_t kind, const uint8_t* data, size_t size,
                                           int timeoutMs) {
    if (m_socket->state() != QLocalSocket::ConnectedState)
        return std::nullopt;
    const std::vector<uint8_t> frame = EncodeLinkRequest(kind, data, size);
    m_socket->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
    QElapsedTimer clock;
    clock.start();
    while (m_socket->bytesToWrite() > 0) {
        const int left = timeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || !m_socket->waitForBytesWritten(left))
            return std::nullopt;
    }
    while (m_socket->bytesAvailable() < 4) {
        const int left = timeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || !m_socket->waitForReadyRead(left))
            return std::nullopt;
    }
    QByteArray answer = m_socket->read(4);
    return static_cast<int32_t>(readU32(reinterpret_cast<const uint8_t*>(answer.constData())));
}

} // namespace corvane::gui
