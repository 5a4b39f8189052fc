#pragma once
// A pseudo-terminal standing in for the machine: the line gets the terminal end, the test
// reads and writes the other.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <utility>

namespace corvane::testing {

class PtyPair {
public:
    PtyPair() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_slave = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
    }
    ~PtyPair() {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && m_slave >= 0; }
    std::string slaveName() const { return ptsname(m_master); }
    int slaveFd() const { return m_slave; }
    int masterFd() const { return m_master; }
    // Hands the terminal end over to a line, which closes it.
    int takeSlave() { return std::exchange(m_slave, -1); }
    // The machine's end goes away, as an unplugged adapter does.
    void closeMaster() {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    void send(const std::string& bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // What the line sent, collected until `quietMs` pass without a byte.
    std::string received(int quietMs = 50) {
        std::string out;
        pollfd p{m_master, POLLIN, 0};
        while (poll(&p, 1, quietMs) > 0) {
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int m_master = -1;
    int m_slave = -1;
};

} // namespace corvane::testing
