// A line's sink against a real mosquitto: what a subscriber sees, the commands it hands the
// service, what survives a broker killed and started again, the last will, TLS and accounts.
// The service itself is played by the test here; ShopServeTest runs the real one.

#include <gtest/gtest.h>

#include <poll.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "shop/MqttSink.h"
#include "shop/ShopView.h"
#include "support/BrokerProcess.h"
#include "support/ChildProcess.h"
#include "support/Clock.h"
#include "support/JsonLine.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using serve::JournalRecord;
using serve::LineActivity;
using serve::LineStatus;

std::string makeFolder() {
    std::string pattern = (fs::temp_directory_path() / "corvane-shop-XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

bool run(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child;
    return child.start(program, args) && child.wait(30000) == 0;
}

void publish(int port, const std::string& topic, const std::string& payload) {
    ASSERT_TRUE(run(mosquittoPubPath(), {"-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1",
                                         "-t", topic, "-m", payload}));
}

shop::ShopSettings settingsFor(const BrokerProcess& broker) {
    shop::ShopSettingsText text;
    text.broker = broker.url();
    return shop::readShopSettings(text).settings;
}

JournalRecord recordNumber(int n, const std::string& commandId = {}) {
    JournalRecord record;
    record.time = "2026-12-09T07:00:00Z";
    record.line = "mill1";
    record.direction = "receive";
    record.file = "/srv/inbox/O" + std::to_string(1000 + n) + ".NC";
    record.bytes = static_cast<uint64_t>(100 + n);
    record.sha256 = std::string(64, 'a');
    record.millis = 12;
    record.message = "record " + std::to_string(n);
    record.commandId = commandId;
    return record;
}

// The clock the sink thins its state updates by; the test moves it.
struct TestClock {
    uint64_t nowUs = 1'000'000'000;
    shop::MqttSinkClock clock() {
        return {[this] { return nowUs; }, [] { return std::string("2026-12-09T07:00:00Z"); }};
    }
};

class ShopSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = makeFolder();
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override { fs::remove_all(folder); }

    std::unique_ptr<shop::MqttSink> makeSink(const BrokerProcess& broker, shop::MqttSinkClock clock,
                                             shop::MqttSink::Limits limits = {}) {
        return std::make_unique<shop::MqttSink>(
            settingsFor(broker), "", "mill1", std::move(clock),
            [this](const std::string& line) { log.push_back(line); }, limits);
    }

    // The service's loop, as far as the sink sees it: service() every 10 ms.
    template <class Done>
    bool serviceUntil(shop::MqttSink& sink, Done done, int timeoutMs = 10000) {
        const long long deadline = steadyNowMs() + timeoutMs;
        while (!done()) {
            if (steadyNowMs() > deadline)
                return false;
            sink.service();
            ::poll(nullptr, 0, 10);
        }
        return true;
    }

    // Waits until the watcher is subscribed: a probe published on the watched tree comes back.
    void waitForWatcher(BrokerWatcher& watcher, int port) {
        const long long deadline = steadyNowMs() + 10000;
        while (watcher.payloads("corvane/probe/event").empty()) {
            ASSERT_LT(steadyNowMs(), deadline) << watcher.err();
            publish(port, "corvane/probe/event", "probe");
            watcher.pump(100);
        }
    }

    std::string folder;
    std::vector<std::string> log;
};

TEST_F(ShopSinkTest, subscriberSeesRetainedThinnedStatesAndTheJournalLineAsTheEvent) {
    BrokerProcess broker(folder, BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-states"));
    waitForWatcher(watcher, broker.port());

    TestClock clock;
    auto sink = makeSink(broker, clock.clock());
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->client().connected(); })) << broker.log();

    LineStatus status{"mill1", LineActivity::Receiving, "O1234.NC", 0, 0};
    sink->statusChanged(status);
    // A hundred progress reports within one second of the line's clock: at most two a second
    // reach the broker, and the last position is not lost.
    for (int i = 1; i <= 100; ++i) {
        clock.nowUs += 10'000;
        status.position = static_cast<uint64_t>(i) * 10;
        sink->statusChanged(status);
    }
    clock.nowUs += 600'000;
    sink->service();
    // Flow control flipping a send between held and sending is thinned the same way.
    status = {"mill1", LineActivity::Sending, "O9.NC", 0, 500};
    sink->statusChanged(status);
    for (int i = 1; i <= 100; ++i) {
        clock.nowUs += 10'000;
        status.activity = i % 2 ? LineActivity::Held : LineActivity::Sending;
        status.position = static_cast<uint64_t>(i) * 5;
        sink->statusChanged(status);
    }
    clock.nowUs += 600'000;
    sink->service();
    const JournalRecord record = recordNumber(1);
    sink->transferRecorded(record);
    sink->statusChanged({"mill1", LineActivity::Idle, "", 0, 0});
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));
    ASSERT_TRUE(serviceUntil(*sink, [&] {
        return watcher.payloads("corvane/mill1/event").size() == 1;
    })) << watcher.out();

    EXPECT_EQ(watcher.payloads("corvane/mill1/event").front(), serve::toJson(record));
    serviceUntil(*sink, [&] {
        const auto states = watcher.payloads("corvane/mill1/state");
        return !states.empty() && states.back().find("\"idle\"") != std::string::npos;
    });
    const std::vector<std::string> states = watcher.payloads("corvane/mill1/state");
    // Twice: the start and at most three updates across its 1.6 s; then the one after the
    // record, and idle.
    EXPECT_GE(states.size(), 6u);
    EXPECT_LE(states.size(), 10u);
    bool sawLastPosition = false;
    for (const std::string& state : states) {
        const JsonParse parsed = parseFlatJsonObject(state);
        ASSERT_TRUE(parsed.object) << state;
        for (const char* key : {"line", "state", "file", "position", "total", "time"})
            EXPECT_TRUE(parsed.object->count(key)) << key << " missing in " << state;
        sawLastPosition = sawLastPosition || jsonNumber(*parsed.object, "position") == 1000.0;
    }
    EXPECT_TRUE(sawLastPosition) << "the last progress report never reached the broker";
    EXPECT_NE(states.back().find("\"last_result\":\"completed\""), std::string::npos)
        << states.back();

    // The state is retained: a newcomer gets it at once.
    shop::ShopAccess access{settingsFor(broker), "", [] { return WexGetTickCount64(); }};
    const shop::ShopStatusResult view = shop::collectShopStatus(access, 300);
    ASSERT_EQ(view.lines.size(), 1u) << view.error;
    EXPECT_EQ(view.lines[0].line, "mill1");
    EXPECT_EQ(view.lines[0].state, "idle");
    EXPECT_EQ(view.lines[0].lastFile, "/srv/inbox/O1001.NC");

    // Commands turned away are events, but the state still tells the last transfer.
    JournalRecord busy = recordNumber(2, "c1");
    busy.direction = "send";
    busy.file.clear();
    busy.result = serve::TransferResult::Refused;
    JournalRecord refusal = recordNumber(3, "c2");
    refusal.direction = "command";
    refusal.file.clear();
    refusal.result = serve::TransferResult::Interrupted;
    sink->transferRecorded(busy);
    sink->transferRecorded(refusal);
    sink->statusChanged({"mill1", LineActivity::Sending, "O7.NC", 0, 0});
    ASSERT_TRUE(
        serviceUntil(*sink, [&] { return watcher.payloads("corvane/mill1/event").size() == 3; }));
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));
    const shop::ShopStatusResult after = shop::collectShopStatus(access, 300);
    ASSERT_EQ(after.lines.size(), 1u) << after.error;
    EXPECT_EQ(after.lines[0].state, "sending");
    EXPECT_EQ(after.lines[0].lastFile, "/srv/inbox/O1001.NC");
    EXPECT_EQ(after.lines[0].lastResult, "completed");
}

