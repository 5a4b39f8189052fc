#pragma once
// A receive over a scripted line, a recording host and a manual clock, into a real file in a
// fresh folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "support/TransferFixture.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/TestLine.h"

namespace corvane::testing {

class ReceiveFixture : public ::testing::Test, public TransferFixture {
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
        TransferContext ctx = contextWith(opener());
        return ReceiveNcData(ctx, path.c_str(), &outcome);
    }
    int receive() { return receive(target); }

    LineOpener opener() {
        return [this](const MachineDef&, int direction, const char*) {
            ++opens;
            openedDirection = direction;
            OpenedLine opened;
            if (failOpen)
                opened.error.text = "no such port";
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
