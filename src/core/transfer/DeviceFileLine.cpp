#include "transfer/DeviceFileLine.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "transfer/LineInput.h"
#include "transfer/TransferHost.h"

namespace corvane {

OpenedLine DeviceFileLine::open(const std::string& path, int direction) {
    const bool sending = direction == DirectionSend;
    // A receive only reads the file; asking for write access would refuse read-only files.
    const int flags = sending ? (O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);

    OpenedLine opened;
    if (fd < 0) {
        opened.error.kind = OpenFailure::Other;
        opened.error.text = std::strerror(errno);
        return opened;
    }
    opened.line.reset(new DeviceFileLine(fd, sending));
    return opened;
}

DeviceFileLine::~DeviceFileLine() {
    close();
}

bool DeviceFileLine::holds(LineHolds& out) {
    out = LineHolds{};
    return true;
}

bool DeviceFileLine::writeByte(uint8_t byte, uint64_t waitMicros) {
    if (m_fd < 0)
        return false;
    if (!m_forSending)
        return true; // a receive writes nothing into the file it reads
    if (m_pending == sizeof m_buffer && !flushPending()) {
        // Disk full or a vanished medium: the caller retries, so do not let it spin.
        SleepMicros(waitMicros);
        return false;
    }
    m_buffer[m_pending++] = byte;
    return true;
}

bool DeviceFileLine::flushPending() {
    size_t done = 0;
    while (done < m_pending) {
        const ssize_t n = ::write(m_fd, m_buffer + done, m_pending - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    // What the file took is gone from the block; the rest waits for the next try.
    if (done > 0 && done < m_pending)
        std::memmove(m_buffer, m_buffer + done, m_pending - done);
    m_pending -= done;
    return m_pending == 0;
}

ReadResult DeviceFileLine::readByte(uint64_t) {
    if (m_fd < 0 || m_forSending)
        return {};
    if (m_begin == m_end) {
        ssize_t n;
        do {
            n = ::read(m_fd, m_buffer, sizeof m_buffer);
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return {ReadStatus::Error, 0};
        m_begin = 0;
        m_end = static_cast<size_t>(n);
        if (n == 0)
            return {}; // end of file
    }
    return {ReadStatus::Byte, m_buffer[m_begin++]};
}

void DeviceFileLine::waitForChange(uint64_t waitMicros) {
    SleepMicros(waitMicros);
}

void DeviceFileLine::drainOutput(uint64_t) {
    // One try: a disk that refused the block just now is not going to take it in the next
    // second; outputDelivered() tells the port layer what became of it.
    if (m_fd >= 0 && m_forSending)
        flushPending();
}

void DeviceFileLine::close() {
    if (m_fd >= 0) {
        flushPending();
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace corvane
