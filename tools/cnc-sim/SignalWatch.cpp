#include "SignalWatch.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace cncsim {

SignalWatch::SignalWatch() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    m_fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    // A reader of our stdout that went away must not kill the run before its summary.
    std::signal(SIGPIPE, SIG_IGN);
}

SignalWatch::~SignalWatch() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SignalWatch::stopRequested() {
    signalfd_siginfo info{};
    while (m_fd >= 0 && ::read(m_fd, &info, sizeof info) == ssize_t(sizeof info))
        m_stopped = true;
    return m_stopped;
}

} // namespace cncsim
