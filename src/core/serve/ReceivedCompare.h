#pragma once
// Compare after receive: a program that arrives under a name the library (or the inbox)
// already holds is compared with that version, so the shop learns at once whether the control
// changed it, by how much and where, and finds the changes in a unified diff beside it.

#include <cstddef>
#include <string>
#include <vector>

#include "serve/JournalRecord.h"
#include "support/ProgramDiff.h"

namespace corvane::serve {

struct ReceivedComparison {
    // "identical", "differs" or "new"; empty when the earlier version could not be compared,
    // `error` saying why.
    std::string verdict;
    std::string against; // the earlier version's file
    size_t differing = 0;
    size_t atLine = 0;
    std::string diff; // the unified diff, when it differs
    std::string error;
};

// Programs longer than this are not read whole into memory to be compared.
constexpr size_t MaxComparedBytes = 64u * 1024 * 1024;

// The earlier version of a program filed as `name`: the library's file of that name, else the
// inbox's. Empty when there is none; `error` set when the library's cannot be read.
std::string earlierVersion(const std::string& library, const std::string& inbox,
                           const std::string& name, std::string& error);

// `received` compared with `earlier` (none: "new"). The diff names the earlier version
// `earlierLabel` and the received one `receivedLabel`, where they will be found.
ReceivedComparison compareReceived(const std::string& earlier, const std::string& received,
                                   const CompareOptions& options, const std::string& earlierLabel,
                                   const std::string& receivedLabel,
                                   const std::vector<size_t>& setAside = {});

// The name the inbox will keep `path`'s present file under when a new one takes its name:
// the first free `path.~N~`.
std::string nextVersionName(const std::string& path);

// A diff left beside an older version describes it no longer: it is kept under the next free
// `.~N~` name instead, so no diff ever stands beside a program it does not describe.
void setAsideStaleDiff(const std::string& diffPath);

// The comparison's fields of the journal record.
void noteComparison(JournalRecord& record, const ReceivedComparison& comparison);

// "identical to F", "differs from F in 3 lines, first at line 7", "new"; for log lines.
std::string comparisonSummary(const JournalRecord& record);

} // namespace corvane::serve
