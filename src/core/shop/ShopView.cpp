#include "shop/ShopView.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unistd.h>

#include "shop/MqttClient.h"
#include "shop/ShopCommand.h"
#include "support/JsonLine.h"

namespace corvane::shop {

namespace {

std::string uniqueId(const std::string& prefix, uint64_t nowUs) {
    char host[64] = {};
    ::gethostname(host, sizeof host - 1);
    return prefix + "-" + host + "-" + std::to_string(::getpid()) + "-" + std::to_string(nowUs);
}

// Connects within `waitMs`; the client's own log lines become the error.
bool connectWithin(MqttClient& client, const ShopAccess& access, int waitMs, std::string& error) {
    const uint64_t deadline = access.nowUs() + static_cast<uint64_t>(waitMs) * 1000;
    while (!client.connected() && access.nowUs() < deadline && client.setupError().empty())
        client.wait(static_cast<int>(std::max<uint64_t>(1, (deadline - access.nowUs()) / 1000)));
    if (client.connected())
        return true;
    if (!client.setupError().empty())
        error = client.setupError();
    else if (error.empty())
        error = "broker " + brokerAddressText(access.settings.broker) + " did not answer";
    return false;
}

// Any publisher may retain a state, so a count may be any JSON number: one that is no byte
// count (negative, past what 64 bits hold, or not a number at all) reads as 0, "unknown",
// instead of reaching a conversion whose result would be undefined.
uint64_t numberOr0(const JsonObject& object, std::string_view key) {
    const auto n = jsonNumber(object, key);
    constexpr double twoTo64 = 18446744073709551616.0;
    return n && *n > 0 && *n < twoTo64 ? static_cast<uint64_t>(*n) : 0;
}

// Cut to `max` bytes, never inside a UTF-8 character.
std::string bounded(std::string text, size_t max) {
    if (text.size() <= max)
        return text;
    size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text + "...";
}

} // namespace

bool parseLineState(std::string_view payload, LineState& state) {
    const JsonParse parsed = parseFlatJsonObject(payload);
    if (!parsed.object)
        return false;
    const JsonObject& o = *parsed.object;
    const auto line = jsonString(o, "line");
    const auto activity = jsonString(o, "state");
    if (!line || !activity)
        return false;
    state.line = *line;
    state.state = *activity;
    state.file = jsonString(o, "file").value_or("");
    state.position = numberOr0(o, "position");
    state.total = numberOr0(o, "total");
    state.time = jsonString(o, "time").value_or("");
    state.served = jsonBool(o, "served").value_or(state.state != "offline");
    state.reason = bounded(jsonString(o, "reason").value_or(""), MaxReasonBytes);
    state.lastResult = jsonString(o, "last_result").value_or("");
    state.lastFile = jsonString(o, "last_file").value_or("");
    state.lastTime = jsonString(o, "last_time").value_or("");
    return true;
}

// A retained state may come from any publisher on the broker: only printable characters reach
// the terminal, so an escape sequence in a field cannot rewrite the screen or the title. C0 and
// DEL, and C1 controls in their UTF-8 form (C2 80..9F), become "?".
std::string terminalSafe(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c == 0xC2 && i + 1 < field.size() && static_cast<unsigned char>(field[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(field[i + 1]) <= 0x9F) {
            out += '?';
            ++i;
        } else {
            out += (c < 0x20 || c == 0x7F) ? '?' : field[i];
        }
    }
    return out;
}

std::string formatLineState(const LineState& raw, size_t nameWidth) {
    LineState state = raw;
    for (std::string* field : {&state.line, &state.state, &state.file, &state.reason,
                               &state.lastResult, &state.lastFile, &state.lastTime})
        *field = terminalSafe(*field);
    std::string text = state.line;
    text.append(nameWidth > text.size() ? nameWidth - text.size() : 0, ' ');
    text += "  " + state.state;
    if (state.state == "offline")
        text += !state.served          ? " (not served)"
                : state.reason.empty() ? " (port not available)"
                                       : " (port not available: " + state.reason + ")";
    if (!state.file.empty()) {
        text += "  " + state.file + "  " + std::to_string(state.position);
        if (state.total > 0) {
            // Counts come from any publisher: position * 100 is taken in 128 bits so it cannot
            // wrap and show a small percentage for a nearly finished file.
            __extension__ using Wide = unsigned __int128;
            const uint64_t percent =
                state.position >= state.total
                    ? 100
                    : static_cast<uint64_t>(Wide{state.position} * 100 / state.total);
            text += "/" + std::to_string(state.total) + " (" + std::to_string(percent) + "%)";
        }
    }
    if (!state.lastResult.empty())
        text += "  last: " + state.lastResult + " " + state.lastFile + " " + state.lastTime;
    return text;
}

ShopStatusResult collectShopStatus(const ShopAccess& access, int waitMs) {
    ShopStatusResult result;
    MqttClient::Options options;
    options.settings = access.settings;
    options.password = access.password;
    options.clientId = uniqueId("corvane-status", access.nowUs());
    std::map<std::string, LineState> lines;
    MqttClient client(options, access.nowUs, [&](const std::string& line) { result.error = line; });
    client.onMessage = [&](const std::string& topic, std::string_view payload) {
        const std::string line = lineOfTopic(access.settings, topic, "state");
        LineState state;
        if (!line.empty() && parseLineState(payload, state)) {
            state.line = line; // the topic names the line; a payload cannot claim another
            lines[line] = state;
        }
    };
    if (!connectWithin(client, access, waitMs, result.error))
        return result;
    result.error.clear();
    client.subscribe(access.settings.topicPrefix + "+/state", 1);
    const uint64_t deadline = access.nowUs() + static_cast<uint64_t>(waitMs) * 1000;
    while (access.nowUs() < deadline)
        client.wait(static_cast<int>(std::max<uint64_t>(1, (deadline - access.nowUs()) / 1000)));
    client.disconnect();
    for (auto& [name, state] : lines)
        result.lines.push_back(std::move(state));
    return result;
}

ShopSendResult sendThroughShop(const ShopAccess& access, const std::string& line,
                               const std::string& name, int waitMs, int64_t timeoutMs,
                               const std::function<void(const LineState&)>& onState) {
    ShopSendResult result;
    if (!isTopicName(line)) {
        result.message = "'" + line + "' is not a line name";
        return result;
    }
    MqttClient::Options options;
    options.settings = access.settings;
    options.password = access.password;
    options.clientId = uniqueId("corvane-send", access.nowUs());
    std::string clientLog;
    MqttClient client(options, access.nowUs, [&](const std::string& text) { clientLog = text; });

    const std::string id = uniqueId("send", access.nowUs());
    std::optional<LineState> state;
    std::optional<JsonObject> answer;
    client.onMessage = [&](const std::string& topic, std::string_view payload) {
        if (topic == stateTopic(access.settings, line)) {
            LineState s;
            if (parseLineState(payload, s)) {
                s.line = line;
                state = s;
                if (onState)
                    onState(s);
            }
        } else if (topic == eventTopic(access.settings, line)) {
            const JsonParse parsed = parseFlatJsonObject(payload);
            if (parsed.object && jsonString(*parsed.object, "command") == id)
                answer = parsed.object;
        }
    };
    // Subscriptions go again after a reconnect: the session is a clean one.
    client.onConnected = [&] {
        client.subscribe(eventTopic(access.settings, line), 1);
        client.subscribe(stateTopic(access.settings, line), 1);
    };
    if (!connectWithin(client, access, waitMs, clientLog)) {
        result.message = clientLog;
        return result;
    }
    const uint64_t deadline = access.nowUs() + static_cast<uint64_t>(waitMs) * 1000;
    while (!state && access.nowUs() < deadline)
        client.wait(static_cast<int>(std::max<uint64_t>(1, (deadline - access.nowUs()) / 1000)));
    if (!state) {
        result.message = "line " + line + " has no state on the broker (is it served?)";
        client.disconnect();
        return result;
    }
    if (!state->served) {
        result.message = "line " + line + " is not served (its service is not running)";
        client.disconnect();
        return result;
    }
    serve::ServeCommand command;
    command.kind = serve::ServeCommand::Kind::Send;
    command.name = name;
    command.id = id;
    // Broker-side ordering puts the subscription above before this command, so the answer
    // cannot pass this client by.
    bool published = false;
    const uint64_t giveUpAt =
        access.nowUs() + static_cast<uint64_t>(std::max<int64_t>(timeoutMs, 0)) * 1000;
    while (!answer) {
        if (access.nowUs() >= giveUpAt) {
            // The command stays with the line: the program may still go out once the control
            // is ready. Only this wait ends.
            result.message = line + ": no answer within " + std::to_string(timeoutMs / 1000) +
                             " s; the line is " + state->state +
                             " (the send goes on if it has begun)";
            client.disconnect();
            return result;
        }
        if (!published && client.connected())
            published = client
                            .publish(commandTopic(access.settings, line), shopCommandJson(command),
                                     1, false)
                            .has_value();
        if (!state->served) {
            result.message = "line " + line + " stopped before it answered";
            client.disconnect();
            return result;
        }
        client.wait(
            static_cast<int>(std::clamp<uint64_t>((giveUpAt - access.nowUs()) / 1000, 1, 1000)));
    }
    client.disconnect();
    const std::string outcome = jsonString(*answer, "result").value_or("failed");
    const std::string file = jsonString(*answer, "file").value_or("");
    const std::string message = jsonString(*answer, "message").value_or("");
    result.completed = outcome == "completed";
    result.message = line + ": " + outcome + (file.empty() ? "" : " " + file) +
                     (message.empty() ? "" : " (" + message + ")");
    return result;
}

} // namespace corvane::shop
