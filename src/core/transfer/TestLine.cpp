#include "transfer/TestLine.h"

#include <algorithm>

#include "transfer/TransferHost.h"

namespace corvane {

namespace {

// A device file has no driver between us and the data: no flow codes, no NUL stripping.
FlowSettings flowFor(const FlowSettings& flow, bool isFile) {
    return isFile ? FlowSettings{} : flow;
}

} // namespace

TestLine::TestLine(ManualClock& clock, FlowSettings flow, bool isFile)
    : m_clock(clock), m_flow(flowFor(flow, isFile)), m_isFile(isFile),
      m_filter(flowFor(flow, isFile), !isFile) {}

void TestLine::input(const std::string& bytes, uint64_t atMicros) {
    // Keep arrivals in time order; equal times keep the order the script gave them.
    auto pos = std::upper_bound(m_arrivals.begin(), m_arrivals.end(), atMicros,
                                [](uint64_t at, const Arrival& a) { return at < a.at; });
    m_arrivals.insert(pos, Arrival{atMicros, bytes});
}

void TestLine::holdCtsAfter(size_t bytesWritten, uint64_t micros) {
    m_timedHolds.push_back(TimedHold{bytesWritten, micros, true});
}

void TestLine::holdDsrAfter(size_t bytesWritten, uint64_t micros) {
    m_timedHolds.push_back(TimedHold{bytesWritten, micros, false});
}

void TestLine::takeArrivals() {
    size_t taken = 0;
    while (taken < m_arrivals.size() && m_arrivals[taken].at <= m_clock.now()) {
        for (char c : m_arrivals[taken].bytes)
            if (m_filter.take(static_cast<uint8_t>(c)))
                m_pending.push_back(c);
        ++taken;
    }
    m_arrivals.erase(m_arrivals.begin(), m_arrivals.begin() + static_cast<ptrdiff_t>(taken));
}

void TestLine::updateTimedHolds() {
    for (auto& h : m_timedHolds) {
        if (!h.started && m_written.size() >= h.afterBytes) {
            h.started = true;
            h.until = m_clock.now() + h.micros;
        }
    }
}

bool TestLine::anyHold() {
    LineHolds h;
    if (!holds(h))
        return false;
    return h.cts || h.dsr || h.xoff;
}

uint64_t TestLine::nextEvent() const {
    uint64_t next = UINT64_MAX;
    if (!m_arrivals.empty())
        next = m_arrivals.front().at;
    for (const auto& h : m_timedHolds)
        if (h.started && h.until > m_clock.now())
            next = std::min(next, h.until);
    return next;
}

bool TestLine::holds(LineHolds& out) {
    if (m_failStatus)
        return false;
    takeArrivals();
    updateTimedHolds();
    bool cts = m_ctsHeld;
    bool dsr = m_dsrHeld;
    for (const auto& h : m_timedHolds) {
        if (h.started && m_clock.now() < h.until)
            (h.cts ? cts : dsr) = true;
    }
    out.cts = !m_isFile && m_flow.cts && cts;
    out.dsr = !m_isFile && m_flow.dsr && dsr;
    out.xoff = !m_isFile && m_filter.held();
    return true;
}

bool TestLine::writeByte(uint8_t byte, uint64_t waitMicros) {
    const uint64_t deadline = m_clock.now() + waitMicros;
    if (lost() || m_written.size() >= m_failWritesAfter) {
        m_clock.set(deadline); // a failed write still costs its wait, as a real one does
        return false;
    }
    // Output held: the byte waits in the driver until the hold ends or the wait runs out.
    while (anyHold()) {
        const uint64_t next = nextEvent();
        if (next > deadline) {
            m_clock.set(deadline);
            return false;
        }
        m_clock.set(std::max(next, m_clock.now()));
    }
    m_written.push_back(static_cast<char>(byte));
    updateTimedHolds();
    return true;
}

ReadResult TestLine::readByte(uint64_t waitMicros) {
    const uint64_t deadline = m_clock.now() + waitMicros;
    for (;;) {
        if (lost())
            return {ReadStatus::Error, 0};
        takeArrivals();
        if (!m_pending.empty()) {
            ReadResult r{ReadStatus::Byte, static_cast<uint8_t>(m_pending.front())};
            m_pending.erase(0, 1);
            return r;
        }
        if (m_isFile)
            return {}; // end of file answers at once
        const uint64_t next = m_arrivals.empty() ? UINT64_MAX : m_arrivals.front().at;
        if (next > deadline) {
            m_clock.set(std::max(deadline, m_clock.now()));
            return {};
        }
        m_clock.set(std::max(next, m_clock.now()));
    }
}

void TestLine::holdUntilXon() {
    if (!m_isFile)
        m_filter.hold();
}

void TestLine::waitForChange(uint64_t waitMicros) {
    const uint64_t deadline = m_clock.now() + waitMicros;
    const uint64_t next = nextEvent();
    m_clock.set(std::max(m_clock.now(), std::min(deadline, next)));
    takeArrivals();
    updateTimedHolds();
}

void TestLine::drainOutput(uint64_t) {
    m_closeCalls.push_back("drain");
}

void TestLine::purge() {
    m_closeCalls.push_back("purge");
    m_pending.clear();
}

void TestLine::dropDtr() {
    m_closeCalls.push_back("dtr");
}

void TestLine::close() {
    m_closeCalls.push_back("close");
}

bool TestLine::setDirection(const MachineDef& machine, int direction) {
    (void)machine;
    if (direction == DirectionReceive)
        m_filter.forget();
    m_directions.push_back(direction);
    return !lost();
}

} // namespace corvane
