#include "serve/JournalRecord.h"

#include "support/Json.h"

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
    JsonObjectWriter json;
    json.add("time", record.time)
        .add("line", record.line)
        .add("direction", record.direction)
        .add("request", record.request);
    if (!record.restart.empty())
        json.add("restart", record.restart);
    json.add("file", record.file)
        .add("bytes", record.bytes)
        .add("sha256", record.sha256)
        .add("result", resultName(record.result))
        .add("millis", record.millis)
        .add("message", record.message);
    if (!record.commandId.empty())
        json.add("command", record.commandId);
    if (!record.compare.empty()) {
        json.add("compare", record.compare);
        if (!record.against.empty())
            json.add("against", record.against);
        if (record.compare == "differs")
            json.add("differing", record.differing).add("at_line", record.atLine);
        if (!record.diff.empty())
            json.add("diff", record.diff);
    }
    return json.text();
}

} // namespace corvane::serve
