#pragma once
// SIGINT, SIGTERM and SIGHUP arrive on a descriptor that the mode loops poll, so that a stop
// request ends the run through the normal path (summary, symlink removed) without a handler
// that would need global state.

namespace cncsim {

class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return m_fd; }
    // True once a stop signal has arrived; reads it off the descriptor.
    bool stopRequested();

private:
    int m_fd = -1;
    bool m_stopped = false;
};

} // namespace cncsim
