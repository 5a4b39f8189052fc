#pragma once
// One service per inbox. Two services filing into one inbox would each take the other's
// unfinished receives for leftovers of a crash, and their journal records would interleave;
// so the inbox holds a lock file (".serve.lock") with the holder's pid, locked with flock()
// for as long as the service runs. The kernel lets the lock go when the process ends however
// it ends, so a crash never leaves a stale lock behind; the pid is only there to be named.

#include <string>

namespace corvane::serve {

class InboxLock {
public:
    InboxLock() = default;
    ~InboxLock();
    InboxLock(const InboxLock&) = delete;
    InboxLock& operator=(const InboxLock&) = delete;

    // Takes the lock of `folder` (which must exist). Empty on success, else why not -- with the
    // holder's pid when another process holds it.
    std::string acquire(const std::string& folder);
    bool held() const { return m_fd >= 0; }

    static constexpr const char* FileName = ".serve.lock";

private:
    int m_fd = -1;
};

} // namespace corvane::serve
