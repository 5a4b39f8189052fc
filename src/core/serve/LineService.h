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
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serve/CompareRequest.h"
#include "serve/EventSink.h"
#include "serve/FileSystem.h"
#include "serve/HeldLine.h"
#include "serve/InboxLock.h"
#include "serve/InboxStore.h"
#include "serve/Journal.h"
#include "serve/ProgramScan.h"
#include "serve/ReceivedCompare.h"
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
    // The service logs one line per transfer and its own events; verbose adds the engines'
    // own lines (and every block, as the configuration's Echo says).
    bool verbose = false;
    CompareOptions compare; // what a comparison of a received program sets aside
};

// Records the journal could not take are kept for a later try, up to this many (the oldest
// are given up first, and said so in the log).
constexpr size_t MaxUnwrittenRecords = 10000;

// What the service needs from the world beyond the line; defaults are the real ones.
struct ServeEnvironment {
    std::function<bool()> stopRequested; // SIGTERM / SIGINT seen
    std::function<time_t()> wallClock;   // for record times and time-stamped names
    EventSink* sink = nullptr;
    CommandSource* commands = nullptr;
    std::shared_ptr<FileSystem> files; // the inbox's and the journal's; the real one when null
};

// Reasons the settings cannot be served, checked before anything is opened. Empty when fine.
std::string checkServeSettings(const ServeSettings& settings);

class LineService {
public:
    LineService(ServeSettings settings, TransferHost& host, LineOpener openLine,
                ServeEnvironment environment);

    // Creates the inbox, takes its lock, checks the library and the journal, and records what
    // a run cut short left behind. Empty on success, else why.
    std::string prepare();
    // Serves until a stop is requested. Returns when the transfer in progress has ended.
    void run();

private:
    enum class Phase { Idle, Listening, Receiving, Waiting, Sending, Offline };

    struct PendingSend {
        std::string name;
        std::optional<std::string> request; // the name as the machine asked, for the record
        std::string commandId;
        std::string requestFile; // the received request, kept in failed/ when refused
        std::string restart;     // where the machine asked the program to restart; empty for all
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
    void answerRequest(const std::string& name, const std::string& restart,
                       const std::string& requestFile);
    // The restarted program in a temporary file of the inbox, or a reply that says why not.
    // `fd` is the library file as opened, `program` its path.
    std::string restartFile(int fd, const std::string& program, const std::string& where,
                            std::string& reply, std::string& reason);

    // Compare after receive (LineServiceCompare.cpp).
    struct PendingReply {
        JournalRecord record;
        std::string text;
    };
    // Answers "(CMP=NAME)": compares, keeps what differs, replies. When the library has no
    // NAME to compare with: the reply still owed once the program has been filed.
    std::optional<PendingReply> answerCompare(const std::string& temporary,
                                              const CompareRequest& request, uint64_t millis);
    ReceivedComparison compareWithEarlier(const std::string& temporary, const std::string& name);
    // The comparison into the record; the diff beside the stored program, or a stale one
    // moved away.
    void leaveComparison(JournalRecord& rec, const ReceivedComparison& comparison,
                         const InboxStore& store, const std::string& storedPath);
    // A reply of comments after the request delay; the record gets how it went.
    void replyToControl(JournalRecord rec, const std::string& text);
    void send(const PendingSend& pending);
    int runSend(const std::string& path, bool keepComments);
    void waitMicros(uint64_t micros, uint64_t sliceMicros);
    void goOffline(const std::string& why);
    // The port is open, or its first open failed and is retried: told to the sink once.
    void markStarted();

    JournalRecord newRecord(const char* direction) const;
    void finishTransfer(JournalRecord record);
    void record(JournalRecord record);
    void writeUnwritten();
    void recordLeftovers();
    std::string stampedName(const std::string& tag = {}) const;
    std::string extension() const;

    ServeSettings m_settings;
    ServeEnvironment m_env;
    ServiceHost m_host;
    LineWatch m_watch;
    HeldLine m_port; // before m_openLine, which leases it
    LineOpener m_openLine;
    InboxStore m_inbox;
    InboxLock m_lock;
    Journal m_journal;
    std::deque<JournalRecord> m_unwritten; // taken by no journal yet, oldest first
    uint64_t m_nextJournalTry = 0;
    size_t m_unwrittenDropped = 0;
    bool m_journalFailing = false;
    std::string m_lastPrev; // the chain link of the last record the journal took
    int32_t m_receiveTimeOut;
    TransferState m_state;
    SendQueue m_queue;

    Phase m_phase = Phase::Idle;
    bool m_stopping = false;
    bool m_abandonListen = false;
    bool m_offlineSaid = false;
    bool m_started = false;
    uint64_t m_offlineSaidMicros = 0; // when the port's absence was last told in the log
    std::optional<PendingSend> m_pendingSend;
    std::optional<std::string> m_cancelId; // a Cancel for the transfer in progress
    bool m_cancelled = false;
    uint64_t m_dataStartMicros = 0;
};

} // namespace corvane::serve
