#pragma once
// A receive over a scripted line, a recording host and a manual clock, into a real file in a
// fresh folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/RecordingHost.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/TestLine.h"
#include "transfer/TransferContext.h"

namespace corvane::testing {

// Hands the port layer a line that the test keeps: the port layer owns (and drops) what it
// opened, the test still wants to look at what was written afterwards.
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

private:
    Line& m_inner;
};

class ReceiveFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_dir = std::filesystem::temp_directory_path() / ("corvane-receive-" + name);
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        target = (m_dir / "RECV.NC").string();
        machine.line.HandShake = 1; // Xon/Xoff
        config.Echo = 1;
        // A runaway receive ends as an interrupt instead of hanging the suite.
        host.onPump = [this] {
            if (clock.now() > interruptAtMicros || host.pumps > 20'000'000)
                state.InterruptRequest = 1;
        };
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // The line of the run; call before receive() to script it.
    TestLine& line(bool isFile = false) {
        if (!m_line) {
            FlowSettings flow;
            flow.xonXoff = (machine.line.HandShake & 1) != 0;
            flow.xon = static_cast<uint8_t>(machine.line.PtrStart);
            flow.xoff = static_cast<uint8_t>(machine.line.PtrStop);
            m_line = std::make_unique<TestLine>(clock, flow, isFile);
        }
        return *m_line;
    }

    int receive(const std::string& path) {
        line(machine.config.OutofFile != 0);
        if (machine.config.OutofFile != 0)
            host.deviceFile = (m_dir / "TAPE.DAT").string();
        TransferContext ctx{machine, config, queue, state, host, opener(), 0, nullptr};
        return ReceiveNcData(ctx, path.c_str(), &outcome);
    }
    int receive() { return receive(target); }

    LineOpener opener() {
        return [this](const MachineDef&, int direction, const char*) {
            ++opens;
            openedDirection = direction;
            OpenedLine opened;
            if (failOpen)
                opened.error = "no such port";
            else
                opened.line = std::make_unique<ForwardingLine>(*m_line);
            return opened;
        };
    }

    std::string targetBytes() const {
        std::ifstream in(target, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool targetExists() const { return std::filesystem::exists(target); }
    std::string written() const { return m_line ? m_line->written() : std::string(); }

    // The log after the clearing form feed.
    std::vector<std::string> logAfterClear() const {
        auto texts = host.logTexts();
        if (!texts.empty() && texts.front() == "\f")
            texts.erase(texts.begin());
        return texts;
    }
    std::vector<std::string> closingLines() const {
        auto texts = host.logTexts();
        auto blank = std::find(texts.rbegin(), texts.rend(), std::string());
        if (blank == texts.rend())
            return {};
        return std::vector<std::string>(blank.base(), texts.end());
    }

    ManualClock clock;
    RecordingHost host{clock};
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;
    ReceiveOutcome outcome;
    std::string target;
    int opens = 0;
    int openedDirection = 0;
    bool failOpen = false;
    uint64_t interruptAtMicros = 600'000'000; // ten minutes of test clock

private:
    std::filesystem::path m_dir;
    std::unique_ptr<TestLine> m_line;
};

} // namespace corvane::testing
