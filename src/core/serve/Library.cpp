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
#include <vector>

#include "serve/ProgramScan.h"

namespace corvane::serve {
namespace {

// A plain file (not a link out of the folder, not a device) that we may read.
bool isPlainFile(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return access(path.c_str(), R_OK) == 0;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string reply(const char* word, std::string_view name) {
    return "%\n(" + std::string(word) + " " + commentSafe(name) + ")\n%\n";
}

} // namespace

LibraryLookup lookupProgram(const std::string& library, std::string_view name,
                            const std::string& ext) {
    if (!isLibraryName(name))
        return {LookupResult::Refused, {}};
    const std::string base = library + "/";
    std::vector<std::string> candidates{std::string(name)};
    if (!ext.empty()) {
        candidates.push_back(std::string(name) + "." + ext);
        if (allDigits(name))
            candidates.push_back("O" + std::string(name) + "." + ext);
    }
    for (const std::string& candidate : candidates) {
        if (!isLibraryName(candidate))
            continue;
        if (isPlainFile(base + candidate))
            return {LookupResult::Found, base + candidate, {}};
        // There but not ours to read: "not found" would send the operator looking for a
        // program that exists; refuse and say why.
        struct stat info {};
        if (lstat((base + candidate).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access((base + candidate).c_str(), R_OK) != 0) {
            const int error = errno;
            return {LookupResult::Refused, {}, candidate + ": " + std::strerror(error)};
        }
    }
    return {LookupResult::NotFound, {}};
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