TEST_F(ShopSinkTest, commandsAreHandedOverAndBadOnesRefusedWithoutHarm) {
    BrokerProcess broker(folder, BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    auto sink = makeSink(broker, shop::systemSinkClock());
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->client().connected(); }));
    sink->statusChanged({"mill1", LineActivity::Idle, "", 0, 0});
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));

    const std::string topic = "corvane/mill1/command";
    publish(broker.port(), topic, R"({"send":"O0012","id":"a1"})");
    publish(broker.port(), topic, R"({"cancel":true})");
    publish(broker.port(), topic, R"({"send":"O1",)");                   // cut short
    publish(broker.port(), topic, R"({"send":{"nested":1},"id":"x"})");  // not flat
    publish(broker.port(), topic, R"({"send":"O1","cancel":true})");     // both
    publish(broker.port(), topic, std::string(70 * 1024, ' ') + "{}");   // over 64 KiB
    publish(broker.port(), "corvane/lathe/command", R"({"send":"O9"})"); // another line's

    std::vector<serve::ServeCommand> commands;
    std::vector<std::string> rejections;
    ASSERT_TRUE(serviceUntil(*sink,
                             [&] {
                                 while (auto c = sink->takeCommand())
                                     commands.push_back(*c);
                                 while (auto r = sink->takeRejection())
                                     rejections.push_back(*r);
                                 return commands.size() + rejections.size() >= 6;
                             }))
        << commands.size() << " commands, " << rejections.size() << " rejections";

    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].kind, serve::ServeCommand::Kind::Send);
    EXPECT_EQ(commands[0].name, "O0012");
    EXPECT_EQ(commands[0].id, "a1");
    EXPECT_EQ(commands[1].kind, serve::ServeCommand::Kind::Cancel);
    ASSERT_EQ(rejections.size(), 4u);
    EXPECT_NE(rejections[0].find("malformed"), std::string::npos) << rejections[0];
    EXPECT_NE(rejections[3].find("71682 bytes"), std::string::npos) << rejections[3];
    // Each refusal is also in the line's log.
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.find("command refused") == 0; }),
              4);
}

