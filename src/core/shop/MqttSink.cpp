#include "shop/MqttSink.h"

#include <ctime>
#include <unistd.h>

#include "shop/ShopCommand.h"
#include "support/Clock.h"
#include "support/JsonLine.h"
#include "support/TimeText.h"

namespace corvane::shop {

namespace {

std::string clientIdFor(const std::string& line) {
    char host[64] = {};
    ::gethostname(host, sizeof host - 1);
    return "corvane/" + line + "/" + host + "/" + std::to_string(::getpid());
}

MqttClient::Options clientOptions(const ShopSettings& settings, std::string password,
                                  const std::string& line, std::string willPayload) {
    MqttClient::Options options;
    options.settings = settings;
    options.password = std::move(password);
    options.clientId = clientIdFor(line);
    options.will = MqttWill{stateTopic(settings, line), std::move(willPayload)};
    options.outageNote = "; serving on, and trying again in the background";
    return options;
}

} // namespace

MqttSinkClock systemSinkClock() {
    return {[] { return WexGetTickCount64(); }, [] { return isoUtc(std::time(nullptr)); }};
}

MqttSink::MqttSink(ShopSettings settings, std::string password, std::string line,
                   MqttSinkClock clock, std::function<void(const std::string&)> log, Limits limits)
    : m_settings(std::move(settings)), m_line(std::move(line)), m_clock(std::move(clock)),
      m_log(std::move(log)), m_limits(limits),
      // The will cannot know when the line will die, so its time is null.
      m_client(clientOptions(m_settings, std::move(password), m_line,
                             jsonLine({{"line", m_line},
                                       {"state", "offline"},
                                       {"file", ""},
                                       {"position", 0},
                                       {"total", 0},
                                       {"time", nullptr},
                                       {"served", false}})),
               m_clock.nowUs, m_log),
      m_queue(limits.queueMessages, limits.queueBytes) {
    m_status.line = m_line;
    m_client.onConnected = [this] { connected(); };
    m_client.onMessage = [this](const std::string& topic, std::string_view payload) {
        message(topic, payload);
    };
    m_client.onPublished = [this](int mid) { m_inFlight.erase(mid); };
    // The line serves its machine all the same; only the shop cannot reach it.
    m_client.onSubscriptionRefused = [this](const std::string& topic) {
        m_log("commands for this line are refused by the broker " +
              brokerAddressText(m_settings.broker) + ": it did not grant the subscription to " +
              topic + " (see the account's access list); serving on without them");
    };
}

std::string MqttSink::stateJson(const serve::LineStatus& status, const char* activity,
                                bool served) const {
    JsonWriteObject json;
    json["line"] = m_line;
    json["state"] = activity;
    json["file"] = status.file;
    json["position"] = status.position;
    json["total"] = status.total;
    json["time"] = m_clock.wallTime();
    // "offline" alone cannot tell a line whose port is away (its service is there and takes
    // commands) from a line whose service is gone (its will, or its goodbye).
    json["served"] = served;
    if (!status.reason.empty())
        json["reason"] = status.reason;
    if (m_hasRecord) {
        // The last transfer's outcome travels with the state, so a newcomer reading only the
        // retained states sees what each line last did.
        json["last_result"] = serve::resultName(m_lastRecord.result);
        json["last_file"] = m_lastRecord.file;
        json["last_time"] = m_lastRecord.time;
    }
    return jsonLine(json);
}

void MqttSink::queueState(const serve::LineStatus& status) {
    m_queue.push({OutgoingMessage::Kind::State, stateTopic(m_settings, m_line),
                  stateJson(status, serve::activityName(status.activity), true)});
    m_lastStateUs = m_clock.nowUs();
    m_progressPending = false;
    handOver();
}

void MqttSink::statusChanged(const serve::LineStatus& status) {
    // A line under flow control flips between held and sending many times a second; those
    // flips are thinned like progress. Any other change goes out at once.
    const bool flip =
        status.activity != m_status.activity && (status.activity == serve::LineActivity::Held ||
                                                 m_status.activity == serve::LineActivity::Held);
    const bool changed = !m_statusKnown || status.file != m_status.file ||
                         status.reason != m_status.reason ||
                         (status.activity != m_status.activity && !flip);
    const bool moved =
        flip || status.position != m_status.position || status.total != m_status.total;
    m_status = status;
    m_status.line = m_line;
    m_statusKnown = true;
    if (changed)
        queueState(m_status);
    else if (moved)
        m_progressPending = true;
    service();
}

void MqttSink::transferRecorded(const serve::JournalRecord& record) {
    m_queue.push(
        {OutgoingMessage::Kind::Event, eventTopic(m_settings, m_line), serve::toJson(record)});
    // A command turned away, or a cancel's own answer, left the line as it was: the state
    // keeps telling the last transfer the line made, not the last word it said.
    const bool transfer =
        record.direction != "command" &&
        !(record.result == serve::TransferResult::Refused && !record.commandId.empty());
    if (transfer) {
        m_lastRecord = record;
        m_hasRecord = true;
        if (m_statusKnown)
            queueState(m_status);
    }
    handOver();
}

void MqttSink::service() {
    if (m_progressPending && m_clock.nowUs() - m_lastStateUs >= m_limits.progressIntervalUs)
        queueState(m_status);
    if (auto listing = m_library ? m_library->due(m_clock.nowUs()) : std::nullopt)
        m_queue.push(
            {OutgoingMessage::Kind::State, m_settings.topicPrefix + m_line + "/library", *listing});
    m_client.service();
    handOver();
    if (m_queue.droppedEvents() > m_reportedEventDrops) {
        m_log(
            "broker queue full: " + std::to_string(m_queue.droppedEvents() - m_reportedEventDrops) +
            " transfer record(s) dropped from it; the journal file keeps them");
        m_reportedEventDrops = m_queue.droppedEvents();
    }
}

void MqttSink::handOver() {
    while (m_client.connected() && !m_queue.empty() && m_inFlight.size() < m_limits.inFlight) {
        const OutgoingMessage& next = m_queue.front();
        const std::optional<int> mid = m_client.publish(next.topic, next.payload, 1,
                                                        next.kind == OutgoingMessage::Kind::State);
        if (!mid)
            return;
        m_inFlight.insert(*mid);
        m_queue.pop();
    }
}

void MqttSink::connected() {
    m_client.subscribe(commandTopic(m_settings, m_line), 1);
    if (m_library)
        m_library->resend();
    // The broker may have lost the retained state in a restart, or published the will when it
    // lost sight of this line: say the present again.
    if (m_statusKnown)
        queueState(m_status);
}

void MqttSink::message(const std::string& topic, std::string_view payload) {
    if (topic != commandTopic(m_settings, m_line))
        return;
    ShopCommandParse parsed = parseShopCommand(payload);
    if (parsed.command && m_commands.size() >= m_limits.waitingCommands)
        parsed = {std::nullopt, "command refused: too many commands waiting", parsed.command->id};
    if (!parsed.command) {
        m_log(parsed.refusal);
        if (m_rejections.size() < m_limits.waitingCommands)
            m_rejections.emplace_back(++m_arrivals,
                                      serve::CommandRefusal{parsed.refusal, parsed.id});
        return;
    }
    m_commands.emplace_back(++m_arrivals, std::move(*parsed.command));
}

std::optional<serve::ServeCommand> MqttSink::takeCommand() {
    if (m_commands.empty() ||
        (!m_rejections.empty() && m_rejections.front().first < m_commands.front().first))
        return std::nullopt;
    serve::ServeCommand command = std::move(m_commands.front().second);
    m_commands.pop_front();
    return command;
}

std::optional<serve::CommandRefusal> MqttSink::takeRefusal() {
    if (m_rejections.empty() ||
        (!m_commands.empty() && m_commands.front().first < m_rejections.front().first))
        return std::nullopt;
    serve::CommandRefusal refusal = std::move(m_rejections.front().second);
    m_rejections.pop_front();
    return refusal;
}

std::optional<std::string> MqttSink::takeRejection() {
    if (auto refusal = takeRefusal())
        return std::move(refusal->reason);
    return std::nullopt;
}

void MqttSink::finish(int maxMs) {
    serve::LineStatus offline = m_status;
    offline.activity = serve::LineActivity::Offline;
    offline.file.clear();
    offline.position = offline.total = 0;
    offline.reason.clear();
    m_queue.push({OutgoingMessage::Kind::State, stateTopic(m_settings, m_line),
                  stateJson(offline, "offline", false)});
    const uint64_t deadline = m_clock.nowUs() + static_cast<uint64_t>(maxMs) * 1000;
    while (undelivered() > 0 && m_clock.nowUs() < deadline) {
        handOver();
        m_client.wait(20);
    }
    if (undelivered() > 0)
        m_log("broker: " + std::to_string(undelivered()) +
              " message(s) not delivered at the end; the journal file keeps the records");
    m_client.disconnect();
}

} // namespace corvane::shop
