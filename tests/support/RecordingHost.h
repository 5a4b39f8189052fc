#pragma once
// A TransferHost for tests: records everything the engines show, runs on a ManualClock and
// lets a test act between pumps (an interrupt at a chosen moment, say).

#include <functional>
#include <string>
#include <vector>

#include "settings/MachineDef.h"
#include "support/StringTable.h"
#include "transfer/TestLine.h"
#include "transfer/TransferHost.h"

namespace corvane::testing {

class RecordingHost : public TransferHost {
public:
    explicit RecordingHost(ManualClock& clock) : m_clock(clock) {}

    struct LogLine {
        int colour;
        std::string text;
    };

    std::vector<LogLine> log;      // every logPrint, in order
    std::vector<std::string> flow; // every logShowFlow
    std::vector<std::pair<int, std::string>> status;
    std::vector<std::string> titles; // "dir|file|active"
    std::vector<std::pair<uint32_t, uint32_t>> notices;
    std::vector<std::string> errors;
    std::vector<uint32_t> progress; // positions
    uint32_t progressTotal = 0;
    bool progressVisible = false;
    int pumps = 0;

    std::string deviceFile;       // the answer to selectDeviceFile; empty = cancel
    std::function<void()> onPump; // runs at every pump
    Language language = Language::English;

    std::string statusOf(int part) const {
        for (auto it = status.rbegin(); it != status.rend(); ++it)
            if (it->first == part)
                return it->second;
        return {};
    }
    std::vector<std::string> logTexts() const {
        std::vector<std::string> out;
        for (const auto& l : log)
            out.push_back(l.text);
        return out;
    }

    void logPrint(int colour, const std::string& text) override {
        log.push_back({colour, text});
        serviceMessages();
    }
    void logShowFlow(const std::string& text) override {
        if (flow.empty() || flow.back() != text)
            flow.push_back(text);
        serviceMessages();
    }
    void setStatusText(int part, const std::string& text) override {
        status.emplace_back(part, text);
    }
    void setFrameTitle(int direction, const char* file, bool active) override {
        titles.push_back(std::to_string(direction) + "|" + (file ? file : "") + "|" +
                         (active ? "1" : "0"));
    }
    void progressShow(bool visible) override { progressVisible = visible; }
    void progressRange(uint32_t total) override { progressTotal = total; }
    void progressPos(uint32_t position) override { progress.push_back(position); }
    void notify(uint32_t wParam, uint32_t lParam) override { notices.emplace_back(wParam, lParam); }
    bool selectDeviceFile(bool, MachineDef&, std::string& path) override {
        path = deviceFile;
        return !deviceFile.empty();
    }
    void showError(const std::string& text) override { errors.push_back(text); }
    void serviceMessages() override {
        ++pumps;
        if (onPump)
            onPump();
    }
    void idle(uint64_t micros) override {
        m_clock.advance(micros);
        serviceMessages();
    }
    uint64_t nowMicros() override { return m_clock.now(); }
    const char* text(int id) override { return WexLoadString(language, id); }

private:
    ManualClock& m_clock;
};

} // namespace corvane::testing
