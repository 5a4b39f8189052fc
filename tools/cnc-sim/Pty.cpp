#include "Pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cncsim {

namespace {

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

Pty::~Pty() {
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    for (int fd : {m_watch, m_slave, m_master})
        if (fd >= 0)
            ::close(fd);
}

bool Pty::create(std::string& error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0) {
        error = failure("posix_openpt");
        return false;
    }
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = failure("grantpt/unlockpt");
        return false;
    }
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) {
        error = failure("ptsname");
        return false;
    }
    m_slavePath = name;

    // Raw both ways: no echo of what the host sends, no line editing, no CR/LF mapping and no
    // flow control by the kernel, which would swallow the DC codes this simulator is about.
    termios tio{};
    if (tcgetattr(m_master, &tio) != 0) {
        error = failure("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(m_master, TCSANOW, &tio) != 0) {
        error = failure("tcsetattr");
        return false;
    }

    m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0) {
        error = failure(("open " + m_slavePath).c_str());
        return false;
    }
    // Watch only after our own open, so that the first open seen is the host's.
    m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 || inotify_add_watch(m_watch, m_slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error = failure("inotify");
        return false;
    }
    return true;
}

bool Pty::link(const std::string& path, std::string& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symlink; not replaced";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::symlink(m_slavePath.c_str(), path.c_str()) != 0) {
        error = failure(("symlink " + path).c_str());
        return false;
    }
    m_linkPath = path;
    return true;
}

int Pty::readClientEvents() {
    int opened = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) {
                ++opened;
                ++m_clients;
            }
            if ((event->mask & IN_CLOSE) && m_clients > 0)
                --m_clients;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return opened;
}

size_t Pty::unreadByClient() const {
    int count = 0;
    if (::ioctl(m_slave, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return size_t(count);
}

} // namespace cncsim
