#pragma once
// "HOST:PORT" with IPv6 literals in brackets, as device server and broker addresses write it.
// Only the splitting is shared: what a host or a port may be is each address's own rule.

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

struct HostPortSplit {
    enum class Problem { None, UnclosedBracket, TextAfterBracket };
    Problem problem = Problem::None;
    bool bracketed = false;               // the host was written in brackets
    std::string_view host;                // without brackets
    std::optional<std::string_view> port; // after the colon; nothing when there is no colon
};

// Splits at the ']' of a bracketed host, else at the first colon.
HostPortSplit splitHostPort(std::string_view text);

// "HOST:PORT", or "[HOST]:PORT" when the host is an IPv6 address.
std::string hostPortText(const std::string& host, int port);

} // namespace corvane
