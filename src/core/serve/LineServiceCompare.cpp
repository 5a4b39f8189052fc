// The served line's compare after receive: a program is compared with the version its name
// already had, and a control's "(CMP=NAME)" is answered with a verdict instead of a filing.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "serve/Library.h"
#include "serve/LineService.h"
#include "support/Digest.h"
#include "transfer/SendEngine.h"

namespace corvane::serve {
namespace {

constexpr uint64_t ReplySliceMicros = 20'000;

uint64_t sizeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool makeFolder(const std::string& folder) {
    struct stat info {};
    return (mkdir(folder.c_str(), 0775) == 0 || errno == EEXIST) &&
           stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

ReceivedComparison LineService::compareWithEarlier(const std::string& temporary,
                                                   const std::string& name) {
    const std::string filed = m_inbox.folder() + "/" + name;
    std::string error;
    const std::string earlier = earlierVersion(m_settings.library, m_inbox.folder(), name, error);
    if (!error.empty()) {
        ReceivedComparison none;
        none.error = error;
        return none;
    }
    // The inbox's own earlier version is about to be kept under its next version name, and
    // the diff should say where it will be found.
    const std::string label = earlier == filed ? nextVersionName(filed) : earlier;
    return compareReceived(earlier, temporary, m_settings.compare, label, filed);
}

void LineService::leaveComparison(JournalRecord& rec, const ReceivedComparison& comparison,
                                  const InboxStore& store, const std::string& storedPath) {
    if (comparison.verdict.empty()) {
        rec.message = "not compared: " + comparison.error;
        return;
    }
    noteComparison(rec, comparison);
    const std::string diffName = baseName(storedPath) + ".diff";
    if (comparison.verdict != "differs") {
        setAsideStaleDiff(store.folder() + "/" + diffName);
        return;
    }
    std::string error;
    const std::string temporary = m_inbox.createTemporary(&error);
    std::FILE* file = temporary.empty() ? nullptr : std::fopen(temporary.c_str(), "wb");
    const std::string& text = comparison.diff;
    const bool written = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file && std::fclose(file) != 0)
        error = "the diff could not be written";
    if (!written || !error.empty()) {
        if (!temporary.empty())
            unlink(temporary.c_str());
        rec.message = "no diff: " + (error.empty() ? "the diff could not be written" : error);
        return;
    }
    const StoreResult stored = store.store(temporary, diffName);
    if (stored.path.empty()) {
        unlink(temporary.c_str());
        rec.message = "no diff: " + stored.error;
        return;
    }
    rec.diff = stored.path;
}

std::optional<LineService::PendingReply> LineService::answerCompare(const std::string& temporary,
                                                                    const CompareRequest& request,
                                                                    uint64_t millis) {
    const LibraryLookup found = lookupProgram(m_settings.library, request.name, extension());
    if (found.result != LookupResult::Found) {
        JournalRecord reply = newRecord("send");
        reply.request = request.name;
        reply.result = found.result == LookupResult::NotFound ? TransferResult::NotFound
                                                              : TransferResult::Refused;
        reply.message = (found.result == LookupResult::NotFound ? "not found: " : "refused: ") +
                        commentSafe(request.name);
        return PendingReply{std::move(reply), found.result == LookupResult::NotFound
                                                  ? notFoundReply(request.name)
                                                  : refusedReply(request.name)};
    }

    JournalRecord rec = newRecord("receive");
    rec.request = request.name;
    rec.millis = millis;
    rec.bytes = sizeOf(temporary);
    rec.sha256 = sha256OfFile(temporary);
    // What differs is kept apart from the inbox's programs: the control asked for a verdict,
    // not for a filing, but its version must not be lost.
    const std::string folder = m_inbox.folder() + "/compared";
    const std::string name = baseName(found.path);
    const ReceivedComparison comparison = compareReceived(
        found.path, temporary, m_settings.compare, found.path, folder + "/" + name, {request.line});
    if (comparison.verdict.empty()) {
        // Cannot be compared (too long, unreadable): filed as a program, and the control is
        // told it was refused.
        JournalRecord reply = newRecord("send");
        reply.request = request.name;
        reply.result = TransferResult::Refused;
        reply.message = "refused: not compared: " + comparison.error;
        return PendingReply{std::move(reply), refusedReply(request.name)};
    }
    noteComparison(rec, comparison);
    if (comparison.verdict == "differs") {
        const InboxStore compared(folder);
        const StoreResult stored = makeFolder(folder) ? compared.store(temporary, name)
                                                      : StoreResult{{}, folder + ": not a folder"};
        if (stored.path.empty()) {
            rec.message = "the control's version was not kept: " + stored.error;
            rec.file = temporary; // still there, under its hidden name
        } else {
            rec.file = stored.path;
            leaveComparison(rec, comparison, compared, stored.path);
        }
    } else {
        unlink(temporary.c_str());
    }
    const std::string reply = comparison.verdict == "identical"
                                  ? sameReply(request.name)
                                  : differsReply(request.name, comparison.atLine);
    replyToControl(std::move(rec), reply);
    return std::nullopt;
}

void LineService::replyToControl(JournalRecord rec, const std::string& text) {
    const std::string name = commentSafe(rec.request.value_or(""));
    m_host.log("answering " + name + " in " + std::to_string(m_settings.requestDelayMillis) +
               " ms");
    // The operator switches the control to read mode meanwhile.
    m_phase = Phase::Waiting;
    m_host.setActivity(LineActivity::Waiting, name);
    waitMicros(static_cast<uint64_t>(m_settings.requestDelayMillis) * 1000, ReplySliceMicros);
    m_phase = Phase::Idle;
    auto unsent = [&rec](TransferResult result, const std::string& why) {
        rec.result = result;
        rec.message = (rec.message.empty() ? "" : rec.message + "; ") + "no reply: " + why;
    };
    if (m_stopping || m_cancelled) {
        unsent(TransferResult::Interrupted, m_cancelled ? "cancelled" : "stopped");
        finishTransfer(std::move(rec));
        return;
    }
    // Sent from a copy of its own, so a run cut short is known at the next start for an
    // unfinished send.
    std::string copyError;
    const std::string path = m_inbox.sendText(text, "reply", &copyError);
    if (path.empty()) {
        unsent(TransferResult::Failed, "the copy to send could not be written: " + copyError);
        finishTransfer(std::move(rec));
        return;
    }
    m_phase = Phase::Sending;
    m_host.setActivity(LineActivity::Sending, name);
    const uint64_t start = m_host.nowMicros();
    const int result = runSend(path, true);
    m_phase = Phase::Idle;
    rec.millis += (m_host.nowMicros() - start) / 1000;
    unlink(path.c_str());
    if (result == SendPortNotOpened)
        unsent(TransferResult::Failed, m_host.lastError());
    else if (result == SendFileNotOpened)
        unsent(TransferResult::Failed, "it could not be read");
    else if (m_watch.lost)
        unsent(TransferResult::Failed, "the line was lost");
    else if (result != SendCompleted)
        unsent(TransferResult::Interrupted, m_cancelled ? "cancelled" : "stopped");
    finishTransfer(std::move(rec));
    if (result == SendPortNotOpened)
        goOffline(m_host.lastError());
    else if (m_watch.lost)
        goOffline("the line was lost");
}

} // namespace corvane::serve
