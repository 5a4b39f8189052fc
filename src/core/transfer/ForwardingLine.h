#pragma once
// A line that passes every call on to another. Lines that wrap a line (to watch it, to lend
// it out, to time it) derive from this and override only what they add, so a call the Line
// interface gains later reaches the real line instead of the base class's default: a wrapper
// that forgot continueOpen once made every network open look finished before it had begun.

#include "transfer/Line.h"

namespace corvane {

class ForwardingLine : public Line {
public:
    explicit ForwardingLine(Line& inner) : m_inner(inner) {}

    bool isFile() const override { return m_inner.isFile(); }
    bool holds(LineHolds& out) override { return m_inner.holds(out); }
    bool writeByte(uint8_t byte, uint64_t waitMicros) override {
        return m_inner.writeByte(byte, waitMicros);
    }
    ReadResult readByte(uint64_t waitMicros) override { return m_inner.readByte(waitMicros); }
    void holdUntilXon() override { m_inner.holdUntilXon(); }
    void waitForChange(uint64_t waitMicros) override { m_inner.waitForChange(waitMicros); }
    void drainOutput(uint64_t waitMicros) override { m_inner.drainOutput(waitMicros); }
    void purge() override { m_inner.purge(); }
    void dropDtr() override { m_inner.dropDtr(); }
    void close() override { m_inner.close(); }
    bool outputDelivered() const override { return m_inner.outputDelivered(); }
    bool lost() const override { return m_inner.lost(); }
    LineMessage lostReason() const override { return m_inner.lostReason(); }
    OpenProgress continueOpen(uint64_t nowMicros) override {
        return m_inner.continueOpen(nowMicros);
    }
    bool setDirection(const MachineDef& machine, int direction) override {
        return m_inner.setDirection(machine, direction);
    }
    LineMessage openFailure() const override { return m_inner.openFailure(); }
    std::vector<LineMessage> openWarnings() const override { return m_inner.openWarnings(); }

protected:
    Line& inner() const { return m_inner; }

private:
    Line& m_inner;
};

} // namespace corvane
