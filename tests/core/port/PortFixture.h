#pragma once
// A transfer context whose line is a scripted TestLine on the test's clock.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/TransferFixture.h"
#include "transfer/LineSettings.h"
#include "transfer/Port.h"
#include "transfer/TestLine.h"

namespace corvane::testing {

class PortFixture : public ::testing::Test, public TransferFixture {
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

    // What the opener is asked and answers.
    OpenedLine failWith; // used when failOpen is set
    bool failOpen = false;
    std::string openedFile = "(none)";
    int openCalls = 0;

    TransferContext ctx = contextWith([this](const MachineDef& m, int, const char* file) {
        ++openCalls;
        openedFile = file ? file : "(none)";
        if (failOpen)
            return std::move(failWith);
        m_line = std::make_unique<TestLine>(clock, FlowSettingsFor(m.line), m_isFile);
        OpenedLine opened;
        opened.line = std::make_unique<ForwardingLine>(*m_line);
        return opened;
    });

private:
    bool m_isFile = false;
    std::unique_ptr<TestLine> m_line;
};

constexpr uint64_t Ms = 1000;

} // namespace corvane::testing
