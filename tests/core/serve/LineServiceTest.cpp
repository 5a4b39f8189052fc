// The service on scripted lines and a manual clock: the endless listen, commands from outside,
// a line that goes away. An hour of listening passes in milliseconds.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>

using namespace std::string_literals;

#include "core/support/TempDir.h"
#include "serve/JournalChain.h"
#include "serve/LineService.h"
#include "support/Digest.h"
#include "support/RecordingHost.h"
#include "transfer/LineSettings.h"
#include "transfer/TestLine.h"

namespace corvane::serve {
namespace {

using corvane::test::readFile;
using corvane::test::TempDir;
using corvane::test::writeFile;
using corvane::testing::RecordingHost;
namespace fs = std::filesystem;

constexpr uint64_t Second = 1'000'000;

// Hands the service a line the test keeps, so it can be read after the service closed it.
class BorrowedLine : public Line {
public:
    explicit BorrowedLine(TestLine& line) : m_line(line) {}
    bool isFile() const override { return m_line.isFile(); }
    bool holds(LineHolds& out) override { return m_line.holds(out); }
    bool writeByte(uint8_t b, uint64_t w) override { return m_line.writeByte(b, w); }
    ReadResult readByte(uint64_t w) override { return m_line.readByte(w); }
    void holdUntilXon() override { m_line.holdUntilXon(); }
    void waitForChange(uint64_t w) override { m_line.waitForChange(w); }
    void drainOutput(uint64_t w) override { m_line.drainOutput(w); }
    void purge() override { m_line.purge(); }
    void dropDtr() override { m_line.dropDtr(); }
    void close() override { m_line.close(); }
    bool lost() const override { return m_line.lost(); }

private:
    TestLine& m_line;
};

class RecordingSink : public EventSink {
public:
    void statusChanged(const LineStatus& status) override { statuses.push_back(status); }
    void transferRecorded(const JournalRecord& record) override { records.push_back(record); }
    void service() override { ++services; }
    bool saw(LineActivity activity) const {
        for (const auto& s : statuses)
            if (s.activity == activity)
                return true;
        return false;
    }
    std::vector<LineStatus> statuses;
    std::vector<JournalRecord> records;
    int services = 0;
};

// Commands that arrive when the test clock reaches their time.
class ScriptedCommands : public CommandSource {
public:
    explicit ScriptedCommands(ManualClock& clock) : m_clock(clock) {}
    void at(uint64_t micros, ServeCommand command) { m_commands.push_back({micros, command}); }
    void rejectAt(uint64_t micros, std::string reason) { m_rejections.push_back({micros, reason}); }
    std::optional<ServeCommand> takeCommand() override { return take(m_commands); }
    std::optional<std::string> takeRejection() override { return take(m_rejections); }

private:
    template <typename T> std::optional<T> take(std::deque<std::pair<uint64_t, T>>& queue) {
        if (queue.empty() || queue.front().first > m_clock.now())
            return std::nullopt;
        T item = queue.front().second;
        queue.pop_front();
        return item;
    }
    ManualClock& m_clock;
    std::deque<std::pair<uint64_t, ServeCommand>> m_commands;
    std::deque<std::pair<uint64_t, std::string>> m_rejections;
};

class LineServiceTest : public ::testing::Test {
protected:
    LineServiceTest() : host(clock), commands(clock) {
        MachineDefSetDefaults(settings.machine.line, settings.machine.config);
        settings.machine.line.HandShake = 1;
        settings.machine.config.PtrBegin = 1;
        settings.machine.config.PtrEof = 3; // % or DC4
        settings.machine.config.PtrTimeOut = 5000;
        settings.machine.config.RecvSpace = 2; // spaces kept
        settings.config.Echo = 0;
        settings.name = "mill1";
        settings.inbox = dir.file("inbox");
        settings.library = dir.file("lib");
        settings.journal = dir.file("inbox/journal.jsonl");
        settings.requestDelayMillis = 3000;
        fs::create_directory(settings.library);
        writeFile(settings.library + "/O0012.NC", "%\nO0012\nG00X0\nM30\n%\n");
    }

    // A line for each open, in order; an open past the last fails as a missing port.
    TestLine& addLine() {
        lines.push_back(std::make_unique<TestLine>(clock, FlowSettingsFor(settings.machine.line)));
        return *lines.back();
    }
    void failOpens(int count) { failuresBefore[lines.size()] += count; }

