#include "serve/Library.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <vector>

#include "serve/ProgramScan.h"

namespace corvane::serve {
namespace {

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr size_t ProgramNumberDigits = 4;

// A file of its own under that very name: a link does not count (it is never followed).
bool isPlainFile(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The one file in `library` whose name is `name` but for case; none when there is none, or
// more than one (which to send would be a guess).
std::optional<std::string> onlyCaseInsensitiveMatch(const std::string& library,
                                                    const std::string& name) {
    std::optional<std::string> found;
    DIR* dir = opendir(library.c_str());
    if (!dir)
        return std::nullopt;
    int matches = 0;
    while (const dirent* entry = readdir(dir)) {
        if (sameIgnoringCase(entry->d_name, name)) {
            found = entry->d_name;
            ++matches;
        }
    }
    closedir(dir);
    return matches == 1 ? found : std::nullopt;
}

std::string reply(const char* word, std::string_view name) {
    return "%\n(" + std::string(word) + " " + commentSafe(name) + ")\n%\n";
}

} // namespace

OpenedFile::~OpenedFile() {
    if (m_fd >= 0)
        close(m_fd);
}

OpenedFile& OpenedFile::operator=(OpenedFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

LibraryLookup lookupProgram(const std::string& library, std::string_view name,
                            const std::string& ext) {
    if (!isLibraryName(name) || name.front() == '.')
        return {LookupResult::Refused, {}, {}, {}};
    const std::string base = library + "/";
    std::vector<std::string> candidates{std::string(name)};
    if (!ext.empty()) {
        candidates.push_back(std::string(name) + "." + ext);
        // A control asks by the number it shows, "12" or "O12", for the file "O0012".
        std::string_view digits = name;
        if (!digits.empty() && (digits.front() == 'O' || digits.front() == 'o'))
            digits.remove_prefix(1);
        if (allDigits(digits)) {
            if (digits.size() == name.size())
                candidates.push_back("O" + std::string(digits) + "." + ext);
            if (digits.size() < ProgramNumberDigits)
                candidates.push_back("O" + std::string(ProgramNumberDigits - digits.size(), '0') +
                                     std::string(digits) + "." + ext);
        }
    }
    // Punched names are upper case and files are often not: with no file of the very name,
    // one whose name differs only in case is taken -- when it is the only one.
    for (std::string& candidate : candidates)
        if (!isPlainFile(base + candidate))
            candidate = onlyCaseInsensitiveMatch(library, candidate).value_or(candidate);
    for (const std::string& candidate : candidates) {
        if (!isLibraryName(candidate))
            continue;
        // O_NOFOLLOW: a link fails here (ELOOP) instead of being checked first and opened
        // after; O_NONBLOCK: a fifo put in the library cannot hang the line.
        const int fd = open((base + candidate).c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            const int error = errno;
            if (error == ENOENT || error == ELOOP || error == ENOTDIR || error == ENXIO)
                continue;
            // There but not ours to read: "not found" would send the operator looking for a
            // program that exists; refuse and say why.
            return {LookupResult::Refused, {}, {}, candidate + ": " + std::strerror(error)};
        }
        OpenedFile file(fd);
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        return {LookupResult::Found, base + candidate, std::move(file), {}};
    }
    return {LookupResult::NotFound, {}, {}, {}};
}

std::string notFoundReply(std::string_view name) {
    return reply("NOT FOUND", name);
}

std::string refusedReply(std::string_view name) {
    return reply("REFUSED", name);
}

std::string restartRefusedReply(std::string_view name, std::string_view where,
                                std::string_view reason) {
    std::string text =
        "%\n(RESTART REFUSED " + commentSafe(name) + " " + commentSafe(where) + ")\n";
    // The reason in upper case (older controls show nothing else), brackets for parentheses so
    // it cannot close its comment, in lines a control's screen can show.
    std::string clean;
    for (char c : reason) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '(')
            clean += '[';
        else if (c == ')')
            clean += ']';
        else if (u < 0x20 || u >= 0x7F || c == '%')
            clean += '?';
        else
            clean += static_cast<char>(std::toupper(u));
    }
    constexpr size_t Width = 60;
    size_t at = 0;
    while (at < clean.size()) {
        size_t end = std::min(clean.size(), at + Width);
        if (end < clean.size()) {
            const size_t blank = clean.rfind(' ', end);
            if (blank != std::string::npos && blank > at)
                end = blank;
        }
        text += "(" + clean.substr(at, end - at) + ")\n";
        at = end;
        while (at < clean.size() && clean[at] == ' ')
            ++at;
    }
    return text + "%\n";
}

std::string directoryListing(const std::string& library, int maxLines) {
    struct Entry {
        std::string name;
        uint64_t size;
        time_t modified;
    };
    std::vector<Entry> entries;
    if (DIR* dir = opendir(library.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (!isLibraryName(name) || name.front() == '.')
                continue;
            struct stat info {};
            if (lstat((library + "/" + name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            entries.push_back({name, static_cast<uint64_t>(info.st_size), info.st_mtime});
        }
        closedir(dir);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    std::string out = "%\n(DIRLIST " + std::to_string(entries.size()) + " FILES)\n";
    // The "%" lines, the title and the "MORE" line count against the limit too.
    const int fileLines = std::max(maxLines - 4, 1);
    int lines = 0;
    for (const Entry& entry : entries) {
        if (lines == fileLines)
            break;
        char date[16] = "";
        struct tm local {};
        if (localtime_r(&entry.modified, &local))
            std::strftime(date, sizeof date, "%Y-%m-%d", &local);
        out +=
            "(" + commentSafe(entry.name) + " " + std::to_string(entry.size) + " " + date + ")\n";
        ++lines;
    }
    if (entries.size() > static_cast<size_t>(lines))
        out += "(... " + std::to_string(entries.size() - static_cast<size_t>(lines)) + " MORE)\n";
    out += "%\n";
    return out;
}

} // namespace corvane::serve
