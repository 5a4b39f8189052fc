#include "app/LinkFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace corvane {

namespace {

bool isAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

void setError(std::string* error, const std::string& text) {
    if (error != nullptr)
        *error = text;
}

} // namespace

// A relative value is ignored, as the base-directory rules ask: it would put the socket
// wherever the program happened to be started.
std::string LinkFolderPath(const char* runtimeDir, const std::string& tempFolder, uint32_t uid) {
    if (isAbsolute(runtimeDir))
        return withoutTrailingSlashes(runtimeDir) + "/corvane";
    const std::string base =
        isAbsolute(tempFolder.c_str()) ? withoutTrailingSlashes(tempFolder) : std::string("/tmp");
    return (base == "/" ? std::string() : base) + "/corvane-" + std::to_string(uid);
}

std::string LinkServerPath(const std::string& folder) {
    return folder + "/" + LinkServerName;
}

std::string NotifySocketPath(const std::string& folder, uint32_t id) {
    char name[32];
    std::snprintf(name, sizeof name, "corvane-notify-%08x", id);
    return folder + "/" + name;
}

#ifdef _WIN32
uint32_t CurrentUserId() {
    return 0;
}

// Local servers are named pipes there, private to the session; no folder takes part.
bool FitsSocketAddress(const std::string& path) {
    return !path.empty();
}

int PrepareLinkFolder(const std::string& folder, uint32_t, std::string* error) {
    if (folder.empty()) {
        setError(error, "no folder for the instance link");
        return 0;
    }
    return 1;
}
#else
uint32_t CurrentUserId() {
    return static_cast<uint32_t>(::getuid());
}

bool FitsSocketAddress(const std::string& path) {
    return !path.empty() && path.size() < sizeof(sockaddr_un{}.sun_path);
}

int PrepareLinkFolder(const std::string& folder, uint32_t uid, std::string* error) {
    if (folder.empty()) {
        setError(error, "no folder for the instance link");
        return 0;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        setError(error, folder + ": " + std::strerror(errno));
        return 0;
    }
    // Checked on the opened folder itself, so a link put in its place is not followed and
    // nothing can be swapped in between the check and the answer.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        setError(error, folder + ": not a folder of its own (" + std::strerror(errno) + ")");
        return 0;
    }
    struct stat info {};
    const int statResult = ::fstat(fd, &info);
    const int statErrno = errno;
    ::close(fd);
    if (statResult != 0) {
        setError(error, folder + ": " + std::strerror(statErrno));
        return 0;
    }
    if (!S_ISDIR(info.st_mode)) {
        setError(error, folder + ": not a folder");
        return 0;
    }
    if (info.st_uid != uid) {
        setError(error, folder + ": owned by another user");
        return 0;
    }
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        setError(error, folder + ": open to other users (mode " + mode + ")");
        return 0;
    }
    return 1;
}
#endif

} // namespace corvane
