#include "serve/LineService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "restart/RestartPlanner.h"
#include "serve/CompareRequest.h"
#include "serve/Library.h"
#include "serve/ReceiveVerdict.h"
#include "support/Digest.h"
#include "transfer/LineSettings.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/SendEngine.h"
#include "transfer/TransferContext.h"

namespace corvane::serve {
namespace {

constexpr uint64_t SliceMicros = 20'000;
constexpr int32_t OutCodeEia = 1;
constexpr uint64_t OfflineReminderMicros = 3600ull * 1'000'000;
// Enough of a received program to find its number or request in the first lines.
constexpr size_t HeadBytes = 64 * 1024;

uint64_t fileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::string readHead(const std::string& path) {
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        text.resize(HeadBytes);
        text.resize(std::fread(text.data(), 1, text.size(), file));
        std::fclose(file);
    }
    return text;
}

// The last bytes of a received program, where its end is punched.
std::string readTail(const std::string& path) {
    constexpr long TailBytes = 4096;
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        if (std::fseek(file, -TailBytes, SEEK_END) != 0)
            std::rewind(file);
        text.resize(TailBytes);
        text.resize(std::fread(text.data(), 1, text.size(), file));
        std::fclose(file);
    }
    return text;
}

// A message-box text (a title, an empty line, the device, the reason) as one log line.
std::string oneLine(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            out += (out.empty() ? "" : " ") + text.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string checkServeSettings(const ServeSettings& settings) {
    if (!isLibraryName(settings.name))
        return "the line's name '" + settings.name +
               "' may hold only letters, digits, '_', '.' and '-' (it names files)";
    if (settings.inbox.empty())
        return "no inbox folder given";
    if (settings.library.empty())
        return "no library folder given";
    if (settings.scanLines < 1)
        return "ScanLines must be 1 or more";
    if (settings.machine.config.OutofFile != 0)
        return "the machine's device is a file; a served line needs a port";
    // The receive would then end only when interrupted, so every program would be filed as
    // failed; better to say so at the start than to discover it in failed/.
    if (settings.machine.config.PtrEof == 0 && settings.machine.config.PtrTimeOut <= 0)
        return "the machine's receive never ends on its own: set an end check (PtrEof) or a "
               "receive time-out (PtrTimeOut)";
    return {};
}

LineService::LineService(ServeSettings settings, TransferHost& host, LineOpener openLine,
                         ServeEnvironment environment)
    : m_settings(std::move(settings)), m_env(std::move(environment)),
      m_host(host, m_settings.name, m_env.sink), m_port(std::move(openLine)),
      m_openLine(watchedOpener(m_port.opener(), m_watch)),
      m_inbox(m_settings.inbox, m_env.files ? m_env.files : posixFileSystem()),
      m_journal(m_settings.journal, m_env.files ? m_env.files : posixFileSystem()),
      m_receiveTimeOut(m_settings.machine.config.PtrTimeOut) {
    m_watch.listenSliceMicros = IdleSliceMicros;
    m_watch.eia = m_settings.machine.line.OutCode == OutCodeEia;
    // A line being retried stays offline until its port is really there again: a state that
    // went idle at every attempt would flip idle/offline for as long as the port is away.
    m_watch.onInUse = [this] {
        if (m_offlineSaid) {
            m_offlineSaid = false;
            m_host.setQuietRepeats(false);
            m_host.log("the port is open again");
        }
        if (m_phase == Phase::Listening && m_host.activity() != LineActivity::Idle)
            m_host.setActivity(LineActivity::Idle);
        markStarted();
    };
    if (!m_env.wallClock)
        m_env.wallClock = [] { return std::time(nullptr); };
    m_host.setOnPump([this] { pump(); });
    m_host.setEngineLog(m_settings.verbose);
    // Every received block in the log is a debugging aid, not a record: a long program would
    // write hundreds of thousands of lines into the system's log.
    if (!m_settings.verbose)
        m_settings.config.Echo = 0;
    // The listen waits for the machine without end; once the first byte is in, the machine's
    // own time-out applies again to the rest of the program.
    m_watch.onFirstByte = [this] {
        if (m_phase != Phase::Listening)
            return;
        m_settings.machine.config.PtrTimeOut = m_receiveTimeOut;
        m_phase = Phase::Receiving;
        m_dataStartMicros = m_host.nowMicros();
        m_host.setActivity(LineActivity::Receiving);
    };
}

std::string LineService::prepare() {
    if (std::string error = checkServeSettings(m_settings); !error.empty())
        return error;
    if (!isFolder(m_settings.library) || access(m_settings.library.c_str(), R_OK | X_OK) != 0)
        return m_settings.library + ": the library folder does not exist or cannot be read";
    if (std::string error = m_inbox.prepare(); !error.empty())
        return "inbox: " + error;
    // Before anything in the inbox is touched: another service's receive in progress is not
    // a leftover.
    if (std::string error = m_lock.acquire(m_settings.inbox); !error.empty())
        return "inbox: " + error;
    if (std::string error = m_journal.prepare(); !error.empty())
        return "journal: " + error;
    std::string repairError;
    const std::string torn = m_journal.repair(&repairError);
    if (!torn.empty())
        m_host.log("journal: a last line without its end (a write cut short) was cut off: " + torn);
    if (!repairError.empty())
        m_host.showError("journal: " + repairError);
    recordLeftovers();
    return {};
}

void LineService::recordLeftovers() {
    const Leftovers found = m_inbox.recoverLeftovers(stampedName());
    for (const std::string& path : found.receives) {
        JournalRecord rec = newRecord("receive");
        rec.file = path;
        rec.bytes = fileSize(path);
        rec.sha256 = sha256OfFile(path);
        rec.result = TransferResult::Failed;
        rec.message = "an unfinished receive of an earlier run, found at start";
        record(std::move(rec));
    }
    // A send cut short took nothing from anyone: its copy goes, its record stays.
    for (const std::string& label : found.sends) {
        JournalRecord rec = newRecord("send");
        rec.result = TransferResult::Interrupted;
        rec.message = "an unfinished send of an earlier run" +
                      (label.empty() ? std::string() : " (" + label + ")") + ", found at start";
        record(std::move(rec));
    }
    for (const std::string& error : found.errors)
        m_host.showError("inbox: an unfinished receive of an earlier run stays hidden: " + error);
}

void LineService::run() {
    m_host.log("serving " + SerialDeviceName(m_settings.machine.line) + "; inbox " +
               m_settings.inbox + ", library " + m_settings.library + ", journal " +
               m_settings.journal);
    while (!m_stopping) {
        if (m_pendingSend) {
            const PendingSend pending = *m_pendingSend;
            m_pendingSend.reset();
            send(pending);
            continue;
        }
        listenOnce();
    }
    // A send taken just before the stop never went out; its sender still gets an answer.
    if (m_pendingSend) {
        JournalRecord rec = newRecord("send");
        rec.request = m_pendingSend->name;
        rec.commandId = m_pendingSend->commandId;
        rec.result = TransferResult::Interrupted;
        rec.message = "stopped before it began";
        m_pendingSend.reset();
        record(std::move(rec));
    }
    m_port.release();
    m_host.setActivity(LineActivity::Offline, {}, "stopped");
    writeUnwritten();
    // The last place left for what the journal never took: the service's own log.
    for (const JournalRecord& rec : m_unwritten)
        m_host.log("journal: not written: " + toJson(rec));
    m_host.log("stopped");
}

// ---- the service's turn, between the engines' characters and in every wait slice ----

void LineService::pump() {
    if (!m_stopping && m_env.stopRequested && m_env.stopRequested())
        m_stopping = true;
    takeCommands();
    if (!m_unwritten.empty() && m_host.nowMicros() >= m_nextJournalTry)
        writeUnwritten();
    const bool running =
        m_phase == Phase::Listening || m_phase == Phase::Receiving || m_phase == Phase::Sending;
    // Set again at every turn: opening the port clears the request, and an engine must see it
    // however early it came.
    if (running && (m_stopping || m_cancelled || m_abandonListen) && m_state.InterruptRequest == 0)
        m_state.InterruptRequest = 1;
    if (m_phase == Phase::Receiving)
        m_host.setPosition(m_watch.bytesRead);
}

void LineService::takeCommands() {
    if (!m_env.commands)
        return;
    while (auto refusal = m_env.commands->takeRefusal())
        refuse(refusal->reason, refusal->id);
    while (auto command = m_env.commands->takeCommand())
        answer(*command);
}

void LineService::answer(const ServeCommand& command) {
    if (command.kind == ServeCommand::Kind::Cancel) {
        const bool active =
            m_phase == Phase::Receiving || m_phase == Phase::Sending || m_phase == Phase::Waiting;
        if (!active || m_cancelled) {
            refuse("nothing to cancel", command.id);
            return;
        }
        m_cancelled = true;
        m_cancelId = command.id;
        return;
    }
    // A send may take the line only while nothing has come from the machine: a listen that
    // has not received a byte is given up cleanly, a port being retried is tried for the send.
    const bool free = (m_phase == Phase::Listening && !m_watch.firstByte) ||
                      m_phase == Phase::Offline || m_phase == Phase::Idle;
    if (!free || m_pendingSend || m_stopping) {
        JournalRecord busy = newRecord("send");
        busy.request = command.name;
        busy.result = TransferResult::Refused;
        busy.message = m_stopping ? "the line's service is stopping" : "busy";
        busy.commandId = command.id;
        record(std::move(busy));
        return;
    }
    m_pendingSend = PendingSend{command.name, std::nullopt, command.id, {}, {}};
    if (m_phase == Phase::Listening)
        m_abandonListen = true;
}

void LineService::refuse(const std::string& reason, const std::string& commandId) {
    JournalRecord refused = newRecord("command");
    refused.result = TransferResult::Refused;
    refused.message = reason;
    refused.commandId = commandId;
    record(std::move(refused));
}

// ---- receiving ----

void LineService::listenOnce() {
    std::string error;
    const std::string temporary = m_inbox.createTemporary(&error);
    if (temporary.empty()) {
        m_host.showError("inbox: " + error);
        m_host.setActivity(LineActivity::Error, {}, "inbox: " + error);
        markStarted();
        waitMicros(retryMicros(), IdleSliceMicros);
        return;
    }
    m_watch.reset();
    m_watch.listening = true;
    m_abandonListen = false;
    m_settings.machine.config.PtrTimeOut = 0;
    m_phase = Phase::Listening;
    if (!m_offlineSaid)
        m_host.setActivity(LineActivity::Idle);

    TransferContext ctx{
        m_settings.machine, m_settings.config, m_queue, m_state, m_host, m_openLine, 0, nullptr};
    m_state.InterruptRequest = 0;
    m_state.TransferBusy = true;
    ReceiveOutcome outcome;
    m_host.hidePath(temporary);
    const int result = ReceiveNcData(ctx, temporary.c_str(), &outcome);
    m_host.hidePath({});
    m_state.TransferBusy = false;
    m_watch.listening = false;
    m_settings.machine.config.PtrTimeOut = m_receiveTimeOut;
    m_phase = Phase::Idle;
    m_abandonListen = false;

    if (result == ReceivePortNotOpened) {
        unlink(temporary.c_str());
        goOffline(m_host.lastError());
        return;
    }
    if (!m_watch.firstByte) {
        // Nothing came: a listen given up for a send or a stop, or a line that went away.
        unlink(temporary.c_str());
        if (result == ReceiveTargetNotCreated) {
            m_host.setActivity(LineActivity::Error, {}, oneLine(m_host.lastError()));
            markStarted();
            waitMicros(retryMicros(), IdleSliceMicros);
        } else if (m_watch.lost) {
            goOffline("the line was lost");
        }
        return;
    }
    fileReceived(result, outcome.timedOut(), temporary, m_dataStartMicros);
    if (m_watch.lost)
        goOffline("the line was lost");
}

void LineService::fileReceived(int result, bool timedOut, const std::string& temporary,
                               uint64_t startMicros) {
    const uint64_t millis = (m_host.nowMicros() - startMicros) / 1000;
    // Without an end check the machine's silence is the only way a program ends, so there a
    // time-out is the normal end -- but only of a program whose closing "%" arrived: a machine
    // that stops mid-way must not file a partial program under the program's name.
    const bool endCheck = m_settings.machine.config.PtrEof != 0;
    const bool endedWell = result == ReceiveDone && !m_watch.lost &&
                           (!timedOut || (!endCheck && endsAsProgram(readTail(temporary))));

    // A receive the machine ended before any program came -- a line feed or an end code
    // after the last program, a listen given up for a send after a stray DC code -- is no
    // transfer: a record or a file in failed/ for it would only hide the real ones.
    if (fileSize(temporary) <= HeadBytes && holdsNoProgram(readHead(temporary))) {
        unlink(temporary.c_str());
        // A Cancel that cut it short is still answered, and must not stay set: it would cut
        // every listen after it.
        if (m_cancelled) {
            JournalRecord rec = newRecord("command");
            rec.result = TransferResult::Interrupted;
            rec.message = "cancelled the receive; nothing but leader or line ends had come, "
                          "nothing filed";
            finishTransfer(std::move(rec));
            return;
        }
        if (!m_pendingSend || m_settings.verbose)
            m_host.log("nothing but leader or line ends came; not filed");
        return;
    }

    const std::string head = endedWell ? readHead(temporary) : std::string();
    if (endedWell && isRequestShaped(head)) {
        if (auto request = findRequest(head, m_settings.scanLines)) {
            answerRequest(request->name, request->restart, temporary);
            return;
        }
    }
    // A comparison asked for a program the library does not have: the program is filed like
    // any other, and the control is told why no verdict came.
    std::optional<PendingReply> notCompared;
    if (endedWell) {
        if (auto asked = findCompareRequest(head, m_settings.scanLines)) {
            notCompared = answerCompare(temporary, *asked, millis);
            if (!notCompared)
                return;
        }
    }

    JournalRecord rec = newRecord("receive");
    rec.millis = millis;
    const std::string stamped = stampedName() + "." + extension();
    StoreResult stored;
    if (endedWell) {
        const std::string number = programNumber(readHead(temporary), m_settings.scanLines);
        const std::string name = number.empty() ? stamped : number + "." + extension();
        // Compared before it is filed, while an earlier version in the inbox is still under
        // the name.
        const ReceivedComparison comparison = compareWithEarlier(temporary, name);
        stored = m_inbox.store(temporary, name);
        rec.result = TransferResult::Completed;
        if (!stored.path.empty())
            leaveComparison(rec, comparison, m_inbox, stored.path);
    } else {
        stored = m_inbox.storeFailed(temporary, stamped);
        if (m_watch.lost) {
            rec.result = TransferResult::Failed;
            rec.message = "the line was lost";
        } else if (timedOut) {
            rec.result = TransferResult::TimeOut;
            rec.message = "the machine fell silent";
        } else if (result == ReceiveInterrupted) {
            rec.result = TransferResult::Interrupted;
            rec.message = m_cancelled ? "cancelled" : "stopped";
        } else {
            rec.result = TransferResult::Failed;
            rec.message = result == ReceiveTargetWriteFailed ? "the program could not be written"
                                                             : "the end codes could not be sent";
        }
    }
    if (stored.path.empty()) {
        // Not filed (a flush or a rename failed): the bytes received go to failed/ all the
        // same, and the record says why the program is not under its name.
        rec.result = TransferResult::Failed;
        rec.message = "not filed: " + stored.error;
        const StoreResult kept =
            endedWell ? m_inbox.storeFailed(temporary, stamped) : StoreResult{{}, stored.error};
        if (!kept.path.empty()) {
            rec.file = kept.path;
            if (!kept.error.empty())
                rec.message += "; " + kept.error;
        } else {
            rec.file = temporary;
            rec.message += "; kept hidden as " + temporary + " until the next start";
        }
    } else if (!stored.error.empty()) {
        // Filed, but not sure to survive a power cut: told, and a second name in failed/.
        rec.result = TransferResult::Failed;
        rec.file = stored.path;
        rec.message = "filed, but " + stored.error;
        const StoreResult kept = m_inbox.linkIntoFailed(stored.path, stamped);
        if (!kept.path.empty())
            rec.message += "; also kept as " + kept.path;
    } else {
        rec.file = stored.path;
    }
    rec.bytes = fileSize(rec.file);
    rec.sha256 = sha256OfFile(rec.file);
    finishTransfer(std::move(rec));
    if (notCompared)
        replyToControl(std::move(notCompared->record), notCompared->text);
}

void LineService::answerRequest(const std::string& name, const std::string& restart,
                                const std::string& requestFile) {
    m_host.log("request for " + commentSafe(name) + "; answering in " +
               std::to_string(m_settings.requestDelayMillis) + " ms");
    // The operator switches the control to read mode meanwhile.
    m_phase = Phase::Waiting;
    m_host.setActivity(LineActivity::Waiting, name);
    waitMicros(static_cast<uint64_t>(m_settings.requestDelayMillis) * 1000, SliceMicros);
    m_phase = Phase::Idle;
    if (m_stopping || m_cancelled) {
        JournalRecord rec = newRecord("send");
        rec.request = name;
        rec.restart = restart;
        rec.result = TransferResult::Interrupted;
        rec.message = m_cancelled ? "cancelled" : "stopped";
        unlink(requestFile.c_str());
        finishTransfer(std::move(rec));
        return;
    }
    send(PendingSend{name, name, {}, requestFile, restart});
}

// ---- sending ----

void LineService::send(const PendingSend& pending) {
    JournalRecord rec = newRecord("send");
    rec.request = pending.request;
    rec.commandId = pending.commandId;
    rec.restart = pending.restart;
    std::string restarted; // the temporary restarted program, removed after the send

    std::string reply;
    OpenedFile program;
    TransferResult answered = TransferResult::Completed;
    if (isDirectoryListRequest(pending.name)) {
        reply = directoryListing(m_settings.library);
        rec.file = m_settings.library;
        rec.message = "library list";
    } else {
        LibraryLookup found = lookupProgram(m_settings.library, pending.name, extension());
        if (found.result == LookupResult::Found) {
            program = std::move(found.file);
            rec.file = found.path;
            if (!pending.restart.empty()) {
                // What goes out is the restarted program, planned from the very file opened.
                std::string reason;
                const std::string restarted =
                    restartFile(program.fd(), rec.file, pending.restart, reply, reason);
                program = OpenedFile();
                if (!reply.empty()) {
                    answered = TransferResult::Refused;
                    rec.message = "restart refused: " + reason;
                } else if (restarted.empty()) {
                    rec.result = TransferResult::Failed;
                    rec.message = reason;
                    finishTransfer(std::move(rec));
                    return;
                } else {
                    program = OpenedFile(open(restarted.c_str(), O_RDONLY | O_CLOEXEC));
                    unlink(restarted.c_str());
                }
            }
        } else if (found.result == LookupResult::NotFound) {
            reply = notFoundReply(pending.name);
            answered = TransferResult::NotFound;
            rec.message = "not found: " + commentSafe(pending.name);
        } else {
            reply = refusedReply(pending.name);
            answered = TransferResult::Refused;
            rec.message = found.error.empty()
                              ? "refused: not a library name: " + commentSafe(pending.name)
                              : "refused: cannot be read: " + found.error;
        }
    }
    // A refused request is kept as it came, so whoever looks into why can see what was asked.
    std::string keptRequest;
    if (!pending.requestFile.empty()) {
        if (answered == TransferResult::Refused) {
            const StoreResult kept = m_inbox.storeFailed(
                pending.requestFile, stampedName("request") + "." + extension());
            keptRequest = kept.path.empty() ? "; the request could not be kept: " + kept.error
                                            : "; the request is kept as " + kept.path;
        } else {
            unlink(pending.requestFile.c_str());
        }
    }
    // The reply programs tell the operator at the control why nothing came. A command from
    // outside was not asked at the control: its sender learns why from the record, and the
    // machine is not sent a program nobody there is waiting for.
    if (!reply.empty() && !pending.request) {
        rec.result = answered;
        finishTransfer(std::move(rec));
        return;
    }
    // What goes out is a copy of its own in the inbox, read from the very file the lookup
    // opened: the record's digest is of the bytes sent, and a run cut short leaves a copy the
    // next start knows for an unfinished send.
    std::string copyError;
    const std::string path = reply.empty()
                                 ? m_inbox.sendCopy(program.fd(), baseName(rec.file), &copyError)
                                 : m_inbox.sendText(reply, "reply", &copyError);
    program = OpenedFile();
    if (path.empty()) {
        rec.result = TransferResult::Failed;
        rec.message =
            "nothing sent: the copy to send could not be written: " + copyError + keptRequest;
        finishTransfer(std::move(rec));
        return;
    }
    // Of what goes out: the library file, the restarted program or the reply.
    rec.bytes = fileSize(path);
    rec.sha256 = sha256OfFile(path);

    m_phase = Phase::Sending;
    m_host.setActivity(LineActivity::Sending, rec.file.empty() ? pending.name : rec.file);
    const uint64_t start = m_host.nowMicros();
    // A reply is made of comments only: a machine that drops comments from what it is sent
    // would get two bare "%" lines and the operator would never learn why.
    const int result = runSend(path, !reply.empty());
    m_phase = Phase::Idle;
    rec.millis = (m_host.nowMicros() - start) / 1000;
    if (result != SendPortNotOpened)
        rec.wireBytes = m_watch.bytesWritten;
    unlink(path.c_str());

    if (result == SendCompleted) {
        rec.result = answered;
    } else if (result == SendFileNotOpened) {
        rec.result = TransferResult::Failed;
        rec.message = "the file could not be read";
    } else if (result == SendPortNotOpened) {
        rec.result = TransferResult::Failed;
        rec.message = oneLine(m_host.lastError());
    } else if (m_watch.lost) {
        rec.result = TransferResult::Failed;
        rec.message = "the line was lost";
    } else {
        rec.result = TransferResult::Interrupted;
        rec.message = m_cancelled ? "cancelled" : "stopped";
    }
    rec.message += keptRequest;
    finishTransfer(std::move(rec));
    if (result == SendPortNotOpened)
        goOffline(m_host.lastError());
    else if (m_watch.lost)
        goOffline("the line was lost");
}

int LineService::runSend(const std::string& path, bool keepComments) {
    // One file, queued exactly as the terminal's send queues a file it is given.
    m_queue = SendQueue{};
    std::snprintf(m_queue.Entries[0].Name, sizeof m_queue.Entries[0].Name, "%s", path.c_str());
    m_queue.Entries[0].Size = static_cast<uint32_t>(fileSize(path) & 0xFFFFFFFFu);
    m_queue.Count = 1;
    m_watch.reset();
    m_host.clearLastError();

    TransferContext ctx{
        m_settings.machine, m_settings.config, m_queue, m_state, m_host, m_openLine, 0, nullptr};
    const int32_t comment = m_settings.machine.config.Comment;
    if (keepComments)
        m_settings.machine.config.Comment = 1;
    m_state.InterruptRequest = 0;
    m_state.TransferBusy = true;
    const int result = SendNcData(ctx);
    m_state.TransferBusy = false;
    m_settings.machine.config.Comment = comment;
    m_queue = SendQueue{};
    return result;
}

// ---- waits, records, files ----

void LineService::waitMicros(uint64_t micros, uint64_t sliceMicros) {
    const uint64_t start = m_host.nowMicros();
    for (;;) {
        if (m_stopping || m_cancelled || (m_phase == Phase::Offline && m_pendingSend))
            return;
        const uint64_t elapsed = m_host.nowMicros() - start;
        if (elapsed >= micros)
            return;
        m_host.idle(std::min(sliceMicros, micros - elapsed));
    }
}

void LineService::goOffline(const std::string& why) {
    const uint64_t now = m_host.nowMicros();
    if (!m_offlineSaid) {
        const uint32_t ms = m_settings.retryMillis;
        const std::string every =
            ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
        m_host.log("the port is not available (" + oneLine(why) + "); trying again every " + every);
        m_offlineSaid = true;
        m_offlineSaidMicros = now;
    } else if (now - m_offlineSaidMicros >= OfflineReminderMicros) {
        // Once an hour, so a log read later still tells the port has been away all along.
        m_host.log("the port is still not available (" + oneLine(why) + ")");
        m_offlineSaidMicros = now;
    }
    m_host.setQuietRepeats(true);
    m_phase = Phase::Offline;
    m_host.setActivity(LineActivity::Offline, {}, oneLine(why));
    markStarted();
    waitMicros(retryMicros(), IdleSliceMicros);
    if (m_phase == Phase::Offline)
        m_phase = Phase::Idle;
}

void LineService::markStarted() {
    if (m_started)
        return;
    m_started = true;
    if (m_env.sink)
        m_env.sink->started();
}

JournalRecord LineService::newRecord(const char* direction) const {
    JournalRecord rec;
    rec.time = isoUtc(static_cast<long long>(m_env.wallClock()));
    rec.line = m_settings.name;
    rec.direction = direction;
    return rec;
}

// A Cancel is answered by the record of the transfer it stopped; when that record already
// answers a command of its own, the Cancel gets a record beside it.
void LineService::finishTransfer(JournalRecord rec) {
    std::optional<JournalRecord> cancelRecord;
    if (m_cancelled && m_cancelId) {
        if (rec.commandId.empty()) {
            rec.commandId = *m_cancelId;
        } else {
            // The Cancel's own answer: a command record, not a second transfer of 0 bytes.
            JournalRecord extra = newRecord("command");
            extra.request = rec.request;
            extra.result = TransferResult::Interrupted;
            extra.message = "cancelled the " + rec.direction +
                            (rec.file.empty() ? std::string() : " of " + rec.file);
            extra.commandId = *m_cancelId;
            cancelRecord = std::move(extra);
        }
    }
    m_cancelled = false;
    m_cancelId.reset();
    record(std::move(rec));
    if (cancelRecord)
        record(std::move(*cancelRecord));
}

void LineService::record(JournalRecord rec) {
    std::string summary = rec.direction + " " + resultName(rec.result);
    if (rec.request)
        summary += " (request " + commentSafe(*rec.request) + ")";
    // The file's bytes and the wire's differ (leader, codes, line ends, dropped comments);
    // each count says which it is, so neither is taken for the other.
    if (!rec.file.empty())
        summary += ": " + rec.file + " (" + std::to_string(rec.bytes) + " bytes in the file" +
                   (rec.wireBytes ? ", " + std::to_string(*rec.wireBytes) + " bytes on the wire"
                                  : std::string()) +
                   ")";
    if (!rec.message.empty())
        summary += ": " + rec.message;
    if (!rec.compare.empty())
        summary += "; " + comparisonSummary(rec);
    // Records keep their order: a new one waits behind those the journal has not yet taken.
    if (m_unwritten.size() >= MaxUnwrittenRecords) {
        m_unwritten.pop_front();
        ++m_unwrittenDropped;
    }
    m_unwritten.push_back(rec);
    writeUnwritten();
    // The sinks hear of the record as the journal line has it, chain included (a record the
    // journal has not yet taken goes out without its link).
    if (m_unwritten.empty())
        rec.prev = m_lastPrev;
    m_host.log(summary);
    if (m_env.sink)
        m_env.sink->transferRecorded(rec);
}

std::string LineService::restartFile(int fd, const std::string& program, const std::string& where,
                                     std::string& reply, std::string& reason) {
    RestartPlace place;
    if (!ParseRestartPlace(where, place)) {
        reason = "'" + where + "' is not a restart place: T<n>, T<n>:<k>, N<n> or L<n>";
        reply = restartRefusedReply(program.substr(program.rfind('/') + 1), where, reason);
        return {};
    }
    const int own = fd >= 0 ? dup(fd) : -1;
    std::FILE* in = own >= 0 ? fdopen(own, "rb") : nullptr;
    if (in == nullptr) {
        if (own >= 0)
            close(own);
        reason = "the program could not be read";
        return {};
    }
    const RestartPlan plan = PlanRestart(in, place);
    if (!plan.allowed) {
        std::fclose(in);
        reason = plan.refusal;
        reply = restartRefusedReply(program.substr(program.rfind('/') + 1), where, reason);
        return {};
    }
    const std::string path = m_inbox.createTemporary();
    std::FILE* out = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    bool written = out != nullptr && WriteRestartProgram(in, plan, out);
    if (out != nullptr && std::fclose(out) != 0)
        written = false;
    std::fclose(in);
    if (!written) {
        if (!path.empty())
            unlink(path.c_str());
        reason = "the restarted program could not be written into the inbox";
        return {};
    }
    return path;
}

// Writes the records the journal has not yet taken, oldest first, until one fails; that one
// and those behind it are tried again at the next record, or after the retry time.
void LineService::writeUnwritten() {
    if (m_unwrittenDropped > 0) {
        m_host.showError("journal: " + std::to_string(m_unwrittenDropped) +
                         " records given up; the journal took nothing for too long");
        m_unwrittenDropped = 0;
    }
    size_t written = 0;
    while (!m_unwritten.empty()) {
        if (std::string error = m_journal.append(m_unwritten.front(), &m_lastPrev);
            !error.empty()) {
            // Said once when the journal starts refusing, not at every try.
            if (!m_journalFailing)
                m_host.showError("journal: " + error +
                                 "; records are kept to be written when it takes them again");
            m_journalFailing = true;
            m_nextJournalTry = m_host.nowMicros() + retryMicros();
            return;
        }
        m_unwritten.pop_front();
        ++written;
    }
    if (m_journalFailing) {
        m_journalFailing = false;
        m_host.log("journal: written again (" + std::to_string(written) +
                   (written == 1 ? " record" : " records") + " kept meanwhile)");
    }
}

std::string LineService::stampedName(const std::string& tag) const {
    return m_settings.name + "-" + localStamp(static_cast<long long>(m_env.wallClock())) +
           (tag.empty() ? std::string() : "-" + tag);
}

std::string LineService::extension() const {
    const char* ext = m_settings.machine.config.DefExt;
    return *ext ? std::string(ext) : std::string("NC");
}

} // namespace corvane::serve