TEST_F(ShopSinkTest, brokerKilledAndRestartedLosesNoRecordAndSendsNoneTwice) {
    BrokerProcess broker(
        folder,
        BrokerOptions{.passwordFile = {}, .certFile = {}, .keyFile = {}, .persistence = true});
    ASSERT_TRUE(broker.start()) << broker.log();
    BrokerWatcher watcher;
    ASSERT_TRUE(watcher.start(broker.port(), "corvane/#", "watch-restart"));
    waitForWatcher(watcher, broker.port());

    auto sink = makeSink(broker, shop::systemSinkClock());
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->client().connected(); }));
    sink->statusChanged({"mill1", LineActivity::Receiving, "O1.NC", 0, 0});
    int next = 0;
    for (; next < 5; ++next)
        sink->transferRecorded(recordNumber(next));
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));

    // A burst handed over while the broker has stopped reading, then the crash: what was in
    // flight never reached it, and must go out once after the reconnect (from the MQTT
    // library's own queue, not again from the sink's).
    broker.pause();
    for (; next < 25; ++next) {
        sink->transferRecorded(recordNumber(next));
        sink->service();
    }
    ASSERT_GT(sink->undelivered(), 0u) << "nothing was in flight at the crash";
    broker.kill();
    // The line goes on while the broker is away; its records wait.
    for (int i = 0; i < 30; ++i) {
        sink->service();
        ::poll(nullptr, 0, 10);
        if (i % 3 == 0)
            sink->transferRecorded(recordNumber(next++));
    }
    EXPECT_GT(sink->undelivered(), 0u);
    ASSERT_TRUE(broker.start()) << broker.log();
    ASSERT_TRUE(serviceUntil(
        *sink, [&] { return sink->undelivered() == 0 && sink->client().connected(); }, 20000));
    EXPECT_EQ(sink->client().connectionCount(), 2);

    ASSERT_TRUE(serviceUntil(
        *sink, [&] { return watcher.payloads("corvane/mill1/event").size() >= size_t(next); },
        15000))
        << watcher.payloads("corvane/mill1/event").size() << " of " << next;
    std::map<std::string, int> seen;
    for (const std::string& payload : watcher.payloads("corvane/mill1/event"))
        ++seen[payload];
    ASSERT_EQ(seen.size(), size_t(next));
    for (int n = 0; n < next; ++n)
        EXPECT_GE(seen[serve::toJson(recordNumber(n))], 1) << "record " << n;
    // Each record reached the broker once: the ones in flight at the crash only in the MQTT
    // library's resend after the reconnect.
    EXPECT_EQ(broker.receivedPublishes("corvane/mill1/event"), next) << broker.log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) {
                                return l.find("trying again in the background") !=
                                       std::string::npos;
                            }),
              1)
        << "one line per outage";
}

