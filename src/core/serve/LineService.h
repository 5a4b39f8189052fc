#pragma once
// One machine line served unattended, forever, one transfer at a time:
//   listen (the receive engine, with no time-out before the first character) →
//   a request comment? wait RequestDelay, then send the library program (or a reply of
//   comments) with the send engine : file the program in the inbox →
//   one journal record per transfer → listen again.
// A port that cannot be opened or is lost is tried again every 5 s; the service never ends on
// its own. Commands from outside (a broker) are taken between the engines' characters.
//
// The engines run unchanged: what goes on the wire is what a send or a receive from the
// terminal puts there with the same machine definition.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "serve/EventSink.h"
#include "serve/InboxStore.h"
#include "serve/Journal.h"
#include "serve/ProgramScan.h"
#include "serve/ServiceHost.h"
#include "serve/WatchedLine.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "transfer/Line.h"
#include "transfer/TransferState.h"

namespace corvane::serve {

constexpr uint32_t DefaultRequestDelayMillis = 3000;
constexpr uint32_t DefaultRetryMillis = 5000;
// How long one wait lasts while the line is idle (listening, or waiting to retry the port):
// long enough that an idle service costs next to no CPU, short enough that a stop or a
// command is taken at once for a person.
constexpr uint64_t IdleSliceMicros = 250'000;

struct ServeSettings {
    std::string name;   // the line's name, in log lines, records and file names
    MachineDef machine; // port already laid over it
    AppConfig config;   // Echo
    std::string inbox;
    std::string library;
    std::string journal;
    uint32_t requestDelayMillis = DefaultRequestDelayMillis;
    int scanLines = DefaultScanLines;
    uint32_t retryMillis = DefaultRetryMillis; // a port that cannot be opened is tried this often
};

// What the service needs from the world beyond the line; defaults are the real ones.
struct ServeEnvironment {
    std::function<bool()> stopRequested; // SIGTERM / SIGINT seen
    std::function<time_t()> wallClock;   // for record times and time-stamped names
    EventSink* sink = nullptr;
    CommandSource* commands = nullptr;
};

// Reasons the settings cannot be served, checked before anything is opened. Empty when fine.
std::string checkServeSettings(const ServeSettings& settings);

class LineService {
public:
    LineService(ServeSettings settings, TransferHost& host, LineOpener openLine,
                ServeEnvironment environment);

    // Creates the inbox and checks the library and the journal. Empty on success, else why.
    std::string prepare();
    // Serves until a stop is requested. Returns when the transfer in progress has ended.
    void run();

private:
    enum class Phase { Idle, Listening, Receiving, Waiting, Sending, Offline };

    struct PendingSend {
        std::string name;
        std::optional<std::string> request; // the name as the machine asked, for the record
        std::string commandId;
        std::string restart; // where the machine asked the program to restart; empty for all
    };

    uint64_t retryMicros() const { return uint64_t{m_settings.retryMillis} * 1000; }
    void pump();
    void takeCommands();
    void answer(const ServeCommand& command);
    void refuse(const std::string& reason, const std::string& commandId);
    void interruptTransfer();

    void listenOnce();
    void fileReceived(int result, bool timedOut, const std::string& temporary,
                      uint64_t startMicros);
    void answerRequest(const std::string& name, const std::string& restart);
    // The restarted program in a temporary file of the inbox, or a reply that says why not.
    std::string restartFile(const std::string& program, const std::string& where,
                            std::string& reply, std::string& reason);
    void send(const PendingSend& pending);
    int runSend(const std::string& path, bool keepComments);
    void waitMicros(uint64_t micros, uint64_t sliceMicros);
    void goOffline(const std::string& why);

    JournalRecord newRecord(const char* direction) const;
    void finishTransfer(JournalRecord record);
    void record(JournalRecord record);
    std::string replyFile(const std::string& text);
    std::string extension() const;

    ServeSettings m_settings;
    ServeEnvironment m_env;
    ServiceHost m_host;
    LineWatch m_watch;
    LineOpener m_openLine;
    InboxStore m_inbox;
    Journal m_journal;
    int32_t m_receiveTimeOut;
    TransferState m_state;
    SendQueue m_queue;

    Phase m_phase = Phase::Idle;
    bool m_stopping = false;
    bool m_abandonListen = false;
    bool m_offlineSaid = false;
    std::optional<PendingSend> m_pendingSend;
    std::optional<std::string> m_cancelId; // a Cancel for the transfer in progress
    bool m_cancelled = false;
    uint64_t m_dataStartMicros = 0;
};

} // namespace corvane::serve
