#pragma once
// The file-system calls the inbox and the journal make to keep their promises (whole
// records, flushed files, names never taken from another writer), behind one small
// interface, so that tests can make any one of them fail as a full or failing disk does.
// Every call returns 0 or the errno of its failure, taken the moment it failed: nothing done
// afterwards (a close, a clean-up) can change the reason reported.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvane::serve {

struct WriteResult {
    size_t written = 0; // how much went in before the failure, when there was one
    int error = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Writes all of `data` (a short write is continued, EINTR retried).
    virtual WriteResult writeAll(int fd, std::string_view data);
    virtual int sync(int fd);
    // fsync of a file or a folder by its path.
    virtual int syncPath(const std::string& path);
    virtual int truncate(int fd, off_t size);
    // `from` takes the name `to` only when no file has it (EEXIST otherwise); EINVAL where
    // the file system cannot promise that.
    virtual int renameNoReplace(const std::string& from, const std::string& to);
    // The two names swap their files in one step; EINVAL where the file system cannot.
    virtual int exchange(const std::string& a, const std::string& b);
    virtual int rename(const std::string& from, const std::string& to);
    virtual int link(const std::string& from, const std::string& to);
    virtual int unlink(const std::string& path);
};

// The real calls.
std::shared_ptr<FileSystem> posixFileSystem();

// "what: reason" for an errno taken earlier.
std::string errorText(const std::string& what, int error);

} // namespace corvane::serve
