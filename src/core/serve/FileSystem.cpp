#include "serve/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::serve {

WriteResult FileSystem::writeAll(int fd, std::string_view data) {
    WriteResult result;
    while (result.written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + result.written, data.size() - result.written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result.error = n < 0 ? errno : EIO;
            break;
        }
        result.written += static_cast<size_t>(n);
    }
    return result;
}

int FileSystem::sync(int fd) {
    return ::fsync(fd) == 0 ? 0 : errno;
}

int FileSystem::syncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

int FileSystem::truncate(int fd, off_t size) {
    return ::ftruncate(fd, size) == 0 ? 0 : errno;
}

int FileSystem::renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno == ENOSYS ? EINVAL : errno;
}

int FileSystem::exchange(const std::string& a, const std::string& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0)
        return 0;
    return errno == ENOSYS ? EINVAL : errno;
}

int FileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int FileSystem::link(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int FileSystem::unlink(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

std::shared_ptr<FileSystem> posixFileSystem() {
    return std::make_shared<FileSystem>();
}

std::string errorText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

} // namespace corvane::serve
