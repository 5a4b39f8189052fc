#pragma once
// A command from the broker for one line: {"send":"NAME"} or {"cancel":true}, each with an
// optional "id" that the answering record carries back. Anything else is refused with a
// reason; the payload is untrusted and is read only as flat JSON of bounded size.

#include <optional>
#include <string>
#include <string_view>

#include "serve/EventSink.h"

namespace corvane::shop {

// Larger payloads are refused unread.
constexpr size_t MaxCommandBytes = 64 * 1024;
constexpr size_t MaxCommandIdBytes = 128;

struct ShopCommandParse {
    std::optional<serve::ServeCommand> command;
    std::string refusal; // why, when there is no command
    std::string id;      // a refused command's "id", when it had a readable one
};

ShopCommandParse parseShopCommand(std::string_view payload);

// The payload that parseShopCommand reads back as `command`.
std::string shopCommandJson(const serve::ServeCommand& command);

} // namespace corvane::shop
