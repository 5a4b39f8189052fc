#pragma once
// The machine's end of the line: the master side of a pseudo-terminal. The host program opens
// the slave as if it were a serial port.
//
// The simulator keeps one descriptor of the slave open itself. Without it the pty would hang
// up whenever the host closes the port (the master then reads EIO until someone reopens), and
// it also lets us ask how many characters the host has not read yet. Because that descriptor
// hides open and close from the master, the host's opens are watched with inotify instead.

#include <cstddef>
#include <cstdint>
#include <string>

namespace cncsim {

class Pty {
public:
    Pty() = default;
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Opens the pair and sets the line raw. On failure returns false with `error` set.
    bool create(std::string& error);
    // Places a symlink to the slave at `path`, replacing an older symlink there.
    bool link(const std::string& path, std::string& error);

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    // The inotify descriptor to poll for the host's opens and closes; call readClientEvents()
    // when it is readable.
    int watchFd() const { return m_watch; }
    // Returns how many opens by the host were seen since the last call.
    int readClientEvents();
    int openClients() const { return m_clients; }

    // Characters that reached the host's side and are not read yet. What was just written to
    // the master may still be on its way through the kernel's buffer and is not counted, so a
    // 0 means "all read" only once it has held for kSettleUs.
    size_t unreadByClient() const;
    static constexpr int64_t kSettleUs = 150'000;

private:
    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    int m_clients = 0;
    std::string m_slavePath;
    std::string m_linkPath;
};

} // namespace cncsim
