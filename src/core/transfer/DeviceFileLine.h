#pragma once
// An ordinary file standing in for the port: a send writes into it, a receive reads from it.
// There is no machine on the other side, so nothing ever holds the line, and the bytes of a
// send are gathered into blocks instead of going to the file one system call each. The block
// goes out when it is full and when the port layer drains the line (at every close, also
// after an interrupt); a block the file does not take is kept and offered again, so a full
// disk refuses bytes as it did one at a time.

#include <string>

#include "transfer/Line.h"

namespace corvane {

class DeviceFileLine : public Line {
public:
    // Send (2) creates or empties the file; receive (1) opens an existing one.
    static OpenedLine open(const std::string& path, int direction);
    ~DeviceFileLine() override;

    bool isFile() const override { return true; }
    bool holds(LineHolds& out) override;
    bool writeByte(uint8_t byte, uint64_t waitMicros) override;
    ReadResult readByte(uint64_t waitMicros) override;
    void holdUntilXon() override {}
    void waitForChange(uint64_t waitMicros) override;
    void drainOutput(uint64_t waitMicros) override;
    bool outputDelivered() const override { return m_pending == 0; }
    void purge() override {}
    void dropDtr() override {}
    void close() override;

private:
    DeviceFileLine(int fd, bool forSending) : m_fd(fd), m_forSending(forSending) {}
    // Writes out what is gathered; false when the file took less than all of it.
    bool flushPending();

    int m_fd;
    bool m_forSending;
    // Receive: what was read from the file and not handed out yet. Send: bytes not written yet.
    unsigned char m_buffer[64 * 1024];
    size_t m_begin = 0;
    size_t m_end = 0;
    size_t m_pending = 0;
};

} // namespace corvane