    // Runs the service until `done` holds after a pump, or an hour and a half of test time.
    void serve(std::function<bool()> done) {
        ServeEnvironment env;
        env.stopRequested = [this, done] { return done() || clock.now() > 5400 * Second; };
        env.wallClock = [] { return time_t{1796800502}; };
        env.sink = &sink;
        env.commands = &commands;
        LineOpener opener = [this](const MachineDef&, int, const char*) {
            OpenedLine opened;
            opens.push_back(clock.now());
            if (failuresBefore[next] > 0) {
                --failuresBefore[next];
                opened.failure = OpenFailure::NotFound;
                return opened;
            }
            if (next < lines.size())
                opened.line = std::make_unique<BorrowedLine>(*lines[next++]);
            else
                opened.failure = OpenFailure::NotFound;
            return opened;
        };
        LineService service(settings, host, opener, env);
        ASSERT_EQ(service.prepare(), "");
        service.run();
    }

    std::string inbox(const std::string& name) const { return settings.inbox + "/" + name; }

    TempDir dir;
    ManualClock clock;
    RecordingHost host;
    ServeSettings settings;
    RecordingSink sink;
    ScriptedCommands commands;
    std::vector<std::unique_ptr<TestLine>> lines;
    std::map<size_t, int> failuresBefore;
    size_t next = 0;
    std::vector<uint64_t> opens;
};

TEST_F(LineServiceTest, ListensAnHourWithoutTimeOutThenFilesTheProgram) {
    addLine().input("\0\0%\nO0012 (PART)\nG00X0\n%\x14"s, 3600 * Second);
    addLine(); // the next listen
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.direction, "receive");
    EXPECT_EQ(rec.result, TransferResult::Completed);
    EXPECT_EQ(rec.file, inbox("O0012.NC"));
    EXPECT_EQ(readFile(inbox("O0012.NC")), "%\r\nO0012 (PART)\r\nG00X0\r\n%\r\n");
    EXPECT_EQ(rec.sha256, sha256OfFile(inbox("O0012.NC")));
    EXPECT_EQ(rec.bytes, fs::file_size(inbox("O0012.NC")));
    // The hour of listening is not part of the transfer, and the program ended on its %
    // (the machine's 5 s time-out would have filed it as failed).
    EXPECT_LT(rec.millis, 5000u);
    EXPECT_TRUE(sink.saw(LineActivity::Idle));
    EXPECT_TRUE(sink.saw(LineActivity::Receiving));
    EXPECT_GT(sink.services, 1000);
    // The journal file holds the same record the sink heard of, chain included.
    EXPECT_EQ(rec.prev, NoPreviousLine);
    EXPECT_EQ(readFile(settings.journal), toJson(rec) + "\n");
}

TEST_F(LineServiceTest, SendCommandWhileIdleGivesUpTheListenAndSends) {
    addLine(); // the listen: the machine stays silent
    TestLine& sendLine = addLine();
    addLine();
    commands.at(10 * Second, {ServeCommand::Kind::Send, "O0012", "c-1"});
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.direction, "send");
    EXPECT_EQ(rec.commandId, "c-1");
    EXPECT_EQ(rec.result, TransferResult::Completed);
    EXPECT_EQ(rec.file, settings.library + "/O0012.NC");
    EXPECT_EQ(rec.sha256, sha256OfFile(rec.file));
    EXPECT_FALSE(rec.request.has_value());
    EXPECT_NE(sendLine.written().find("O0012"), std::string::npos);
    EXPECT_EQ(sendLine.written().back(), '\x14'); // the stop code: the send ran to its end
    EXPECT_TRUE(sink.saw(LineActivity::Sending));
    // The abandoned listen left nothing in the inbox.
    for (const auto& entry : fs::directory_iterator(settings.inbox))
        EXPECT_TRUE(entry.path().filename() == "journal.jsonl" ||
                    entry.path().filename() == "failed")
            << entry.path();
}

TEST_F(LineServiceTest, SendCommandForANameOutsideTheLibraryTouchesNothing) {
    addLine();
    addLine();
    commands.at(1 * Second, {ServeCommand::Kind::Send, "../lib/O0012.NC", "c-2"});
    commands.at(20 * Second, {ServeCommand::Kind::Send, "O0099", "c-3"});
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Refused);
    EXPECT_EQ(sink.records[0].commandId, "c-2");
    EXPECT_EQ(sink.records[1].result, TransferResult::NotFound);
    EXPECT_EQ(sink.records[1].commandId, "c-3");
    // Only listens were opened, and nothing was written but their start codes.
    for (const auto& line : lines)
        EXPECT_EQ(line->written().find('%'), std::string::npos) << line->written();
    EXPECT_FALSE(sink.saw(LineActivity::Sending));
}

