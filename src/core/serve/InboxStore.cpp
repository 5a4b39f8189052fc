#include "serve/InboxStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace corvane::serve {
namespace {

constexpr int MaxVersions = 100000;
constexpr const char* TemporaryPrefix = ".receiving-";

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// The folder and every missing folder above it: an inbox "created when missing" is named
// whole (/var/lib/corvane/mill1 on a machine where /var/lib/corvane is not there yet).
bool makeFolder(const std::string& folder, std::string& error) {
    int made = mkdir(folder.c_str(), 0775);
    if (made != 0 && errno == ENOENT) {
        const size_t slash = folder.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            if (!makeFolder(folder.substr(0, slash), error))
                return false;
            made = mkdir(folder.c_str(), 0775);
        }
    }
    if (made == 0 || errno == EEXIST) {
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            return true;
        error = folder + ": not a folder";
        return false;
    }
    error = systemError(folder);
    return false;
}

} // namespace

bool syncFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool syncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

std::string InboxStore::prepare() const {
    std::string error;
    if (!makeFolder(m_folder, error) || !makeFolder(failedFolder(), error))
        return error;
    std::string probeError;
    const std::string probe = createTemporary(&probeError);
    if (probe.empty())
        return probeError;
    unlink(probe.c_str());
    return {};
}

std::vector<std::string> InboxStore::recoverLeftovers(const std::string& prefix) const {
    std::vector<std::string> leftovers;
    if (DIR* dir = opendir(m_folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(TemporaryPrefix, 0) == 0)
                leftovers.push_back(m_folder + "/" + name);
        }
        closedir(dir);
    }
    std::vector<std::string> moved;
    int n = 0;
    for (const std::string& path : leftovers) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (info.st_size == 0) {
            unlink(path.c_str());
            continue;
        }
        const StoreResult stored = storeFailed(path, prefix + "-recovered-" + std::to_string(++n));
        if (!stored.path.empty())
            moved.push_back(stored.path);
    }
    return moved;
}

std::string InboxStore::createTemporary(std::string* error) const {
    std::string path = m_folder + "/" + TemporaryPrefix + "XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = systemError(m_folder);
        return {};
    }
    // mkstemp makes the file private; a filed program gets the mode any new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return path;
}

StoreResult InboxStore::store(const std::string& temporary, const std::string& name) const {
    return storeIn(m_folder, temporary, name);
}

StoreResult InboxStore::storeFailed(const std::string& temporary, const std::string& stamp) const {
    std::string error;
    if (!makeFolder(failedFolder(), error))
        return {{}, error};
    return storeIn(failedFolder(), temporary, stamp);
}

StoreResult InboxStore::storeIn(const std::string& folder, const std::string& temporary,
                                const std::string& name) const {
    if (!syncFile(temporary))
        return {{}, systemError(temporary)};
    const std::string target = folder + "/" + name;
    // The old file gets a second name first (a hard link, so the program name never stands
    // empty), then the new one takes the name in one rename.
    if (exists(target)) {
        bool kept = false;
        for (int n = 1; n <= MaxVersions && !kept; ++n) {
            const std::string version = target + ".~" + std::to_string(n) + "~";
            if (link(target.c_str(), version.c_str()) == 0) {
                kept = true;
            } else if (errno != EEXIST) {
                // A file system without hard links: keep the old one by renaming it.
                if (!exists(version) && rename(target.c_str(), version.c_str()) == 0)
                    kept = true;
                else if (!exists(version))
                    return {{}, systemError(target)};
            }
        }
        if (!kept)
            return {{}, target + ": no free version name"};
    }
    if (rename(temporary.c_str(), target.c_str()) != 0)
        return {{}, systemError(target)};
    syncFolder(folder);
    return {target, {}};
}

} // namespace corvane::serve
