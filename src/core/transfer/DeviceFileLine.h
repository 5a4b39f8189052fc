#pragma once
// An ordinary file standing in for the port: a send writes into it, a receive reads from it.
// There is no machine on the other side, so nothing ever holds the line.

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
    void purge() override {}
    void dropDtr() override {}
    void close() override;

private:
    DeviceFileLine(int fd, bool forSending) : m_fd(fd), m_forSending(forSending) {}

    int m_fd;
    bool m_forSending;
    unsigned char m_buffer[4096];
    size_t m_begin = 0;
    size_t m_end = 0;
};

} // namespace corvane
