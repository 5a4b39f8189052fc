#pragma once
// The library folder as the shop's pages see it: a retained `corvane/LINE/library` message
// listing the programs a person may push to the line. A folder may hold thousands of files;
// the message lists the first LibraryListingMax by name and says how many more there are, so
// one message stays small enough for any broker's limit and any phone's memory.

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::shop {

constexpr size_t LibraryListingMax = 500;
// A folder is looked at no more often than this; a change shows at the next look.
constexpr uint64_t LibraryLookIntervalUs = 2'000'000;
// And listed again at least this often even when its own time did not change (a file
// rewritten in place does not change the folder's time).
constexpr uint64_t LibraryRefreshIntervalUs = 10'000'000;

// {"files":[{"name":"O0012.NC","size":1234,"modified":"2026-12-09T10:00:00Z"},...],"more":0}
// Plain files directly inside the folder, sorted by name; hidden files are left out. A folder
// that cannot be read gives {"files":[],"more":0,"error":"..."}.
std::string libraryListingJson(const std::string& folder, size_t maxFiles = LibraryListingMax);

// Decides when the listing is published: at the first look, when the folder's time changed,
// at least every LibraryRefreshIntervalUs, and only when the text differs from what was
// published last (or after resend(), when the broker may have lost it).
class LibraryWatch {
public:
    explicit LibraryWatch(std::string folder, size_t maxFiles = LibraryListingMax)
        : m_folder(std::move(folder)), m_maxFiles(maxFiles) {}

    // The listing to publish now, if any. Cheap when nothing is due: no look at the disk.
    std::optional<std::string> due(uint64_t nowUs);
    // After a reconnect: the next look publishes even an unchanged listing.
    void resend() {
        m_published.reset();
        m_lookedUs.reset();
    }

private:
    std::string m_folder;
    size_t m_maxFiles;
    std::optional<uint64_t> m_lookedUs;
    uint64_t m_listedUs = 0;
    int64_t m_folderTime = 0;
    std::optional<std::string> m_published;
};

} // namespace corvane::shop
