#pragma once
// The transfer journal: one JSON object per line, appended and flushed to disk before anyone
// else hears of the transfer. The file is opened for each record, so a journal moved away by
// log rotation is simply started anew.

#include <string>

#include "serve/JournalRecord.h"

namespace corvane::serve {

class Journal {
public:
    explicit Journal(std::string path) : m_path(std::move(path)) {}

    // Checks that the journal can be appended to (creating it when missing). Empty on
    // success, else the reason.
    std::string prepare() const;
    // Appends the record, chained to the line before it, and fsyncs. Empty on success, else
    // the reason. `prev`, when given, gets the chain's digest the line was written with, so the
    // record told to others can be the line as the journal has it.
    std::string append(const JournalRecord& record, std::string* prev = nullptr) const;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    // The digest of the last line this journal wrote: a file started anew after log rotation
    // continues the chain of the file moved away.
    mutable std::string m_lastDigest;
};

// "2026-12-09T07:15:02Z" for a time in seconds since the epoch.
std::string isoUtc(long long secondsSinceEpoch);
// "20261209-071502" in local time, for names of files received without a program number.
std::string localStamp(long long secondsSinceEpoch);

} // namespace corvane::serve