TEST_F(ShopSinkTest, fullQueueDropsOldestStatesFirstAndRecordsOnlyWhenNothingElseIsLeft) {
    shop::OutgoingQueue queue(4, 1 << 20);
    using Kind = shop::OutgoingMessage::Kind;
    queue.push({Kind::State, "s", "1"});
    queue.push({Kind::Event, "e", "a"});
    queue.push({Kind::State, "s", "2"});
    queue.push({Kind::Event, "e", "b"});
    queue.push({Kind::State, "s", "3"}); // over: state 1 goes
    queue.push({Kind::Event, "e", "c"}); // over: state 2 goes
    queue.push({Kind::Event, "e", "d"}); // over: state 3 goes
    queue.push({Kind::Event, "e", "f"}); // nothing but records: the oldest goes
    std::string order;
    while (!queue.empty()) {
        order += queue.front().payload;
        queue.pop();
    }
    EXPECT_EQ(order, "bcdf");
    EXPECT_EQ(queue.droppedStates(), 3u);
    EXPECT_EQ(queue.droppedEvents(), 1u);
}

TEST_F(ShopSinkTest, aStateWaitingForTheBrokerIsReplacedByTheNextOfItsTopic) {
    shop::OutgoingQueue queue(100, 1 << 20);
    using Kind = shop::OutgoingMessage::Kind;
    queue.push({Kind::State, "s", "1"});
    queue.push({Kind::Event, "e", "a"});
    queue.push({Kind::State, "s", "2"});
    queue.push({Kind::State, "lib", "L"}); // another retained topic keeps its own
    queue.push({Kind::Event, "e", "b"});
    queue.push({Kind::State, "s", "3"});
    std::string order;
    while (!queue.empty()) {
        order += queue.front().payload;
        queue.pop();
    }
    // Every record, in order; of the states only the newest of each topic.
    EXPECT_EQ(order, "aLb3");
    EXPECT_EQ(queue.droppedStates(), 2u);
    EXPECT_EQ(queue.droppedEvents(), 0u);
}

TEST_F(ShopSinkTest, lastWillSaysOfflineWhenTheServiceVanishesAndFinishSaysItWhenItEnds) {
    BrokerProcess broker(folder, BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    shop::ShopAccess access{settingsFor(broker), "", [] { return WexGetTickCount64(); }};
    auto stateOf = [&] {
        const shop::ShopStatusResult view = shop::collectShopStatus(access, 300);
        return view.lines.empty() ? std::string("none")
                                  : view.lines[0].state + (view.lines[0].served ? "" : " (gone)");
    };
    {
        auto sink = makeSink(broker, shop::systemSinkClock());
        ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->client().connected(); }));
        sink->statusChanged({"mill1", LineActivity::Sending, "O1.NC", 10, 100});
        ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));
        EXPECT_EQ(stateOf(), "sending");
        // Destroyed without a goodbye, as a killed process would go.
    }
    const long long deadline = steadyNowMs() + 5000;
    std::string state;
    while ((state = stateOf()) != "offline (gone)" && steadyNowMs() < deadline) {
    }
    EXPECT_EQ(state, "offline (gone)");

    auto sink = makeSink(broker, shop::systemSinkClock());
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->client().connected(); }));
    sink->statusChanged({"mill1", LineActivity::Idle, "", 0, 0});
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));
    EXPECT_EQ(stateOf(), "idle");
    // A line whose port is away is offline but still served: it takes commands.
    sink->statusChanged({"mill1", LineActivity::Offline, "", 0, 0});
    ASSERT_TRUE(serviceUntil(*sink, [&] { return sink->undelivered() == 0; }));
    EXPECT_EQ(stateOf(), "offline");
    sink->finish(2000);
    EXPECT_EQ(stateOf(), "offline (gone)");
}

} // namespace
} // namespace corvane::testing
