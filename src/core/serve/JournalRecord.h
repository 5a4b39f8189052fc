#pragma once
// One transfer of an unattended line, as the journal keeps it and the broker repeats it.

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::serve {

enum class TransferResult { Completed, Interrupted, TimeOut, Failed, NotFound, Refused };

// The journal's word for a result: "completed", "interrupted", "timeout", "failed",
// "not-found", "refused".
const char* resultName(TransferResult result);

struct JournalRecord {
    std::string time;      // when the transfer ended, ISO 8601 UTC ("2026-12-09T07:15:02Z")
    std::string line;      // the line's name
    std::string direction; // "receive" or "send"
    std::optional<std::string> request; // the name asked for; none for a plain receive
    std::string restart; // the restart place asked for ("T5", "N5230"); written when there is one
    std::string file;    // the path stored or sent
    // The bytes of that file (a send: of the copy that went out). Not what crossed the wire:
    // leader, start and stop codes, line-end expansion and dropped comments make that differ.
    uint64_t bytes = 0;
    std::string sha256; // of the stored file or of the library file sent; empty when none
    TransferResult result = TransferResult::Completed;
    uint64_t millis = 0;
    std::string message;
    // The id a broker command carried, so its sender can tell its answer from others'.
    // Written only when there is one.
    std::string commandId;
    // What a send put on the wire, every byte the port took: leader, codes and line ends as
    // sent. Written only for a send that reached the line.
    std::optional<uint64_t> wireBytes;
    // A received program compared with the version its name already had: "identical",
    // "differs" or "new"; the rest only when it was compared. Written after the fields
    // above, and only when there is a comparison, so a reader of older records reads these.
    std::string compare;
    std::string against;    // the earlier version's file
    uint64_t differing = 0; // lines changed, added or removed
    uint64_t atLine = 0;    // the received program's first differing line
    std::string diff;       // the unified diff left beside the program
    // The digest of the journal line before this one (see JournalChain.h); set by the journal
    // as it writes the record, written last and only when set.
    std::string prev;
};

// The record as one JSON object on one line (no line end). The same text goes into the
// journal file and onto the broker.
std::string toJson(const JournalRecord& record);

} // namespace corvane::serve
