#include "transfer/FileChoice.h"

#include "support/PathParts.h"
#include "support/StringIds.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace corvane {
namespace {

std::string printed(const char* format, auto... values) {
    char text[64];
    int length = std::snprintf(text, sizeof text, format, values...);
    if (length < 0) {
        return std::string();
    }
    return std::string(text,
                       std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

// "All files (*.*)" carries the Windows pattern in its text; the dialog shows the patterns
// that really apply, so only the words before it are kept.
std::string labelWithoutPatterns(std::string text) {
    std::size_t open = text.rfind(" (");
    if (open != std::string::npos && !text.empty() && text.back() == ')') {
        text.erase(open);
    }
    return text;
}

std::string caseMapped(std::string text, int (*map)(int)) {
    for (char& c : text) {
        c = static_cast<char>(map(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

uint64_t fileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    int64_t ticks = seconds * static_cast<int64_t>(FileTimeTicksPerSecond) + nanoseconds / 100;
    return static_cast<uint64_t>(static_cast<int64_t>(FileTimeUnixEpoch) + ticks);
}

int64_t unixFromFileTime(uint64_t fileTime) {
    int64_t ticks = static_cast<int64_t>(fileTime) - static_cast<int64_t>(FileTimeUnixEpoch);
    int64_t perSecond = static_cast<int64_t>(FileTimeTicksPerSecond);
    int64_t seconds = ticks / perSecond;
    if (ticks % perSecond < 0) {
        --seconds;
    }
    return seconds;
}

bool defaultExtensionIsUsable(const char* defExt) {
    return defExt != nullptr && defExt[0] != '\0' && defExt[0] != '*';
}

std::vector<NameFilter> ncFileFilters(Language language, const char* defExt) {
    std::vector<NameFilter> filters;
    if (defaultExtensionIsUsable(defExt)) {
        NameFilter nc{WexLoadString(language, IDS_FILTER_NC_FILE), {std::string("*.") + defExt}};
#ifndef _WIN32
        for (int (*map)(int) : {::tolower, ::toupper}) {
            std::string pattern = caseMapped(nc.patterns.front(), map);
            if (std::find(nc.patterns.begin(), nc.patterns.end(), pattern) == nc.patterns.end()) {
                nc.patterns.push_back(pattern);
            }
        }
#endif
        filters.push_back(std::move(nc));
    }
#ifdef _WIN32
    const char* everything = "*.*";
#else
    const char* everything = "*"; // "*.*" would hide names without a dot
#endif
    filters.push_back(
        {labelWithoutPatterns(WexLoadString(language, IDS_FILTER_ALL_FILES)), {everything}});
    return filters;
}

ChosenFile lookUpChosenFile(const std::string& path) {
    namespace fs = std::filesystem;
    ChosenFile file;
    file.path = path;
    std::error_code error;
    fs::path target(path);
    if (!fs::is_regular_file(target, error)) {
        return file;
    }
    uintmax_t size = fs::file_size(target, error);
    if (error) {
        return file;
    }
    fs::file_time_type written = fs::last_write_time(target, error);
    if (error) {
        return file;
    }
    auto sinceEpoch = std::chrono::file_clock::to_sys(written).time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds);
    file.found = true;
    file.size = size;
    file.writeTime = fileTimeFromUnix(seconds.count(), static_cast<uint32_t>(nanoseconds.count()));
    return file;
}

int fillSendEntries(std::span<const ChosenFile> files, SendQueueEntry* entries, int capacity) {
    if (entries == nullptr || capacity <= 0) {
        return 0;
    }
    int filled = 0;
    for (const ChosenFile& file : files) {
        if (filled >= capacity) {
            break;
        }
        SendQueueEntry& entry = entries[filled];
        if (file.path.empty() || file.path.size() >= sizeof entry.Name) {
            continue;
        }
        entry = SendQueueEntry{};
        std::memcpy(entry.Name, file.path.data(), file.path.size());
        if (file.found) {
            entry.WriteTime = file.writeTime;
            entry.Size = static_cast<uint32_t>(file.size & 0xFFFFFFFFu);
        }
        ++filled;
    }
    return filled;
}

int rememberFolder(std::span<char> defDir, const char* chosenPath) {
    if (chosenPath == nullptr || defDir.empty()) {
        return 0;
    }
    std::string folder = WexSplitPath(chosenPath, PathDrive | PathFolder);
    if (folder.empty() || folder.size() >= defDir.size()) {
        return 0;
    }
    std::memcpy(defDir.data(), folder.c_str(), folder.size() + 1);
    return 1;
}

std::string formatListDate(Language language, const std::tm& local) {
    int year = local.tm_year + 1900;
    if (year >= 1900 && year <= 1999) {
        year -= 1900;
    }
    return printed(WexLoadString(language, IDS_FMT_LIST_DATE), year, local.tm_mon + 1,
                   local.tm_mday);
}

std::string formatListTime(Language language, const std::tm& local) {
    const char* half = WexLoadString(language, local.tm_hour < 12 ? IDS_TIME_AM : IDS_TIME_PM);
    return printed(WexLoadString(language, IDS_FMT_LIST_TIME), half, local.tm_hour % 12,
                   local.tm_min);
}

std::string formatListSize(uint32_t size) {
    // Unsigned throughout: a file of 2 GiB or more must not read as a negative size.
    std::string digits = std::to_string(size);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

bool localTimeOfFileTime(uint64_t fileTime, std::tm& local) {
    if (fileTime == 0) {
        return false;
    }
    std::time_t seconds = static_cast<std::time_t>(unixFromFileTime(fileTime));
#ifdef _WIN32
    return localtime_s(&local, &seconds) == 0;
#else
    return localtime_r(&seconds, &local) != nullptr;
#endif
}

} // namespace corvane
