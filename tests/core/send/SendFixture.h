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

#include "support/TransferFixture.h"
#include "transfer/SendEngine.h"
#include "transfer/TestLine.h"

namespace corvane::testing {

class SendFixture : public ::testing::Test, public TransferFixture {
protected:
    SendFixture() : testLine(std::make_unique<TestLine>(clock, FlowSettings{})) {
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
                opened.error.text = "no port";
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

    std::unique_ptr<TestLine> testLine;
    TransferContext ctx = contextWith({});
    std::function<void()> afterWrite;
    bool openFails = false;
    std::filesystem::path folder;
    std::filesystem::path tempFolder;
};

} // namespace corvane::testing
