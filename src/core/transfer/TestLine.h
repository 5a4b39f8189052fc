#pragma once
// A scripted line for tests: the machine's side is a script of input bytes, holds and
// failures on a clock the test owns. No call ever waits on the wall clock: waiting advances
// the test clock instead.

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/Line.h"
#include "transfer/XonXoffFilter.h"

namespace corvane {

class ManualClock {
public:
    uint64_t now() const { return m_now; }
    void advance(uint64_t micros) { m_now += micros; }
    void set(uint64_t micros) { m_now = micros; }

private:
    uint64_t m_now = 0;
};

class TestLine : public Line {
public:
    TestLine(ManualClock& clock, FlowSettings flow, bool isFile = false);

    // --- the script ---
    // Bytes the machine sends, arriving at `atMicros` on the test clock (flow codes included:
    // with xonXoff on they are taken out and change the hold, as on a real port).
    void input(const std::string& bytes, uint64_t atMicros = 0);
    // After `bytesWritten` bytes have gone out, hold CTS (or DSR) off for `micros`.
    void holdCtsAfter(size_t bytesWritten, uint64_t micros);
    void holdDsrAfter(size_t bytesWritten, uint64_t micros);
    // Holds CTS or DSR from now until released.
    void setCtsHeld(bool held) { m_ctsHeld = held; }
    void setDsrHeld(bool held) { m_dsrHeld = held; }
    // Writes after `n` bytes fail (an adapter pulled out).
    void failWritesAfter(size_t n) { m_failWritesAfter = n; }
    // The device goes away (a USB adapter pulled out) after `n` bytes written, or when the
    // test clock reaches `atMicros`: writes fail, reads report an error, lost() turns true.
    void loseDeviceAfter(size_t n) { m_loseAfterBytes = n; }
    void loseDeviceAt(uint64_t atMicros) { m_loseAtMicros = atMicros; }
    // The line state cannot be read (ClearCommError failing).
    void failStatus(bool fail) { m_failStatus = fail; }

    // --- what happened ---
    const std::string& written() const { return m_written; }
    // "drain", "purge", "dtr", "close" in the order the port layer called them.
    const std::vector<std::string>& closeCalls() const { return m_closeCalls; }
    bool xoffHeld() const { return m_filter.held(); }
    // Data bytes arrived and not yet read.
    const std::string& pending() const { return m_pending; }

    // --- Line ---
    bool isFile() const override { return m_isFile; }
    bool lost() const override {
        return m_written.size() >= m_loseAfterBytes || m_clock.now() >= m_loseAtMicros;
    }
    bool holds(LineHolds& out) override;
    bool writeByte(uint8_t byte, uint64_t waitMicros) override;
    ReadResult readByte(uint64_t waitMicros) override;
    void holdUntilXon() override;
    void waitForChange(uint64_t waitMicros) override;
    void drainOutput(uint64_t waitMicros) override;
    void purge() override;
    void dropDtr() override;
    void close() override;
    // Turns in place (a line the service keeps open); flow codes of a send are forgotten.
    bool setDirection(const MachineDef& machine, int direction) override;
    // The directions the line was turned to, in order.
    const std::vector<int>& directions() const { return m_directions; }

private:
    struct Arrival {
        uint64_t at;
        std::string bytes;
    };
    struct TimedHold {
        size_t afterBytes;
        uint64_t micros;
        bool cts;
        bool started = false;
        uint64_t until = 0;
    };

    void takeArrivals();
    void updateTimedHolds();
    bool anyHold();
    // The next moment the script changes something, or UINT64_MAX.
    uint64_t nextEvent() const;

    ManualClock& m_clock;
    FlowSettings m_flow;
    bool m_isFile;
    std::vector<Arrival> m_arrivals;
    std::string m_pending; // data bytes arrived and not yet read
    std::vector<TimedHold> m_timedHolds;
    std::string m_written;
    std::vector<std::string> m_closeCalls;
    std::vector<int> m_directions;
    size_t m_failWritesAfter = SIZE_MAX;
    size_t m_loseAfterBytes = SIZE_MAX;
    uint64_t m_loseAtMicros = UINT64_MAX;
    bool m_ctsHeld = false;
    bool m_dsrHeld = false;
    XonXoffFilter m_filter;
    bool m_failStatus = false;
};

} // namespace corvane
