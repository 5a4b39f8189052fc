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
constexpr const char* ReceivingPrefix = ".receiving-";
constexpr const char* SendingPrefix = ".sending-";
constexpr size_t RandomPart = 6; // the XXXXXX of mkstemp

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
    error = errorText(folder, errno);
    return false;
}

std::string versionName(const std::string& target, int n) {
    return target + ".~" + std::to_string(n) + "~";
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

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

std::string InboxStore::createHidden(const std::string& prefix, std::string_view label, int& fd,
                                     std::string* error) const {
    const std::string suffix = label.empty() ? std::string() : "." + std::string(label);
    std::string path = m_folder + "/" + prefix + "XXXXXX" + suffix;
    fd = mkostemps(path.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errorText(m_folder, errno);
        return {};
    }
    // mkstemp makes the file private; a filed program gets the mode any new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return path;
}

std::string InboxStore::createTemporary(std::string* error) const {
    int fd = -1;
    std::string path = createHidden(ReceivingPrefix, {}, fd, error);
    if (fd >= 0)
        close(fd);
    return path;
}

std::string InboxStore::sendText(std::string_view text, std::string_view label,
                                 std::string* error) const {
    int fd = -1;
    const std::string path = createHidden(SendingPrefix, label, fd, error);
    if (path.empty())
        return {};
    const WriteResult written = m_files->writeAll(fd, text);
    close(fd);
    if (written.error != 0) {
        if (error)
            *error = errorText(path, written.error);
        unlink(path.c_str());
        return {};
    }
    return path;
}

std::string InboxStore::sendCopy(int source, std::string_view label, std::string* error) const {
    int fd = -1;
    const std::string path = createHidden(SendingPrefix, label, fd, error);
    if (path.empty())
        return {};
    char buffer[65536];
    int failure = 0;
    std::string failed = path;
    for (;;) {
        const ssize_t got = read(source, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = errno;
            failed = std::string(label);
            break;
        }
        if (got == 0)
            break;
        const WriteResult written =
            m_files->writeAll(fd, std::string_view(buffer, static_cast<size_t>(got)));
        if (written.error != 0) {
            failure = written.error;
            break;
        }
    }
    close(fd);
    if (failure != 0) {
        if (error)
            *error = errorText(failed, failure);
        unlink(path.c_str());
        return {};
    }
    return path;
}

Leftovers InboxStore::recoverLeftovers(const std::string& prefix) const {
    std::vector<std::string> names;
    if (DIR* dir = opendir(m_folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (startsWith(name, ReceivingPrefix) || startsWith(name, SendingPrefix))
                names.push_back(name);
        }
        closedir(dir);
    }
    Leftovers found;
    int n = 0;
    for (const std::string& name : names) {
        const std::string path = m_folder + "/" + name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (startsWith(name, SendingPrefix)) {
            // ".sending-XXXXXX.LABEL"
            const size_t labelAt = std::strlen(SendingPrefix) + RandomPart + 1;
            found.sends.push_back(name.size() > labelAt ? name.substr(labelAt) : std::string());
            unlink(path.c_str());
            continue;
        }
        if (info.st_size == 0) {
            unlink(path.c_str());
            continue;
        }
        const StoreResult stored = storeFailed(path, prefix + "-recovered-" + std::to_string(++n));
        if (!stored.path.empty())
            found.receives.push_back(stored.path);
        else
            found.errors.push_back(stored.error);
    }
    return found;
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

StoreResult InboxStore::linkIntoFailed(const std::string& path, const std::string& stamp) const {
    std::string error;
    if (!makeFolder(failedFolder(), error))
        return {{}, error};
    const std::string target = failedFolder() + "/" + stamp;
    for (int n = 0; n <= MaxVersions; ++n) {
        const std::string name = n == 0 ? target : versionName(target, n);
        const int e = m_files->link(path, name);
        if (e == 0)
            return {name, {}};
        if (e != EEXIST)
            return {{}, errorText(name, e)};
    }
    return {{}, target + ": no free version name"};
}

// `path` takes the next free NAME.~N~ of `target`, never replacing a file.
int InboxStore::placeAsNewVersion(const std::string& path, const std::string& target) const {
    for (int n = 1; n <= MaxVersions; ++n) {
        const std::string version = versionName(target, n);
        int e = m_files->renameNoReplace(path, version);
        if (e == EINVAL) {
            e = m_files->link(path, version);
            if (e == 0)
                m_files->unlink(path);
        }
        if (e != EEXIST)
            return e;
    }
    return EEXIST;
}

StoreResult InboxStore::storeIn(const std::string& folder, const std::string& temporary,
                                const std::string& name) const {
    if (const int e = m_files->syncPath(temporary))
        return {{}, errorText("flushing " + temporary + " to disk", e)};
    const std::string target = folder + "/" + name;
    // The name is taken only if it is free: a second service, a person's copy or a script may
    // have written it since we last looked, and a plain rename would unlink their file.
    int e = m_files->renameNoReplace(temporary, target);
    if (e == EINVAL) {
        e = m_files->link(temporary, target);
        if (e == 0)
            m_files->unlink(temporary);
    }
    if (e == EEXIST) {
        // Taken: the new file takes the name in one swap (so the name never stands empty),
        // and whatever file it held -- ours or another writer's -- goes on as a version.
        e = m_files->exchange(temporary, target);
        if (e == 0) {
            if (const int v = placeAsNewVersion(temporary, target))
                return {target, errorText("keeping the earlier " + name +
                                              " as a version "
                                              "(it stays as " +
                                              temporary + ")",
                                          v)};
        } else if (e == EINVAL) {
            // A file system without the swap: a hard link keeps the old file, then the
            // rename. A writer in between those two steps is the one case not covered.
            for (int n = 1; n <= MaxVersions; ++n) {
                e = m_files->link(target, versionName(target, n));
                if (e != EEXIST)
                    break;
            }
            if (e == 0)
                e = m_files->rename(temporary, target);
        }
    }
    if (e != 0)
        return {{}, errorText("filing " + target, e)};
    if (const int f = m_files->syncPath(folder))
        return {target, errorText("flushing the folder " + folder + " to disk", f)};
    return {target, {}};
}

} // namespace corvane::serve
