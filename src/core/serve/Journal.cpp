#include "serve/Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serve/JournalChain.h"
#include "support/Digest.h"

namespace corvane::serve {
namespace {

// Read as well: the record chains to the last line already there.
int openForAppend(const std::string& path) {
    return open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0664);
}

} // namespace

std::string Journal::prepare() const {
    const int fd = openForAppend(m_path);
    if (fd < 0)
        return errorText(m_path, errno);
    close(fd);
    return {};
}

std::string Journal::repair(std::string* error) const {
    const int fd = open(m_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string torn;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 0) {
        // A record is at most a few KiB; look back far enough for the last line end.
        constexpr off_t Window = 1 << 20;
        const off_t from = info.st_size > Window ? info.st_size - Window : 0;
        std::string tail(static_cast<size_t>(info.st_size - from), '\0');
        const ssize_t got = pread(fd, tail.data(), tail.size(), from);
        if (got == static_cast<ssize_t>(tail.size()) && tail.back() != '\n') {
            const size_t lastEnd = tail.rfind('\n');
            const size_t keep = lastEnd == std::string::npos ? 0 : lastEnd + 1;
            if (from == 0 || lastEnd != std::string::npos) {
                torn = tail.substr(keep);
                int e = m_files->truncate(fd, from + static_cast<off_t>(keep));
                if (e == 0)
                    e = m_files->sync(fd);
                if (e != 0 && error)
                    *error = errorText(m_path, e);
            }
        }
    }
    close(fd);
    return torn;
}

std::string Journal::append(const JournalRecord& record, std::string* prev) const {
    const int fd = openForAppend(m_path);
    if (fd < 0)
        return errorText(m_path, errno);
    JournalRecord chained = record;
    const std::string last = lastCompleteLine(fd);
    chained.prev = !last.empty()           ? sha256Of(last)
                   : !m_lastDigest.empty() ? m_lastDigest
                                           : NoPreviousLine;
    const std::string line = toJson(chained) + "\n";
    if (prev)
        *prev = chained.prev;
    struct stat before {};
    const bool sized = fstat(fd, &before) == 0;
    // One write of the whole line, so that a reader following the file never sees half of
    // one, and a second writer on the same file cannot interleave inside it.
    const WriteResult written = m_files->writeAll(fd, line);
    int error = written.error;
    if (error == 0)
        error = m_files->sync(fd);
    std::string message;
    if (error != 0) {
        message = errorText(m_path, error);
        // Take back what went in, so the journal never keeps half a record (nor, after a
        // failed flush, a record that may not be on disk and is written again later) --
        // unless someone else has written after it meanwhile.
        struct stat after {};
        if (written.written > 0 && sized && fstat(fd, &after) == 0 &&
            after.st_size == before.st_size + static_cast<off_t>(written.written))
            m_files->truncate(fd, before.st_size);
    }
    if (error == 0)
        m_lastDigest = sha256Of(std::string_view(line).substr(0, line.size() - 1));
    close(fd);
    return message;
}

} // namespace corvane::serve
