#include "support/HostPort.h"

namespace corvane {

HostPortSplit splitHostPort(std::string_view text) {
    HostPortSplit split;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) {
            split.problem = HostPortSplit::Problem::UnclosedBracket;
            return split;
        }
        split.bracketed = true;
        split.host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            split.problem = HostPortSplit::Problem::TextAfterBracket;
            return split;
        }
    } else {
        const size_t colon = text.find(':');
        split.host = text.substr(0, colon);
        if (colon != std::string_view::npos)
            rest = text.substr(colon);
    }
    if (!rest.empty())
        split.port = rest.substr(1);
    return split;
}

std::string hostPortText(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

} // namespace corvane
