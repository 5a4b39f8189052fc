#pragma once
// What every transfer test puts together: the program-wide state a TransferContext refers to,
// a recording host on a clock the test moves, and a line the test keeps after the port layer
// has closed it.

#include <functional>
#include <utility>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/RecordingHost.h"
#include "transfer/Line.h"
#include "transfer/TestLine.h"
#include "transfer/TransferContext.h"
#include "transfer/TransferState.h"

namespace corvane::testing {

// The port layer owns, and drops at close, the line it opened; this one forwards to a line the
// test owns, so the test can still look at what was written afterwards. `afterWrite` runs after
// every byte that went out, for a test that acts in the middle of a transfer.
class ForwardingLine : public Line {
public:
    explicit ForwardingLine(Line& inner, std::function<void()> afterWrite = {})
        : m_inner(inner), m_afterWrite(std::move(afterWrite)) {}

    bool isFile() const override { return m_inner.isFile(); }
    bool lost() const override { return m_inner.lost(); }
    bool holds(LineHolds& out) override { return m_inner.holds(out); }
    bool writeByte(uint8_t byte, uint64_t waitMicros) override {
        const bool ok = m_inner.writeByte(byte, waitMicros);
        if (ok && m_afterWrite)
            m_afterWrite();
        return ok;
    }
    ReadResult readByte(uint64_t waitMicros) override { return m_inner.readByte(waitMicros); }
    void holdUntilXon() override { m_inner.holdUntilXon(); }
    void waitForChange(uint64_t waitMicros) override { m_inner.waitForChange(waitMicros); }
    void drainOutput(uint64_t waitMicros) override { m_inner.drainOutput(waitMicros); }
    bool outputDelivered() const override { return m_inner.outputDelivered(); }
    void purge() override { m_inner.purge(); }
    void dropDtr() override { m_inner.dropDtr(); }
    void close() override { m_inner.close(); }

private:
    Line& m_inner;
    std::function<void()> m_afterWrite;
};

// The parts a TransferContext refers to. Fixtures derive from it, so these are built before
// any context member the fixture declares.
struct TransferFixture {
    ManualClock clock;
    RecordingHost host{clock};
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;

    // A context over these parts that opens its lines through `opener`.
    TransferContext contextWith(LineOpener opener) {
        return TransferContext{machine, config, queue, state, host, std::move(opener), 0, nullptr};
    }
};

} // namespace corvane::testing
