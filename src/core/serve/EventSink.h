#pragma once
// What an unattended line tells the world beyond its journal file, and what it takes from it.
// The service runs with no sink, or with one that publishes to the shop's broker; the journal
// file stays the record of truth either way, so a sink may lose nothing but its own copies.

#include <cstdint>
#include <optional>
#include <string>

#include "serve/JournalRecord.h"

namespace corvane::serve {

enum class LineActivity { Idle, Receiving, Sending, Held, Waiting, Error, Offline };

// "idle", "receiving", "sending", "held", "waiting", "error", "offline".
const char* activityName(LineActivity activity);

struct LineStatus {
    std::string line;
    LineActivity activity = LineActivity::Idle;
    std::string file; // being received or sent; empty when none
    uint64_t position = 0;
    uint64_t total = 0;      // 0 while unknown (a receive)
    std::string reason = {}; // why the line is offline or in error; empty otherwise
};

class EventSink {
public:
    virtual ~EventSink() = default;
    // Every change of activity or file, and progress during a transfer. The service calls this
    // as often as it likes; a sink that publishes thins it out itself.
    virtual void statusChanged(const LineStatus& status) = 0;
    // After the record is in the journal file.
    virtual void transferRecorded(const JournalRecord& record) = 0;
    // Called between the service's waits (at least every 20 ms during a transfer, every 250 ms
    // while the line is idle, so an idle line costs next to no CPU): the sink's
    // chance to do its own input and output without a thread of its own. Never blocks.
    virtual void service() {}
    // Once, when the line's port is open or its first open failed and it is being retried:
    // the line's start is over either way.
    virtual void started() {}
};

struct ServeCommand {
    enum class Kind { Send, Cancel };
    Kind kind = Kind::Send;
    std::string name; // Send: the library program asked for, not yet checked
    std::string id;   // echoed in the answering record's "command"; may be empty
};

// A command refused before it reached the service, with the id it carried when that much of
// it could be read, so that the refusal reaches its sender too.
struct CommandRefusal {
    std::string reason;
    std::string id;
};

class CommandSource {
public:
    virtual ~CommandSource() = default;
    // The next command from outside, when one is waiting. Never blocks.
    virtual std::optional<ServeCommand> takeCommand() = 0;
    // A command that could not even be read (malformed JSON, too large): the service answers
    // it with a "refused" record. Never blocks.
    virtual std::optional<std::string> takeRejection() { return std::nullopt; }
    // The same, with the refused command's id when it had a readable one. By default the
    // rejection above, without an id.
    virtual std::optional<CommandRefusal> takeRefusal() {
        if (auto reason = takeRejection())
            return CommandRefusal{std::move(*reason), {}};
        return std::nullopt;
    }
};

} // namespace corvane::serve