TEST_F(LineServiceTest, AHeldSendIsReportedAsHeld) {
    settings.machine.config.Xoff = 1; // the send waits for the machine's DC1
    addLine();
    addLine().input("\x11", 60 * Second);
    addLine();
    commands.at(1 * Second, {ServeCommand::Kind::Send, "O0012", "c-4"});
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Completed);
    EXPECT_TRUE(sink.saw(LineActivity::Held));
    EXPECT_GE(sink.records[0].millis, 55'000u);
}

TEST_F(LineServiceTest, EveryCommandGetsOneRecord) {
    TestLine& listen = addLine();
    listen.input("%\nO0012\n", 1 * Second);
    listen.input("G00X0\n%", 4 * Second); // within the machine's 5 s time-out
    addLine();
    commands.at(2 * Second, {ServeCommand::Kind::Send, "O0012", "busy-1"});
    commands.rejectAt(2 * Second, "malformed command");
    commands.at(30 * Second, {ServeCommand::Kind::Cancel, "", "cancel-idle"});
    serve([this] { return sink.records.size() >= 4; });

    ASSERT_EQ(sink.records.size(), 4u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Refused);
    EXPECT_EQ(sink.records[0].message, "malformed command");
    EXPECT_EQ(sink.records[1].commandId, "busy-1");
    EXPECT_EQ(sink.records[1].result, TransferResult::Refused);
    EXPECT_EQ(sink.records[1].message, "busy");
    EXPECT_EQ(sink.records[2].direction, "receive");
    EXPECT_EQ(sink.records[2].result, TransferResult::Completed);
    EXPECT_EQ(sink.records[3].commandId, "cancel-idle");
    EXPECT_EQ(sink.records[3].result, TransferResult::Refused);
}

TEST_F(LineServiceTest, CancelStopsTheReceiveAndFilesItAsFailed) {
    addLine().input("%\nO0012\nG00", 1 * Second);
    addLine();
    commands.at(2 * Second, {ServeCommand::Kind::Cancel, "", "cancel-1"});
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.result, TransferResult::Interrupted);
    EXPECT_EQ(rec.commandId, "cancel-1");
    EXPECT_EQ(fs::path(rec.file).parent_path(), fs::path(settings.inbox) / "failed");
    EXPECT_EQ(fs::path(rec.file).filename().string().rfind("mill1-", 0), 0u);
    EXPECT_FALSE(fs::exists(inbox("O0012.NC")));
    EXPECT_EQ(rec.sha256, sha256OfFile(rec.file));
}

TEST_F(LineServiceTest, ALostLineIsTriedAgainAndTheNextProgramServed) {
    TestLine& first = addLine();
    first.input("%\nO0012\nG0", 1 * Second);
    first.loseDeviceAt(2 * Second);
    failOpens(3); // the adapter is back only on the fourth try
    addLine().input("%\nO0013\nM30\n%", 30 * Second);
    addLine();
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Failed);
    EXPECT_EQ(sink.records[0].message, "the line was lost");
    EXPECT_EQ(fs::path(sink.records[0].file).parent_path().filename(), "failed");
    EXPECT_EQ(sink.records[1].result, TransferResult::Completed);
    EXPECT_EQ(sink.records[1].file, inbox("O0013.NC"));
    EXPECT_TRUE(sink.saw(LineActivity::Offline));
    // One try every 5 s, and the same failure shown once, not at every try.
    ASSERT_GE(opens.size(), 5u);
    for (size_t i = 2; i < 5; ++i)
        EXPECT_GE(opens[i] - opens[i - 1], 5 * Second);
    EXPECT_EQ(host.errors.size(), 2u); // "disconnected", then the missing port once
}

TEST_F(LineServiceTest, RequestIsAnsweredAfterTheDelayAndNotStored) {
    addLine().input("%\n(REQ=12)\n%", 1 * Second);
    TestLine& reply = addLine();
    addLine();
    settings.machine.config.Comment = 0; // the machine drops comments from what it is sent
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.result, TransferResult::NotFound);
    EXPECT_EQ(rec.request, "12");
    EXPECT_TRUE(sink.saw(LineActivity::Waiting));
    // The reply still reaches the operator.
    EXPECT_NE(reply.written().find("(NOT FOUND 12)"), std::string::npos) << reply.written();
    EXPECT_GE(opens[1] - opens[0], 3 * Second);
    EXPECT_FALSE(fs::exists(inbox("O0012.NC")));
}

} // namespace
} // namespace corvane::serve
