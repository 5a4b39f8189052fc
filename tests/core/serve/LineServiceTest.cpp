// The service on scripted lines and a manual clock: the endless listen, commands from outside,
// a line that goes away. An hour of listening passes in milliseconds.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>

using namespace std::string_literals;

#include "FaultyFileSystem.h"
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

// A borrowed line that turns in place, as a real port does: the service then keeps it open
// from one transfer to the next.
class TurningLine : public BorrowedLine {
public:
    explicit TurningLine(TestLine& line) : BorrowedLine(line), m_turning(line) {}
    bool setDirection(const MachineDef& machine, int direction) override {
        return m_turning.setDirection(machine, direction);
    }

private:
    TestLine& m_turning;
};

class RecordingSink : public EventSink {
public:
    void statusChanged(const LineStatus& status) override { statuses.push_back(status); }
    void transferRecorded(const JournalRecord& record) override { records.push_back(record); }
    void service() override { ++services; }
    void started() override { ++starts; }
    bool saw(LineActivity activity) const {
        for (const auto& s : statuses)
            if (s.activity == activity)
                return true;
        return false;
    }
    std::vector<LineStatus> statuses;
    std::vector<JournalRecord> records;
    int services = 0;
    int starts = 0;
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
        env.files = files;
        LineOpener opener = [this](const MachineDef&, int, const char*) {
            OpenedLine opened;
            opens.push_back(clock.now());
            if (failuresBefore[next] > 0) {
                --failuresBefore[next];
                opened.error.kind = OpenFailure::NotFound;
                return opened;
            }
            if (next < lines.size() && turning)
                opened.line = std::make_unique<TurningLine>(*lines[next++]);
            else if (next < lines.size())
                opened.line = std::make_unique<BorrowedLine>(*lines[next++]);
            else
                opened.error.kind = OpenFailure::NotFound;
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
    std::shared_ptr<FaultyFileSystem> files = std::make_shared<FaultyFileSystem>();
    bool turning = false; // the lines turn in place: one line serves every transfer

    std::vector<std::string> failedFiles() const {
        std::vector<std::string> names;
        if (fs::exists(settings.inbox + "/failed"))
            for (const auto& entry : fs::directory_iterator(settings.inbox + "/failed"))
                names.push_back(entry.path().filename().string());
        return names;
    }
};

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Journal lines as they would be without their "prev" link, which is the last field.
std::string withoutChainLinks(std::string lines) {
    const std::string key = ",\"prev\":\"";
    for (size_t at = lines.find(key); at != std::string::npos; at = lines.find(key, at))
        lines.erase(at, lines.find('"', at + key.size()) + 1 - at);
    return lines;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

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
    // The log names the file stored, never the temporary one it was received into.
    bool namesStored = false;
    for (const std::string& line : host.logTexts()) {
        EXPECT_EQ(line.find(".receiving-"), std::string::npos) << line;
        namesStored = namesStored || line.find(inbox("O0012.NC")) != std::string::npos;
    }
    EXPECT_TRUE(namesStored);
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
    EXPECT_EQ(sendLine.written().back(), '\x14');        // the stop code: the send ran to its end
    EXPECT_EQ(rec.wireBytes, sendLine.written().size()); // all of it, beside the file's bytes
    EXPECT_TRUE(sink.saw(LineActivity::Sending));
    // The abandoned listen left nothing in the inbox (the service's lock is its own).
    for (const auto& entry : fs::directory_iterator(settings.inbox))
        EXPECT_TRUE(entry.path().filename() == "journal.jsonl" ||
                    entry.path().filename() == "failed" ||
                    entry.path().filename() == InboxLock::FileName)
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

TEST_F(LineServiceTest, ACancelOfAReceiveThatBroughtNoProgramIsAnsweredAndServingGoesOn) {
    addLine().input("X", 1 * Second); // no % follows: nothing of it is a program
    addLine().input("%\nO0013\nM30\n%", 30 * Second);
    addLine();
    commands.at(2 * Second, {ServeCommand::Kind::Cancel, "", "cancel-1"});
    serve([this] { return sink.records.size() >= 2 || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].direction, "command");
    EXPECT_EQ(sink.records[0].commandId, "cancel-1");
    EXPECT_EQ(sink.records[0].result, TransferResult::Interrupted);
    EXPECT_EQ(sink.records[1].file, inbox("O0013.NC"));
    EXPECT_TRUE(failedFiles().empty());
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
    addLine().input("%\n(REQ=99)\n%", 1 * Second);
    TestLine& reply = addLine();
    addLine();
    settings.machine.config.Comment = 0; // the machine drops comments from what it is sent
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.result, TransferResult::NotFound);
    EXPECT_EQ(rec.request, "99");
    EXPECT_TRUE(sink.saw(LineActivity::Waiting));
    // The reply still reaches the operator.
    EXPECT_NE(reply.written().find("(NOT FOUND 99)"), std::string::npos) << reply.written();
    EXPECT_GE(opens[1] - opens[0], 3 * Second);
    EXPECT_FALSE(fs::exists(inbox("O0099.NC")));
}

// ---- one port kept open for every transfer ----

TEST_F(LineServiceTest, ProgramsThatArriveBetweenReceivesAreAllFiled) {
    turning = true;
    TestLine& line = addLine();
    // The second program arrives while the first is still being filed, the third before the
    // service has said its start code again; line feeds and end codes between them.
    line.input("%\nO0012\nG00X0\n%\n\x14%\nO0013\nM30\n%\n", 1 * Second);
    line.input("\n\x14\r\n%\nO0014\nM30\n%\x14\n", 1 * Second + 200'000);
    serve([this] { return sink.records.size() >= 3 || clock.now() > 60 * Second; });

    ASSERT_EQ(sink.records.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.records[i].result, TransferResult::Completed) << sink.records[i].message;
        EXPECT_EQ(sink.records[i].file, inbox("O001" + std::to_string(i + 2) + ".NC"));
    }
    EXPECT_EQ(readFile(inbox("O0013.NC")), "%\r\nO0013\r\nM30\r\n%\r\n");
    EXPECT_TRUE(failedFiles().empty());
    EXPECT_EQ(opens.size(), 1u); // one open for all three, nothing emptied in between
    // The port's close sequence ran once, at the stop.
    std::vector<std::string> calls = line.closeCalls();
    std::erase(calls, "drain");
    EXPECT_EQ(calls, (std::vector<std::string>{"purge", "dtr", "close"}));
}

TEST_F(LineServiceTest, LeaderLineEndsAndCodesAloneAreNoTransfer) {
    turning = true;
    addLine().input("\n\r\0\0 \x14\x12\x7f\n"s, 1 * Second);
    serve([this] { return clock.now() > 600 * Second; });

    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(failedFiles().empty());
    // The line never looked busy.
    EXPECT_FALSE(sink.saw(LineActivity::Receiving));
}

TEST_F(LineServiceTest, AStartCodeWhileListeningReleasesThePushThatFollows) {
    turning = true;
    settings.machine.config.Xoff = 1; // a send waits for the machine's DC1
    TestLine& line = addLine();
    line.input("\x11", 5 * Second); // the control put in read mode, once
    commands.at(10 * Second, {ServeCommand::Kind::Send, "O0012", "push-1"});
    serve([this] { return !sink.records.empty() || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Completed) << sink.records[0].message;
    EXPECT_EQ(sink.records[0].commandId, "push-1");
    EXPECT_FALSE(sink.saw(LineActivity::Held));
    EXPECT_LT(sink.records[0].millis, 10'000u);
    EXPECT_NE(line.written().find("O0012"), std::string::npos);
    EXPECT_EQ(line.directions(), (std::vector<int>{DirectionSend, DirectionReceive}));
}

TEST_F(LineServiceTest, AnXonFromTheEndOfASendDoesNotReleaseTheNextOne) {
    turning = true;
    settings.machine.config.Xoff = 1;
    TestLine& line = addLine();
    line.input("\x11", 5 * Second);
    line.input("\x13\x11", 10 * Second + 500'000); // a hold and its release during the push
    line.input("\x11", 200 * Second);              // the control in read mode for the second push
    commands.at(10 * Second, {ServeCommand::Kind::Send, "O0012", "push-1"});
    commands.at(100 * Second, {ServeCommand::Kind::Send, "O0012", "push-2"});
    serve([this] { return sink.records.size() >= 2 || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[1].result, TransferResult::Completed);
    // The second push waited for the DC1 that came for it.
    EXPECT_GE(sink.records[1].millis, 95'000u);
    EXPECT_TRUE(sink.saw(LineActivity::Held));
}

TEST_F(LineServiceTest, ADc1WithoutHandshakeIsNotTakenForAProgram) {
    turning = true;
    settings.machine.line.HandShake = 0; // the DC1 then reaches the receive as a byte
    TestLine& line = addLine();
    line.input("\x11", 5 * Second);
    commands.at(10 * Second, {ServeCommand::Kind::Send, "O0012", "push-1"});
    serve([this] { return !sink.records.empty() || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Completed) << sink.records[0].message;
    EXPECT_FALSE(sink.saw(LineActivity::Receiving));
    EXPECT_TRUE(failedFiles().empty());
}

TEST_F(LineServiceTest, AStartCodeDuringTheRequestDelayReleasesTheReply) {
    turning = true;
    settings.machine.config.Xoff = 1;
    TestLine& line = addLine();
    line.input("%\n(REQ=O0012)\n%", 1 * Second);
    line.input("\x11", 3 * Second); // within the 3 s delay, once
    serve([this] { return !sink.records.empty() || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].result, TransferResult::Completed) << sink.records[0].message;
    EXPECT_EQ(sink.records[0].request, "O0012");
    EXPECT_LT(sink.records[0].millis, 10'000u);
    EXPECT_NE(line.written().find("G00X0"), std::string::npos);
}

TEST_F(LineServiceTest, ALostPortIsOpenedAnewAndStopClosesIt) {
    turning = true;
    TestLine& first = addLine();
    first.input("%\nO0012\nM30\n%", 1 * Second);
    first.loseDeviceAt(20 * Second);
    TestLine& second = addLine();
    second.input("%\nO0013\nM30\n%", 40 * Second);
    serve([this] { return sink.records.size() >= 2 || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[1].file, inbox("O0013.NC"));
    EXPECT_EQ(opens.size(), 2u);
    EXPECT_EQ(sink.starts, 1); // the start is over at the first open, not at every one
    // Each port got its close sequence once, when it was given up.
    for (TestLine* line : {&first, &second}) {
        std::vector<std::string> calls = line->closeCalls();
        std::erase(calls, "drain");
        EXPECT_EQ(calls, (std::vector<std::string>{"purge", "dtr", "close"}));
    }
}

TEST_F(LineServiceTest, APortAwayForHoursIsToldOnceAnHourAndStaysOffline) {
    // Close to an hour and a half of tries every 5 s, then the port is back.
    failOpens(1000);
    addLine().input("%\nO0012\nM30\n%", 5100 * Second);
    addLine(); // the listen after it
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    size_t told = 0;
    size_t engineLines = 0;
    for (const std::string& line : host.logTexts()) {
        told += line.find("not available") != std::string::npos;
        engineLines += line.find("====") != std::string::npos;
    }
    EXPECT_EQ(told, 2u);               // at the start, and after an hour
    EXPECT_LE(engineLines, 4u);        // the receive's own lines, not one pair per try
    EXPECT_EQ(host.errors.size(), 1u); // the missing port, once
    // Offline from the first failed try until the port was back: no idle in between.
    size_t firstOffline = 0;
    while (firstOffline < sink.statuses.size() &&
           sink.statuses[firstOffline].activity != LineActivity::Offline)
        ++firstOffline;
    size_t changes = 0;
    for (size_t i = firstOffline + 1; i < sink.statuses.size(); ++i)
        changes += sink.statuses[i].activity != sink.statuses[i - 1].activity;
    EXPECT_LE(changes, 4u); // back (idle), receiving, idle, and offline at the stop
    // A port being retried is as started as the line gets; offline says why until the port is
    // back, and the stop says it stopped.
    EXPECT_EQ(sink.starts, 1);
    ASSERT_LT(firstOffline + 1, sink.statuses.size());
    EXPECT_NE(sink.statuses[firstOffline].reason, "");
    EXPECT_EQ(sink.statuses[firstOffline + 1].reason, "");
    EXPECT_EQ(sink.statuses.back().reason, "stopped");
}

TEST_F(LineServiceTest, ASendTakenJustBeforeTheStopIsAnsweredStill) {
    addLine();
    commands.at(10 * Second, {ServeCommand::Kind::Send, "O0012", "late-1"});
    // The stop comes while the listen given up for the send is still closing.
    serve([this] { return clock.now() >= 10 * Second + 500'000; });

    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].commandId, "late-1");
    EXPECT_EQ(sink.records[0].direction, "send");
    EXPECT_EQ(sink.records[0].result, TransferResult::Interrupted);
    EXPECT_EQ(sink.records[0].message, "stopped before it began");
}

TEST_F(LineServiceTest, ACancelledPushIsOneSendRecordAndOneCommandRecord) {
    turning = true;
    settings.machine.config.Xoff = 1; // the push waits for a DC1 that never comes
    addLine();
    commands.at(1 * Second, {ServeCommand::Kind::Send, "O0012", "push-1"});
    commands.at(20 * Second, {ServeCommand::Kind::Cancel, "", "cancel-1"});
    serve([this] { return sink.records.size() >= 2 || clock.now() > 600 * Second; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].direction, "send");
    EXPECT_EQ(sink.records[0].commandId, "push-1");
    EXPECT_EQ(sink.records[0].result, TransferResult::Interrupted);
    EXPECT_EQ(sink.records[1].direction, "command");
    EXPECT_EQ(sink.records[1].commandId, "cancel-1");
    EXPECT_EQ(sink.records[1].message, "cancelled the send of " + settings.library + "/O0012.NC");
    EXPECT_EQ(sink.records[1].file, "");
}

// ---- what a failing disk, an earlier run and a refused request leave ----

using Call = FaultyFileSystem::Call;

TEST_F(LineServiceTest, AProgramThatCannotBeFiledIsKeptInFailedWithTheFlushsReason) {
    addLine().input("%\nO0012\nG00X0\n%", 1 * Second);
    addLine().input("%\nO0013\nG00X0\n%", 1 * Second);
    addLine();
    files->fail(Call::SyncPath, EIO, ".receiving-");              // the program's flush
    files->fail(Call::SyncPath, EIO, settings.inbox, 1, 0, true); // the next one's folder flush
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    const JournalRecord& lost = sink.records[0];
    EXPECT_EQ(lost.result, TransferResult::Failed);
    EXPECT_TRUE(contains(lost.message, "Input/output error")) << lost.message;
    EXPECT_EQ(fs::path(lost.file).parent_path(), fs::path(settings.inbox) / "failed");
    EXPECT_EQ(readFile(lost.file), "%\r\nO0012\r\nG00X0\r\n%\r\n");
    EXPECT_EQ(lost.sha256, sha256OfFile(lost.file));
    EXPECT_FALSE(fs::exists(inbox("O0012.NC")));

    // Filed, but its folder not flushed: told, and failed/ has it too.
    const JournalRecord& unsure = sink.records[1];
    EXPECT_EQ(unsure.result, TransferResult::Failed);
    EXPECT_EQ(unsure.file, inbox("O0013.NC"));
    EXPECT_TRUE(contains(unsure.message, "Input/output error")) << unsure.message;
    EXPECT_TRUE(contains(unsure.message, "also kept as")) << unsure.message;
    EXPECT_EQ(namesIn(settings.inbox + "/failed").size(), 2u);
}

TEST_F(LineServiceTest, RecordsTheJournalRefusedAreWrittenLaterInTheirOrder) {
    addLine().input("%\nO0012\nG00X0\n%", 1 * Second);
    addLine().input("%\nO0013\nG00X0\n%", 2 * Second);
    addLine();
    files->fail(Call::Write, ENOSPC, {}, 3); // the disk is full for a while
    serve([this] { return sink.records.size() >= 2 && clock.now() > 60 * Second; });

    ASSERT_EQ(sink.records.size(), 2u);
    // The broker heard at once; the journal has both, whole, in order, once each.
    // (Those the broker heard before the journal took them carry no chain link.)
    EXPECT_EQ(withoutChainLinks(readFile(settings.journal)),
              toJson(sink.records[0]) + "\n" + toJson(sink.records[1]) + "\n");
    // Said once, not at every try.
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_TRUE(contains(host.errors[0], "No space left on device")) << host.errors[0];
    bool caughtUp = false;
    for (const std::string& line : host.logTexts())
        caughtUp = caughtUp || contains(line, "journal: written again (2 records");
    EXPECT_TRUE(caughtUp);
}

TEST_F(LineServiceTest, WhatAnEarlierRunLeftIsRecordedAsWhatItWas) {
    fs::create_directories(settings.inbox);
    writeFile(inbox(".receiving-a1b2c3"), "%\nO0014\nG0");
    writeFile(inbox(".sending-d4e5f6.O0012.NC"), "%\nO0012\nG00X0\nM30\n%\n");
    const std::string whole = toJson(JournalRecord{}) + "\n";
    writeFile(settings.journal, whole + whole.substr(0, 30)); // a power cut mid-record
    addLine();
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].direction, "receive");
    EXPECT_EQ(sink.records[0].result, TransferResult::Failed);
    EXPECT_EQ(sink.records[1].direction, "send");
    EXPECT_EQ(sink.records[1].result, TransferResult::Interrupted);
    EXPECT_TRUE(contains(sink.records[1].message, "unfinished send")) << sink.records[1].message;
    EXPECT_TRUE(contains(sink.records[1].message, "O0012.NC")) << sink.records[1].message;
    // Only the receive's bytes are in failed/; the send's copy is gone.
    EXPECT_EQ(namesIn(settings.inbox + "/failed").size(), 1u);
    EXPECT_EQ(readFile(sink.records[0].file), "%\nO0014\nG0");
    EXPECT_EQ(readFile(settings.journal),
              whole + toJson(sink.records[0]) + "\n" + toJson(sink.records[1]) + "\n");
}

TEST_F(LineServiceTest, ARefusedRequestIsKeptInFailedAndAHiddenFileIsNeverSent) {
    writeFile(settings.library + "/.secret", "%\n(HIDDEN)\n%\n");
    addLine().input("%\n(REQ=.secret)\n%", 1 * Second);
    TestLine& reply = addLine();
    addLine().input("%\n(REQ=O0012)\n%", 1 * Second);
    addLine();
    addLine();
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    const JournalRecord& refused = sink.records[0];
    EXPECT_EQ(refused.result, TransferResult::Refused);
    EXPECT_EQ(refused.request, ".secret");
    EXPECT_TRUE(contains(reply.written(), "(REFUSED .secret)")) << reply.written();
    EXPECT_FALSE(contains(reply.written(), "HIDDEN"));
    const auto failed = namesIn(settings.inbox + "/failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(contains(refused.message,
                         "the request is kept as " + settings.inbox + "/failed/" + failed[0]))
        << refused.message;
    EXPECT_TRUE(contains(readFile(settings.inbox + "/failed/" + failed[0]), "(REQ=.secret)"));
    // A request answered is not kept; the digest is of what was sent.
    EXPECT_EQ(sink.records[1].result, TransferResult::Completed);
    EXPECT_EQ(sink.records[1].sha256, sha256OfFile(settings.library + "/O0012.NC"));
    EXPECT_EQ(namesIn(settings.inbox + "/failed").size(), 1u);
}

TEST_F(LineServiceTest, AnInboxHeldByAnotherServiceIsRefusedAtStart) {
    fs::create_directories(settings.inbox);
    InboxLock other;
    ASSERT_EQ(other.acquire(settings.inbox), "");
    writeFile(inbox(".receiving-a1b2c3"), "%\nO0014\nG0"); // the other one's receive
    ServeEnvironment env;
    LineService service(settings, host, LineOpener(), env);
    const std::string error = service.prepare();
    EXPECT_TRUE(contains(error, "another service (pid ")) << error;
    // Its receive in progress is left alone.
    EXPECT_TRUE(fs::exists(inbox(".receiving-a1b2c3")));
}

TEST_F(LineServiceTest, OneLogLinePerTransferUnlessVerbose) {
    settings.config.Echo = 1;
    for (const bool verbose : {false, true}) {
        SCOPED_TRACE(verbose ? "verbose" : "quiet");
        settings.verbose = verbose;
        host.log.clear();
        sink.records.clear();
        addLine().input("%\nO0012\nG00X0\nG01X1\nG01X2\nM30\n%", clock.now() + Second);
        addLine();
        serve([this] { return !sink.records.empty(); });
        int blocks = 0;
        int transfers = 0;
        for (const std::string& line : host.logTexts()) {
            blocks += contains(line, "G01X1") ? 1 : 0;
            transfers += contains(line, "receive completed") ? 1 : 0;
        }
        EXPECT_EQ(transfers, 1);
        EXPECT_EQ(blocks, verbose ? 1 : 0);
        if (!verbose)
            EXPECT_LE(host.log.size(), 4u); // serving, the transfer, stopped
    }
}

TEST(ServiceHostTest, TheSendsClosingCountSaysWhatItCounts) {
    ManualClock clock;
    RecordingHost inner(clock);
    ServiceHost host(inner, "mill1", nullptr);
    host.logPrint(LogText, "==== Completed Send [698] byte ====");
    EXPECT_EQ(inner.logTexts().at(0),
              "[mill1] ==== Completed Send [698 bytes of tape: leader and blocks, "
              "a line end as one, without start and stop codes] ====");
}

} // namespace
} // namespace corvane::serve

namespace corvane::serve {
namespace {

// Each program on a line of its own, as each listen opens the port anew.
TEST_F(LineServiceTest, AProgramUnderAKnownNameIsComparedWithTheEarlierVersion) {
    addLine().input("%\nO0012\nG00X0\nM30\n%", 1 * Second); // the library's, punched back
    addLine().input("%\nO0012\nG00X5\nM30\n%", 1 * Second); // changed at the control
    addLine().input("%\nO0013\nG01Y1\n%", 1 * Second);      // a new one
    addLine().input("%\nO0013\nG01Y2\n%", 1 * Second);      // changed: against the inbox's
    addLine().input("%\nO0013\nG01Y2\n%", 1 * Second);      // punched again unchanged
    addLine();
    serve([this] { return sink.records.size() >= 5; });

    ASSERT_EQ(sink.records.size(), 5u);
    const std::string lib = settings.library + "/O0012.NC";
    EXPECT_EQ(sink.records[0].compare, "identical");
    EXPECT_EQ(sink.records[0].against, lib);
    EXPECT_EQ(sink.records[0].diff, "");

    EXPECT_EQ(sink.records[1].compare, "differs");
    EXPECT_EQ(sink.records[1].differing, 1u);
    EXPECT_EQ(sink.records[1].atLine, 3u);
    EXPECT_EQ(sink.records[1].diff, inbox("O0012.NC.diff"));
    EXPECT_EQ(readFile(inbox("O0012.NC.diff")),
              "--- " + lib + "\n+++ " + inbox("O0012.NC") +
                  "\n@@ -1,5 +1,5 @@\n %\n O0012\n-G00X0\n+G00X5\n M30\n %\n");

    EXPECT_EQ(sink.records[2].compare, "new");
    EXPECT_EQ(sink.records[3].compare, "differs");
    // The inbox's earlier version is named where it now is.
    EXPECT_EQ(sink.records[3].against, inbox("O0013.NC.~1~"));
    EXPECT_EQ(readFile(inbox("O0013.NC.~1~")), "%\r\nO0013\r\nG01Y1\r\n%\r\n");
    EXPECT_EQ(sink.records[3].diff, inbox("O0013.NC.diff"));

    // Unchanged against the version before it: the diff beside it would describe another
    // version, so it is kept aside.
    EXPECT_EQ(sink.records[4].compare, "identical");
    EXPECT_EQ(sink.records[4].against, inbox("O0013.NC.~2~"));
    EXPECT_FALSE(fs::exists(inbox("O0013.NC.diff")));
    EXPECT_NE(readFile(inbox("O0013.NC.diff.~1~")).find("-G01Y1\n+G01Y2\n"), std::string::npos);

    // The verdict is in the log and in the journal.
    const std::string journal = readFile(settings.journal);
    EXPECT_NE(journal.find("\"compare\":\"differs\",\"against\":\"" + lib +
                           "\",\"differing\":1,\"at_line\":3"),
              std::string::npos)
        << journal;
    bool logged = false;
    for (const std::string& line : host.logTexts())
        logged |=
            line.find("differs from " + lib + " in 1 line, first at line 3") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(LineServiceTest, CommentsSetAsideByTheLineMakeNoDifference) {
    settings.compare.ignoreComments = true;
    settings.compare.ignoreBlankLines = true;
    addLine().input("%\nO0012 (OP10 FACE)\n\n(TOOL 1)\nG00X0\nM30\n%", 1 * Second);
    addLine();
    serve([this] { return !sink.records.empty(); });
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].compare, "identical");
}

TEST_F(LineServiceTest, ACompareRequestIsAnsweredWithAVerdictInsteadOfAFiling) {
    addLine().input("%\n(CMP=O0012)\nO0012\nG00X0\nM30\n%", 1 * Second);
    TestLine& same = addLine();
    addLine().input("%\n(CMP=O0012)\nO0012\nG00X7\nM30\n%", 1 * Second);
    TestLine& differs = addLine();
    addLine();
    settings.machine.config.Comment = 0; // the machine drops comments from what it is sent
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_NE(same.written().find("(SAME AS O0012)"), std::string::npos) << same.written();
    // Numbered as the control holds the program, the request line included.
    EXPECT_NE(differs.written().find("(DIFFERS FROM O0012 AT LINE 4)"), std::string::npos)
        << differs.written();
    EXPECT_GE(opens[1] - opens[0], 3 * Second);

    const JournalRecord& first = sink.records[0];
    EXPECT_EQ(first.direction, "receive");
    EXPECT_EQ(first.request, "O0012");
    EXPECT_EQ(first.result, TransferResult::Completed);
    EXPECT_EQ(first.compare, "identical");
    EXPECT_EQ(first.file, "");
    EXPECT_FALSE(fs::exists(inbox("O0012.NC")));

    // What differs is kept apart, with its diff, so the control's version is not lost.
    const JournalRecord& second = sink.records[1];
    EXPECT_EQ(second.compare, "differs");
    EXPECT_EQ(second.atLine, 4u);
    EXPECT_EQ(second.file, inbox("compared/O0012.NC"));
    EXPECT_EQ(second.sha256, sha256OfFile(second.file));
    EXPECT_EQ(second.diff, inbox("compared/O0012.NC.diff"));
    EXPECT_NE(readFile(second.diff).find("+(CMP=O0012)\n O0012\n-G00X0\n+G00X7\n"),
              std::string::npos)
        << readFile(second.diff);
    EXPECT_FALSE(fs::exists(inbox("O0012.NC")));
}

TEST_F(LineServiceTest, ACompareRequestForAProgramTheLibraryLacksIsFiledAndToldSo) {
    addLine().input("%\n(CMP=O0099)\nO0099\nG00X1\n%", 1 * Second);
    TestLine& reply = addLine();
    addLine();
    serve([this] { return sink.records.size() >= 2; });

    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].direction, "receive");
    EXPECT_EQ(sink.records[0].file, inbox("O0099.NC"));
    EXPECT_EQ(sink.records[0].compare, "new");
    EXPECT_EQ(sink.records[1].direction, "send");
    EXPECT_EQ(sink.records[1].result, TransferResult::NotFound);
    EXPECT_EQ(sink.records[1].request, "O0099");
    EXPECT_NE(reply.written().find("(NOT FOUND O0099)"), std::string::npos) << reply.written();
}

// "(REQ=O0020 N50)": the program restarted at N50 goes out, and the record names the place
// and the checksum of what was sent, not of the library file.
TEST_F(LineServiceTest, ARequestWithAPlaceSendsTheRestartedProgram) {
    const std::string program = "%\nO0020\nN10 G21 G90 G54\nN20 T3 M06\nN30 G00 X1. Y2. S900 M03\n"
                                "N40 G43 H3 Z5.\nN50 G01 Z-1. F80.\nN60 G00 Z50.\nN70 M30\n%\n";
    writeFile(settings.library + "/O0020.NC", program);
    addLine().input("%\n(REQ=O0020 N50)\n%", 1 * Second);
    TestLine& sent = addLine();
    addLine();
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.result, TransferResult::Completed) << rec.message;
    EXPECT_EQ(rec.request, "O0020");
    EXPECT_EQ(rec.restart, "N50");
    EXPECT_EQ(rec.file, settings.library + "/O0020.NC");
    const std::string restarted = "%\nO0020\n(RESTART AT N50 LINE 7)\nG21 G54 G40 G80\nT3 M06\n"
                                  "S900 M03\nG90 G00 X1. Y2.\nG90 G00 G43 H3 Z5.\nG90 G00\n"
                                  "N50 G01 Z-1. F80.\nN60 G00 Z50.\nN70 M30\n%\n";
    writeFile(dir.file("expected.nc"), restarted);
    EXPECT_EQ(rec.sha256, sha256OfFile(dir.file("expected.nc")));
    EXPECT_EQ(rec.bytes, restarted.size());
    EXPECT_NE(toJson(rec).find("\"restart\":\"N50\""), std::string::npos) << toJson(rec);
    EXPECT_NE(sent.written().find("G90 G00 G43 H3 Z5.\r\n"), std::string::npos) << sent.written();
    EXPECT_EQ(sent.written().find("N40"), std::string::npos) << sent.written();
    // The temporary restarted program does not stay in the inbox.
    for (const auto& entry : fs::directory_iterator(settings.inbox))
        if (entry.is_regular_file())
            EXPECT_TRUE(entry.path().extension() == ".jsonl" ||
                        entry.path().filename() == ".serve.lock")
                << entry.path();
}

TEST_F(LineServiceTest, ARefusedRestartIsAnsweredWithTheReason) {
    writeFile(settings.library + "/O0021.NC",
              "%\nO0021\nG21 G90 G54\nT1 M06\nG00 X0 Y0 Z5. S900 M03\nG41 D1 G01 X5. F100.\n"
              "N30 Y20.\nG40 G00 X0\nM30\n%\n");
    addLine().input("%\n(REQ=O0021 N30)\n%", 1 * Second);
    TestLine& reply = addLine();
    addLine();
    settings.machine.config.Comment = 0; // the machine drops comments from what it is sent
    serve([this] { return !sink.records.empty(); });

    ASSERT_EQ(sink.records.size(), 1u);
    const JournalRecord& rec = sink.records[0];
    EXPECT_EQ(rec.result, TransferResult::Refused);
    EXPECT_EQ(rec.restart, "N30");
    EXPECT_EQ(rec.message.rfind("restart refused: cannot restart at N30 (line 7): it is inside "
                                "cutter compensation (G41 at line 6)",
                                0),
              0u)
        << rec.message;
    const std::string wire = reply.written();
    EXPECT_NE(wire.find("(RESTART REFUSED O0021.NC N30)"), std::string::npos) << wire;
    EXPECT_NE(wire.find("IT IS INSIDE CUTTER)\r\n(COMPENSATION [G41 AT LINE 6]"), std::string::npos)
        << wire;
    EXPECT_EQ(wire.find("G41 D1"), std::string::npos) << wire; // nothing of the program
}

} // namespace
} // namespace corvane::serve
