#pragma once
// A send on a scripted line: NC files in a scratch folder, a recording host on a manual
// clock, and a line the test can still read after the engine has closed it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/RecordingHost.h"
#include "transfer/SendEngine.h"
#include "transfer/TestLine.h"
#include "transfer/TransferContext.h"

namespace corvane::testing {

// The port layer destroys its line at close; this one forwards to a TestLine the test owns.
class ForwardingLine : public Line {
public:
    ForwardingLine(TestLine& line, std::function<void()> afterWrite)
        : m_line(line), m_afterWrite(std::move(afterWrite)) {}

    bool isFile() const override { return m_line.isFile(); }
    bool holds(LineHolds& out) override { return m_line.holds(out); }
    bool writeByte(uint8_t byte, uint64_t waitMicros) override {
        const bool ok = m_line.writeByte(byte, waitMicros);
        if (ok && m_afterWrite)
            m_afterWrite();
        return ok;
    }
    ReadResult readByte(uint64_t waitMicros) override { return m_line.readByte(waitMicros); }
    void holdUntilXon() override { m_line.holdUntilXon(); }
    void waitForChange(uint64_t waitMicros) override { m_line.waitForChange(waitMicros); }
    void drainOutput(uint64_t waitMicros) override { m_line.drainOutput(waitMicros); }
    void purge() override { m_line.purge(); }
    void dropDtr() override { m_line.dropDtr(); }
    void close() override { m_line.close(); }

private:
    TestLine& m_line;
    std::function<void()> m_afterWrite;
};

class SendFixture : public ::testing::Test {
protected:
    SendFixture()
        : host(clock),
          testLine(std::make_unique<TestLine>(clock, FlowSettings{})), ctx{machine, config, queue,
                                                                           state,   host,   {},
                                                                           0,       nullptr} {
        char pattern[] = "/tmp/cvn-send-test-XXXXXX";
        folder = mkdtemp(pattern);
        tempFolder = folder / "tmp";
        std::filesystem::create_directory(tempFolder);
        setenv("TMPDIR", tempFolder.c_str(), 1);

        // A plain machine: nothing around the data, LF on the wire, no flow control.
        machine.line.PtpStart = 0;
        machine.line.PtpStop = 0;
        machine.line.OutCode = 0;
        machine.line.HandShake = 0;
        machine.config.HeadLf = 0;
        machine.config.LfCode = 0;
        machine.config.ErCode = 0;
        machine.config.Comment = 0;
        config.Echo = 1;

        ctx.openLine = [this](const MachineDef&, int, const char*) {
            OpenedLine opened;
            if (openFails)
                opened.error = "no port";
            else
                opened.line = std::make_unique<ForwardingLine>(*testLine, afterWrite);
            return opened;
        };
    }

    ~SendFixture() override {
        unsetenv("TMPDIR");
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Writes an NC file and lists it with its size, as the file selection does.
    std::string addFile(const std::string& name, const std::string& content) {
        const std::filesystem::path path = folder / name;
        std::ofstream(path, std::ios::binary) << content;
        listFile(path.string(), static_cast<uint32_t>(content.size()));
        return path.string();
    }
    void listFile(const std::string& path, uint32_t size) {
        SendQueueEntry& entry = queue.Entries[queue.Count++];
        std::strncpy(entry.Name, path.c_str(), sizeof entry.Name - 1);
        entry.Size = size;
    }

    int send() { return SendNcData(ctx); }
    const std::string& wire() const { return testLine->written(); }
    TestLine& line() { return *testLine; }
    // A line with flow control on, for tests of holds.
    void useLine(FlowSettings flow, bool isFile = false) {
        testLine = std::make_unique<TestLine>(clock, flow, isFile);
    }

    std::vector<std::string> logTexts() const { return host.logTexts(); }
    std::string finalLine() const { return host.log.empty() ? "" : host.log.back().text; }
    int leftTempCopies() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(tempFolder))
            if (e.path().filename().string().rfind("CVN", 0) == 0)
                ++n;
        return n;
    }

    ManualClock clock;
    RecordingHost host;
    MachineDef machine;
    AppConfig config;
    SendQueue queue;
    TransferState state;
    std::unique_ptr<TestLine> testLine;
    TransferContext ctx;
    std::function<void()> afterWrite;
    bool openFails = false;
    std::filesystem::path folder;
    std::filesystem::path tempFolder;
};

} // namespace corvane::testing
