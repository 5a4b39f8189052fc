#pragma once
// The real file system, with faults on call: a chosen call fails with a chosen errno (a write
// after half of its bytes, as a full disk does), and a hook runs before each call so a test
// can act as a second process at the worst moment. Calls that succeed leave errno at EBADF on
// purpose: a reason read from errno after a later call would then be visibly wrong.

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "serve/FileSystem.h"

namespace corvane::serve {

class FaultyFileSystem : public FileSystem {
public:
    enum class Call { Write, Sync, SyncPath, Truncate, RenameNoReplace, Exchange, Rename, Link };

    // Fails `count` calls of `call` (whose path, when it has one, contains `pathPart`, or is
    // it when `exact`) with `error`, after `skip` such calls went through.
    void fail(Call call, int error, std::string pathPart = {}, int count = 1, int skip = 0,
              bool exact = false) {
        m_faults.push_back({call, error, std::move(pathPart), count, skip, exact});
    }
    // Runs before every call that takes a name: (call, from, to).
    std::function<void(Call, const std::string&, const std::string&)> before;
    int calls = 0;

    WriteResult writeAll(int fd, std::string_view data) override {
        if (const int e = fault(Call::Write, {})) {
            // Half of it goes in, then the disk is full.
            const WriteResult half = FileSystem::writeAll(fd, data.substr(0, data.size() / 2));
            return {half.written, e};
        }
        return done(FileSystem::writeAll(fd, data));
    }
    int sync(int fd) override {
        if (const int e = fault(Call::Sync, {}))
            return e;
        return done(FileSystem::sync(fd));
    }
    int syncPath(const std::string& path) override {
        if (const int e = fault(Call::SyncPath, path))
            return e;
        return done(FileSystem::syncPath(path));
    }
    int truncate(int fd, off_t size) override {
        if (const int e = fault(Call::Truncate, {}))
            return e;
        return done(FileSystem::truncate(fd, size));
    }
    int renameNoReplace(const std::string& from, const std::string& to) override {
        hook(Call::RenameNoReplace, from, to);
        if (const int e = fault(Call::RenameNoReplace, to))
            return e;
        return done(FileSystem::renameNoReplace(from, to));
    }
    int exchange(const std::string& a, const std::string& b) override {
        hook(Call::Exchange, a, b);
        if (const int e = fault(Call::Exchange, b))
            return e;
        return done(FileSystem::exchange(a, b));
    }
    int rename(const std::string& from, const std::string& to) override {
        hook(Call::Rename, from, to);
        if (const int e = fault(Call::Rename, to))
            return e;
        return done(FileSystem::rename(from, to));
    }
    int link(const std::string& from, const std::string& to) override {
        hook(Call::Link, from, to);
        if (const int e = fault(Call::Link, to))
            return e;
        return done(FileSystem::link(from, to));
    }

private:
    struct Fault {
        Call call;
        int error;
        std::string pathPart;
        int count;
        int skip;
        bool exact;
    };

    void hook(Call call, const std::string& from, const std::string& to) {
        if (before)
            before(call, from, to);
    }
    int fault(Call call, const std::string& path) {
        ++calls;
        for (Fault& f : m_faults) {
            if (f.call != call || f.count == 0 ||
                (f.exact ? path != f.pathPart : path.find(f.pathPart) == std::string::npos))
                continue;
            if (f.skip > 0) {
                --f.skip;
                continue;
            }
            --f.count;
            errno = f.error;
            return f.error;
        }
        return 0;
    }
    template <typename T> T done(T result) {
        errno = EBADF;
        return result;
    }

    std::vector<Fault> m_faults;
};

} // namespace corvane::serve
