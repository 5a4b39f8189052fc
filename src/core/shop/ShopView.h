#pragma once
// The shop verbs' side of the broker: the retained state of every line, and one program
// pushed to one line with its answer awaited. Both are short-lived clients that wait on the
// socket, never spin.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shop/ShopSettings.h"

namespace corvane::shop {

struct LineState {
    std::string line;
    std::string state;
    std::string file;
    uint64_t position = 0;
    uint64_t total = 0;
    std::string time;
    bool served = true;     // false: the line's service is gone (not only its port)
    std::string reason;     // offline: why its port is not there; cut to MaxReasonBytes
    std::string lastResult; // empty when the line has done no transfer yet
    std::string lastFile;
    std::string lastTime;
};

// Enough for any reason a service gives; a longer one from another publisher is cut.
constexpr size_t MaxReasonBytes = 256;

// A state message read back; false when it is not a state object.
bool parseLineState(std::string_view payload, LineState& state);

// "mill1  sending  O0012.NC  1200/4096 (29%)  last: completed O0011.NC 2026-12-09T07:15:02Z",
// the name padded to `nameWidth`.
// Fields are printed with control characters (C0, DEL, C1) as "?".
std::string formatLineState(const LineState& state, size_t nameWidth);

struct ShopAccess {
    ShopSettings settings;
    std::string password;
    std::function<uint64_t()> nowUs;
};

struct ShopStatusResult {
    std::vector<LineState> lines; // sorted by name
    std::string error;            // the broker could not be reached
};

// Connects, and collects the retained states for `waitMs` after the subscription.
ShopStatusResult collectShopStatus(const ShopAccess& access, int waitMs);

struct ShopSendResult {
    bool completed = false;
    std::string message; // the outcome in words, for the terminal
};

// Publishes {"send":NAME,"id":…} to the line and waits for the record answering it. Refuses at
// once when the line has no state on the broker within `waitMs`, or says it is offline; gives
// up when the line goes offline before it answers, or when no answer came within `timeoutMs`
// (a control never put in read mode holds the send for as long as it likes). `onState` hears
// every state of the line meanwhile.
constexpr int64_t DefaultSendTimeoutMs = 10 * 60 * 1000;
ShopSendResult sendThroughShop(const ShopAccess& access, const std::string& line,
                               const std::string& name, int waitMs,
                               int64_t timeoutMs = DefaultSendTimeoutMs,
                               const std::function<void(const LineState&)>& onState = {});

} // namespace corvane::shop
