#include "serve/JournalRecord.h"

#include "support/JsonLine.h"

namespace corvane::serve {

const char* resultName(TransferResult result) {
    switch (result) {
    case TransferResult::Completed:
        return "completed";
    case TransferResult::Interrupted:
        return "interrupted";
    case TransferResult::TimeOut:
        return "timeout";
    case TransferResult::Failed:
        return "failed";
    case TransferResult::NotFound:
        return "not-found";
    case TransferResult::Refused:
        return "refused";
    }
    return "failed";
}

std::string toJson(const JournalRecord& record) {
    JsonWriteObject json;
    json["time"] = record.time;
    json["line"] = record.line;
    json["direction"] = record.direction;
    json["request"] = record.request ? JsonWriteObject(*record.request) : JsonWriteObject(nullptr);
    if (!record.restart.empty())
        json["restart"] = record.restart;
    json["file"] = record.file;
    json["bytes"] = record.bytes;
    json["sha256"] = record.sha256;
    json["result"] = resultName(record.result);
    json["millis"] = record.millis;
    json["message"] = record.message;
    if (!record.commandId.empty())
        json["command"] = record.commandId;
    if (record.wireBytes)
        json["wire_bytes"] = *record.wireBytes;
    if (!record.compare.empty()) {
        json["compare"] = record.compare;
        if (!record.against.empty())
            json["against"] = record.against;
        if (record.compare == "differs") {
            json["differing"] = record.differing;
            json["at_line"] = record.atLine;
        }
        if (!record.diff.empty())
            json["diff"] = record.diff;
    }
    if (!record.prev.empty())
        json["prev"] = record.prev;
    return jsonLine(json);
}

} // namespace corvane::serve
