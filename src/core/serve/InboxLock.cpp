#include "serve/InboxLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serve/FileSystem.h"

namespace corvane::serve {

InboxLock::~InboxLock() {
    if (m_fd >= 0)
        close(m_fd);
}

std::string InboxLock::acquire(const std::string& folder) {
    const std::string path = folder + "/" + FileName;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0664);
    if (fd < 0)
        return errorText(path, errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        std::string reason;
        if (error == EWOULDBLOCK) {
            char text[32] = "";
            const ssize_t got = pread(fd, text, sizeof text - 1, 0);
            const long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
            reason = folder + " is served by another service" +
                     (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) +
                     "; one inbox takes one service";
        } else {
            reason = errorText(path, error);
        }
        close(fd);
        return reason;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        const std::string reason = errorText(path, errno);
        close(fd);
        return reason;
    }
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
    return {};
}

} // namespace corvane::serve
