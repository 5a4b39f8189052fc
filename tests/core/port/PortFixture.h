#pragma once
// A transfer context whose line is a scripted TestLine on the test's clock.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/RecordingHost.h"
#include "transfer/LineSettings.h"
#include "transfer/Port.h"
#include "transfer/TestLine.h"
#include "transfer/TransferContext.h"

namespace corvane::testing {

class PortFixture : public ::testing::Test {
protected:
    PortFixture() {
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.HandShake = 0;
    }

    // Opens a TestLine built from the machine definition as it stands now.
    int open(int direction, bool isFile = false) {
        m_isFile = isFile;
        return ComOpen(ctx, direction);
    }

    TestLine& line() { return *m_line; }

    // The retry loop of the character layer: pump between refusals, give up on an interrupt.
    // Returns the number of attempts, -1 when interrupted, or -2 when the loop ran away (a
    // refusal that let no time pass would spin forever on a real line).
    int sendWithRetry(uint8_t byte) {
        int attempts = 1;
        while (ComWriteByte(ctx, 0, byte) != 0) {
            host.serviceMessages();
            if (state.InterruptRequest != 0)
                return -1;
            if (++attempts > MaxAttempts)
                return -2;
        }
        return attempts;
    }
    static constexpr int MaxAttempts = 100000;

    ManualClock clock;
    RecordingHost host{clock};
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;

    // What the opener is asked and answers.
    OpenedLine failWith; // used when failOpen is set
    bool failOpen = false;
    std::string openedFile = "(none)";
    int openCalls = 0;

    TransferContext ctx{machine,
                        config,
                        queue,
                        state,
                        host,
                        [this](const MachineDef& m, int, const char* file) {
                            ++openCalls;
                            openedFile = file ? file : "(none)";
                            if (failOpen)
                                return std::move(failWith);
                            m_line = std::make_unique<TestLine>(clock, FlowSettingsFor(m.line),
                                                                m_isFile);
                            OpenedLine opened;
                            opened.line = std::make_unique<LineRef>(*m_line);
                            return opened;
                        },
                        0,
                        {}};

private:
    // Lets the test look at the line after the port layer has closed and dropped it.
    class LineRef : public Line {
    public:
        explicit LineRef(TestLine& line) : m_l(line) {}
        bool isFile() const override { return m_l.isFile(); }
        bool holds(LineHolds& out) override { return m_l.holds(out); }
        bool writeByte(uint8_t b, uint64_t w) override { return m_l.writeByte(b, w); }
        ReadResult readByte(uint64_t w) override { return m_l.readByte(w); }
        void holdUntilXon() override { m_l.holdUntilXon(); }
        void waitForChange(uint64_t w) override { m_l.waitForChange(w); }
        void drainOutput(uint64_t w) override { m_l.drainOutput(w); }
        void purge() override { m_l.purge(); }
        void dropDtr() override { m_l.dropDtr(); }
        void close() override { m_l.close(); }

    private:
        TestLine& m_l;
    };

    bool m_isFile = false;
    std::unique_ptr<TestLine> m_line;
};

constexpr uint64_t Ms = 1000;

} // namespace corvane::testing
