#pragma once
// One served line on the shop's broker: its state (retained, thinned to two updates a second
// during a transfer, "offline" as the last will), each journal record as an event, and the
// commands addressed to it. Everything runs inside service(), which never blocks, so the line's
// own thread carries it between the engine's waits.
//
// Delivery: a message is handed to the MQTT library only while connected and only while fewer
// than a handful wait for their acknowledgement; the rest wait here, in order, in a bounded
// queue. What was handed over is the library's from then on: it sends it again itself after a
// reconnect, and sending it again from here would put a record on the broker twice.

#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>

#include "serve/EventSink.h"
#include "shop/LibraryListing.h"
#include "shop/MqttClient.h"
#include "shop/OutgoingQueue.h"

namespace corvane::shop {

struct MqttSinkClock {
    std::function<uint64_t()> nowUs;       // monotonic, microseconds
    std::function<std::string()> wallTime; // ISO 8601 UTC, for the state's "time"
};

// The real clocks.
MqttSinkClock systemSinkClock();

class MqttSink : public serve::EventSink, public serve::CommandSource {
public:
    struct Limits {
        size_t queueMessages = 10'000;
        size_t queueBytes = 16 * 1024 * 1024;
        size_t inFlight = 10;
        size_t waitingCommands = 32;
        uint64_t progressIntervalUs = 500'000;
    };

    MqttSink(ShopSettings settings, std::string password, std::string line, MqttSinkClock clock,
             std::function<void(const std::string&)> log, Limits limits);
    MqttSink(ShopSettings settings, std::string password, std::string line, MqttSinkClock clock,
             std::function<void(const std::string&)> log)
        : MqttSink(std::move(settings), std::move(password), std::move(line), std::move(clock),
                   std::move(log), Limits{}) {}

    // Publishes the folder's listing, retained, under LINE/library for the shop's pages.
    void watchLibrary(std::string folder) { m_library.emplace(std::move(folder)); }

    const std::string& setupError() const { return m_client.setupError(); }

    void statusChanged(const serve::LineStatus& status) override;
    void transferRecorded(const serve::JournalRecord& record) override;
    void service() override;

    std::optional<serve::ServeCommand> takeCommand() override;
    std::optional<std::string> takeRejection() override;
    std::optional<serve::CommandRefusal> takeRefusal() override;

    // At the end of the service: hands over what is still queued for at most `maxMs`, says
    // "offline" and leaves cleanly.
    void finish(int maxMs);

    // Messages not yet acknowledged by the broker (queued here or in flight).
    size_t undelivered() const { return m_queue.size() + m_inFlight.size(); }
    const MqttClient& client() const { return m_client; }

private:
    std::string stateJson(const serve::LineStatus& status, const char* activity, bool served) const;
    void queueState(const serve::LineStatus& status);
    void connected();
    void message(const std::string& topic, std::string_view payload);
    void handOver();

    ShopSettings m_settings;
    std::string m_line;
    MqttSinkClock m_clock;
    std::function<void(const std::string&)> m_log;
    Limits m_limits;
    MqttClient m_client;
    OutgoingQueue m_queue;
    std::set<int> m_inFlight;
    size_t m_reportedEventDrops = 0;

    serve::LineStatus m_status;
    bool m_statusKnown = false;
    bool m_progressPending = false;
    uint64_t m_lastStateUs = 0;
    serve::JournalRecord m_lastRecord;
    bool m_hasRecord = false;

    // Both in arrival order, numbered, so that each is handed out only after everything that
    // came before it: the answers then come in the order the commands were sent.
    std::deque<std::pair<uint64_t, serve::ServeCommand>> m_commands;
    std::deque<std::pair<uint64_t, serve::CommandRefusal>> m_rejections;
    uint64_t m_arrivals = 0;
    std::optional<LibraryWatch> m_library;
};

} // namespace corvane::shop
