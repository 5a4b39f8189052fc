#pragma once
// The transfer journal: one JSON object per line, appended and flushed to disk before anyone
// else hears of the transfer. The file is opened for each record, so a journal moved away by
// log rotation is simply started anew. A line is in the journal whole or not at all: a write
// or flush that fails takes back what it put in, and a line torn by a power cut is cut off
// at the next start.

#include <memory>
#include <string>

#include "serve/FileSystem.h"
#include "serve/JournalRecord.h"
#include "support/TimeText.h"

namespace corvane::serve {

class Journal {
public:
    explicit Journal(std::string path, std::shared_ptr<FileSystem> files = posixFileSystem())
        : m_path(std::move(path)), m_files(std::move(files)) {}

    // Checks that the journal can be appended to (creating it when missing). Empty on
    // success, else the reason.
    std::string prepare() const;
    // Cuts off a last line left without its line end (a write cut short by a crash), so that
    // every line is a whole record again. Returns what was cut off; empty when nothing was.
    std::string repair(std::string* error = nullptr) const;
    // Appends the record, chained to the line before it, and fsyncs. Empty on success, else
    // the reason. `prev`, when given, gets the chain's digest the line was written with, so the
    // record told to others can be the line as the journal has it.
    std::string append(const JournalRecord& record, std::string* prev = nullptr) const;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::shared_ptr<FileSystem> m_files;
    // The digest of the last line this journal wrote: a file started anew after log rotation
    // continues the chain of the file moved away.
    mutable std::string m_lastDigest;
};

} // namespace corvane::serve
