#pragma once
// A host clock for window tests: a pause passes at once (the queue is drained, the clock
// moves on), so a test of a send with its 1 s opening pause runs in milliseconds.

#include <QCoreApplication>

#include "app/GuiTransferHost.h"

namespace corvane::testing {

class SteppingClock : public corvane::gui::HostClock {
public:
    uint64_t nowMicros() override { return m_now; }
    void idle(uint64_t micros) override {
        QCoreApplication::processEvents();
        m_now += micros;
    }

private:
    uint64_t m_now = 1'000'000;
};

} // namespace corvane::testing
