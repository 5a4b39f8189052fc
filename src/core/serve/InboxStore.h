#pragma once
// The inbox: where received programs are filed. Files are the record of truth, so nothing is
// ever overwritten and nothing half-received ever appears under a program's name:
//  * a receive writes into a hidden temporary file in the inbox itself (same file system, so
//    the final rename is atomic);
//  * storing flushes it to disk, keeps an existing file of the same name as NAME.~N~ (the next
//    free N), then renames the temporary file to NAME and flushes the folder;
//  * a receive that did not end well goes to failed/ under a time-stamped name.

#include <string>
#include <vector>

namespace corvane::serve {

struct StoreResult {
    std::string path;  // where the program now is; empty on failure
    std::string error; // why not
};

class InboxStore {
public:
    explicit InboxStore(std::string folder) : m_folder(std::move(folder)) {}

    // Creates the inbox (and failed/) when missing and checks that a file can be written in
    // it. Empty on success, else the reason.
    std::string prepare() const;

    // A new, empty, hidden file in the inbox for the next receive. Empty on failure.
    std::string createTemporary(std::string* error = nullptr) const;

    // Receives cut short by a crash or a power cut leave their hidden temporary files; they
    // are moved into failed/ as `<prefix>-recovered-N` (empty ones are removed), so that no
    // received byte stays hidden. Returns the paths they were moved to.
    std::vector<std::string> recoverLeftovers(const std::string& prefix) const;

    // Files `temporary` as `name` (a plain file name).
    StoreResult store(const std::string& temporary, const std::string& name) const;
    // Moves `temporary` into failed/ as `stamp` (".~N~" added when taken).
    StoreResult storeFailed(const std::string& temporary, const std::string& stamp) const;

    const std::string& folder() const { return m_folder; }
    std::string failedFolder() const { return m_folder + "/failed"; }

private:
    StoreResult storeIn(const std::string& folder, const std::string& temporary,
                        const std::string& name) const;

    std::string m_folder;
};

// Makes `path` durable: fsync of the file. False when that failed.
bool syncFile(const std::string& path);
// fsync of a folder, so a rename in it survives a power cut.
bool syncFolder(const std::string& folder);

} // namespace corvane::serve
