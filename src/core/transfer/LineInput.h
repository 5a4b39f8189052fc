#pragma once
// What the machine sent, as a line that reads it in user space keeps it (a serial port, a
// network device server): every byte through the flow filter first, so an XOFF holds the very
// next write; the data bytes kept until the engine reads them; and the read that waits for
// them on the device. The lines differ only in how bytes come in and how they wait.

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <string>

#include "support/Clock.h"
#include "transfer/Line.h"
#include "transfer/XonXoffFilter.h"

namespace corvane {

inline timespec MicrosToTimespec(uint64_t micros) {
    return timespec{static_cast<time_t>(micros / 1000000u),
                    static_cast<long>(micros % 1000000u) * 1000};
}

// A pause that a signal does not cut short into a spin: the wait of a line with nothing to
// wait on (a failed device must not wake a poll at once, over and over).
inline void SleepMicros(uint64_t micros) {
    const timespec ts = MicrosToTimespec(micros);
    ppoll(nullptr, 0, &ts, nullptr);
}

class LineInput {
public:
    // Input the machine sends while we only write (echoes, stray bytes) is kept, but not
    // without bound: beyond this the excess is dropped, as an overrun would.
    static constexpr size_t MaxBuffered = 64 * 1024;

    // NUL bytes never reach the reader (a serial driver discarded them too).
    explicit LineInput(const FlowSettings& flow) : m_filter(flow, true) {}

    // A receive keeps every data byte: when its backlog is full the rest stays in the driver
    // or the socket, whose flow control then holds the machine. A send only watches the input
    // for the flow codes; data bytes beyond the backlog are of no use to it and are let go.
    void setReceiving(bool receiving) { m_receiving = receiving; }

    bool held() const { return m_filter.held(); }
    void holdUntilXon() { m_filter.hold(); }
    // The flow codes seen so far no longer count (a line turned round to listen again).
    void forgetFlow() { m_filter.forget(); }

    // Lets go of what has been read, so a reader that keeps pace never lets the buffer grow.
    // Called before bytes are taken in.
    void compact() {
        if (m_begin > 0 && (m_begin == m_bytes.size() || m_begin >= 4096)) {
            m_bytes.erase(0, m_begin);
            m_begin = 0;
        }
    }
    // How many bytes may be taken in now, up to `chunk`: a receive takes no more than fits.
    size_t room(size_t chunk) const {
        if (!m_receiving)
            return chunk;
        const size_t backlog = m_bytes.size() - m_begin;
        return backlog >= MaxBuffered ? 0 : std::min(chunk, MaxBuffered - backlog);
    }
    // Bytes as they came off the device: flow codes change the hold, data is kept.
    void take(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (m_filter.take(bytes[i]) && (m_receiving || m_bytes.size() - m_begin < MaxBuffered))
                m_bytes.push_back(static_cast<char>(bytes[i]));
        }
    }
    bool next(uint8_t& byte) {
        if (m_begin >= m_bytes.size())
            return false;
        byte = static_cast<uint8_t>(m_bytes[m_begin++]);
        return true;
    }
    void clear() {
        m_bytes.clear();
        m_begin = 0;
    }

    // The line's readByte: a byte kept, else `takeIn(now)` (false once the device failed) and
    // `wait(micros)` on the device (false when it reports a fault), until a byte comes or
    // `waitMicros` have passed.
    template <typename TakeIn, typename Wait>
    ReadResult read(uint64_t waitMicros, TakeIn takeIn, Wait wait) {
        uint64_t now = WexGetTickCount64();
        const uint64_t deadline = now + waitMicros;
        for (;;) {
            const bool alive = takeIn(now);
            uint8_t byte = 0;
            if (next(byte))
                return {ReadStatus::Byte, byte};
            if (!alive)
                return {ReadStatus::Error, 0};
            if (now >= deadline)
                return {};
            if (!wait(deadline - now))
                return {ReadStatus::Error, 0};
            now = WexGetTickCount64();
        }
    }

private:
    XonXoffFilter m_filter;
    std::string m_bytes; // data bytes, flow codes and NULs taken out
    size_t m_begin = 0;  // the first not yet read
    bool m_receiving = false;
};

} // namespace corvane
