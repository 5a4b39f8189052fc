#include "serve/Journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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
        return m_path + ": " + std::strerror(errno);
    close(fd);
    return {};
}

std::string Journal::append(const JournalRecord& record, std::string* prev) const {
    const int fd = openForAppend(m_path);
    if (fd < 0)
        return m_path + ": " + std::strerror(errno);
    JournalRecord chained = record;
    const std::string last = lastCompleteLine(fd);
    chained.prev = !last.empty()           ? sha256Of(last)
                   : !m_lastDigest.empty() ? m_lastDigest
                                           : NoPreviousLine;
    const std::string line = toJson(chained) + "\n";
    if (prev)
        *prev = chained.prev;
    // One write of the whole line, so that a reader following the file never sees half of
    // one, and a second writer on the same file cannot interleave inside it.
    size_t done = 0;
    std::string error;
    while (done < line.size()) {
        const ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = m_path + ": " + std::strerror(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error.empty() && fsync(fd) != 0)
        error = m_path + ": " + std::strerror(errno);
    if (error.empty())
        m_lastDigest = sha256Of(std::string_view(line).substr(0, line.size() - 1));
    close(fd);
    return error;
}

std::string isoUtc(long long secondsSinceEpoch) {
    const time_t t = static_cast<time_t>(secondsSinceEpoch);
    struct tm utc {};
    char text[32] = "";
    if (gmtime_r(&t, &utc))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string localStamp(long long secondsSinceEpoch) {
    const time_t t = static_cast<time_t>(secondsSinceEpoch);
    struct tm local {};
    char text[32] = "";
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

} // namespace corvane::serve
