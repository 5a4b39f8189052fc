#include "shop/LibraryListing.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>
#include <vector>

#include <sys/stat.h>

#include "support/TimeText.h"

namespace corvane::shop {

namespace fs = std::filesystem;

namespace {

struct Entry {
    std::string name;
    uintmax_t size = 0;
    int64_t modified = 0; // seconds since the epoch
};

int64_t modifiedSeconds(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : 0;
}

int64_t folderTime(const std::string& folder) {
    std::error_code error;
    const auto time = fs::last_write_time(folder, error);
    return error ? -1 : static_cast<int64_t>(time.time_since_epoch().count());
}

} // namespace

std::string libraryListingJson(const std::string& folder, size_t maxFiles) {
    nlohmann::json out = {{"files", nlohmann::json::array()}, {"more", 0}};
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) {
        out["error"] = error.message();
        return out.dump();
    }
    std::vector<Entry> entries;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error)
            break;
        const std::string name = it->path().filename().string();
        std::error_code statError;
        // symlink_status: a link could lead out of the folder, and the service never sends one.
        if (name.empty() || name[0] == '.' || !fs::is_regular_file(it->symlink_status(statError)))
            continue;
        Entry entry{name, it->file_size(statError), 0};
        if (statError)
            continue;
        entry.modified = modifiedSeconds(it->path());
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    const size_t shown = std::min(entries.size(), maxFiles);
    for (size_t i = 0; i < shown; ++i)
        out["files"].push_back({{"name", entries[i].name},
                                {"size", entries[i].size},
                                {"modified", isoUtc(entries[i].modified)}});
    out["more"] = entries.size() - shown;
    // Names come from the disk and may not be UTF-8: replaced rather than refused.
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::string> LibraryWatch::due(uint64_t nowUs) {
    if (m_lookedUs && nowUs - *m_lookedUs < LibraryLookIntervalUs)
        return std::nullopt;
    m_lookedUs = nowUs;
    const int64_t time = folderTime(m_folder);
    if (m_published && time == m_folderTime && nowUs - m_listedUs < LibraryRefreshIntervalUs)
        return std::nullopt;
    m_folderTime = time;
    m_listedUs = nowUs;
    std::string listing = libraryListingJson(m_folder, m_maxFiles);
    if (m_published && *m_published == listing)
        return std::nullopt;
    m_published = listing;
    return listing;
}

} // namespace corvane::shop
