#pragma once
// The inbox: where received programs are filed. Files are the record of truth, so nothing is
// ever overwritten and nothing half-received ever appears under a program's name:
//  * a receive writes into a hidden temporary file in the inbox itself (same file system, so
//    the final rename is atomic);
//  * storing flushes it to disk and gives it the name only if no file has it; a name that is
//    taken is swapped in one step, and the file that held it -- whichever process wrote it --
//    is kept as NAME.~N~ (the next free N); then the folder is flushed;
//  * a receive that did not end well goes to failed/ under a time-stamped name;
//  * what the service sends goes out of a hidden copy of its own (".sending-"), so that a run
//    cut short can tell an unfinished send from an unfinished receive.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "serve/FileSystem.h"

namespace corvane::serve {

struct StoreResult {
    std::string path;  // where the program now is; empty when it was not moved
    std::string error; // why not, or (with a path) why it may not survive a power cut
};

// What a run cut short (a crash, SIGKILL, a power cut) left in the inbox.
struct Leftovers {
    std::vector<std::string> receives; // unfinished receives, now in failed/
    std::vector<std::string> sends;    // what unfinished sends were sending (their labels)
    std::vector<std::string> errors;   // leftovers that could not be moved, and why
};

class InboxStore {
public:
    explicit InboxStore(std::string folder, std::shared_ptr<FileSystem> files = posixFileSystem())
        : m_folder(std::move(folder)), m_files(std::move(files)) {}

    // Creates the inbox (and failed/) when missing and checks that a file can be written in
    // it. Empty on success, else the reason.
    std::string prepare() const;

    // A new, empty, hidden file in the inbox for the next receive. Empty on failure.
    std::string createTemporary(std::string* error = nullptr) const;

    // A hidden copy of what is about to be sent: the bytes of the open file `fd`, or `text`.
    // `label` (a plain name) is kept in the copy's name, so that a send found unfinished at
    // the next start can say what it was sending. Empty on failure, with the reason.
    std::string sendCopy(int fd, std::string_view label, std::string* error = nullptr) const;
    std::string sendText(std::string_view text, std::string_view label,
                         std::string* error = nullptr) const;

    // Unfinished receives are moved into failed/ as `<prefix>-recovered-N` (empty ones are
    // removed), so that no received byte stays hidden; unfinished sends' copies are removed
    // (the library still has what they sent).
    Leftovers recoverLeftovers(const std::string& prefix) const;

    // Files `temporary` as `name` (a plain file name).
    StoreResult store(const std::string& temporary, const std::string& name) const;
    // Moves `temporary` into failed/ as `stamp` (".~N~" added when taken).
    StoreResult storeFailed(const std::string& temporary, const std::string& stamp) const;
    // A second name in failed/ for a file already filed (one whose folder could not be
    // flushed), so failed/ holds every receive that did not end well.
    StoreResult linkIntoFailed(const std::string& path, const std::string& stamp) const;

    const std::string& folder() const { return m_folder; }
    std::string failedFolder() const { return m_folder + "/failed"; }

private:
    StoreResult storeIn(const std::string& folder, const std::string& temporary,
                        const std::string& name) const;
    int placeAsNewVersion(const std::string& path, const std::string& target) const;
    std::string createHidden(const std::string& prefix, std::string_view label, int& fd,
                             std::string* error) const;

    std::string m_folder;
    std::shared_ptr<FileSystem> m_files;
};

} // namespace corvane::serve
