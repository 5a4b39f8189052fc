#include "serve/JournalChain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "support/Digest.h"
#include "support/JsonLine.h"

namespace corvane::serve {

std::string lastCompleteLine(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size <= 0)
        return {};
    // Read back from the end in pieces until the line before the last LF is whole.
    const off_t size = info.st_size;
    std::string tail;
    constexpr off_t Piece = 4096;
    off_t start = size;
    for (;;) {
        const off_t from = start > Piece ? start - Piece : 0;
        std::string piece(static_cast<size_t>(start - from), '\0');
        const ssize_t n = pread(fd, piece.data(), piece.size(), from);
        if (n != static_cast<ssize_t>(piece.size()))
            return {};
        tail.insert(0, piece);
        start = from;
        const size_t end = tail.rfind('\n');
        if (end != std::string::npos) {
            const size_t begin = end == 0 ? std::string::npos : tail.rfind('\n', end - 1);
            if (begin != std::string::npos)
                return tail.substr(begin + 1, end - begin - 1);
            if (start == 0)
                return tail.substr(0, end);
        } else if (start == 0) {
            return {};
        }
    }
}

namespace {

std::string where(const std::string& path, size_t line) {
    return path + ":" + std::to_string(line) + ": ";
}

} // namespace

ChainCheck verifyJournals(const std::vector<std::string>& paths) {
    ChainCheck check;
    bool chained = false;       // a record with "prev" has been read
    bool anyLine = false;       // a line has been read (in any file)
    std::string previousDigest; // of the last line read
    for (const std::string& path : paths) {
        struct stat info {};
        std::string unreadable;
        if (stat(path.c_str(), &info) != 0)
            unreadable = std::strerror(errno);
        else if (S_ISDIR(info.st_mode))
            unreadable = "is a folder";
        else if (access(path.c_str(), R_OK) != 0)
            unreadable = std::strerror(errno);
        std::ifstream in(path, std::ios::binary);
        if (unreadable.empty() && !in)
            unreadable = "cannot be read";
        if (!unreadable.empty()) {
            check.outcome = ChainCheck::Outcome::Unreadable;
            check.message = path + ": " + unreadable;
            return check;
        }
        std::string line;
        size_t number = 0;
        size_t unchainedHere = 0;
        bool firstOfFile = true;
        while (std::getline(in, line)) {
            ++number;
            const bool complete = !in.eof();
            auto broken = [&](const std::string& why) {
                check.outcome = ChainCheck::Outcome::Broken;
                check.message = where(path, number) + why;
                return check;
            };
            if (!complete)
                return broken(
                    "the last line is incomplete (a write cut short, or the line edited)");
            const JsonParse parsed = parseFlatJsonObject(line);
            if (!parsed.object)
                return broken("not a journal record (" + parsed.error + ")");
            const auto prev = jsonString(*parsed.object, "prev");
            if (!prev) {
                if (chained)
                    return broken(
                        "a record without \"prev\" after chained ones (inserted, or its \"prev\" "
                        "removed)");
                ++unchainedHere;
            } else if (!anyLine) {
                // The first line given: what it continues is not here to check.
                if (*prev != NoPreviousLine)
                    check.warnings.push_back(where(path, number) +
                                             "continues an earlier journal that was not given");
            } else if (*prev != previousDigest) {
                if (firstOfFile && *prev == NoPreviousLine && !chained) {
                    // Unchained journals before it: a chain may start anywhere after them.
                } else if (firstOfFile && *prev == NoPreviousLine) {
                    check.warnings.push_back(
                        where(path, number) +
                        "starts a new chain (a service started after the journal "
                        "before it was moved away)");
                } else {
                    return broken(
                        "\"prev\" does not match the line before it (a line before it edited, "
                        "removed or moved, or this one edited)");
                }
            }
            chained = chained || prev.has_value();
            previousDigest = sha256Of(line);
            anyLine = true;
            firstOfFile = false;
            ++check.records;
        }
        if (in.bad()) {
            check.outcome = ChainCheck::Outcome::Unreadable;
            check.message = path + ": cannot be read to its end";
            return check;
        }
        if (unchainedHere > 0)
            check.warnings.push_back(
                path + ": " + std::to_string(unchainedHere) +
                " records without \"prev\" (written before journals were chained): "
                "unchained, not checked");
    }
    check.outcome = chained ? ChainCheck::Outcome::Holds : ChainCheck::Outcome::Unchained;
    check.message = std::to_string(check.records) + " records in " + std::to_string(paths.size()) +
                    (paths.size() == 1 ? " file" : " files") +
                    (chained ? ": the chain holds" : ": unchained (no record carries \"prev\")");
    return check;
}

} // namespace corvane::serve
