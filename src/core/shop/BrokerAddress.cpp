#include "shop/BrokerAddress.h"

#include <arpa/inet.h>

#include <charconv>

#include "support/HostPort.h"

namespace corvane::shop {

BrokerAddressParse parseBrokerAddress(const std::string& text) {
    BrokerAddressParse result;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
        result.address.port = 1883;
    } else if (text.rfind("mqtts://", 0) == 0) {
        rest = text.substr(8);
        result.address.tls = true;
        result.address.port = 8883;
    } else {
        result.error = "broker address '" + text + "' does not start with mqtt:// or mqtts://";
        return result;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();

    const HostPortSplit split = splitHostPort(rest);
    if (split.problem == HostPortSplit::Problem::UnclosedBracket) {
        result.error = "broker address '" + text + "' has an unclosed '['";
        return result;
    }
    if (split.problem == HostPortSplit::Problem::TextAfterBracket) {
        result.error = "broker address '" + text + "' has text after ']'";
        return result;
    }
    if (split.port && split.port->empty()) {
        result.error = "broker address '" + text + "' has an empty port";
        return result;
    }
    result.address.host = std::string(split.host);
    const std::string portText(split.port.value_or(""));
    if (result.address.host.empty()) {
        result.error = "broker address '" + text + "' names no host";
        return result;
    }
    for (char c : result.address.host) {
        // A host name or an address literal; anything else (a path, credentials, a second
        // colon outside brackets) is a mistake we would rather say than guess about.
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
                        (c == ':' && split.bracketed);
        if (!ok) {
            result.error = "broker address '" + text + "' has an invalid host";
            return result;
        }
    }
    // Brackets hold an IPv6 address and nothing else: "[6:1]" or "[broker]" is a typo that
    // would otherwise reach the resolver as a name.
    if (split.bracketed) {
        in6_addr v6{};
        if (inet_pton(AF_INET6, result.address.host.c_str(), &v6) != 1) {
            result.error = "broker address '" + text + "' has no IPv6 address in its brackets";
            return result;
        }
    }
    if (!portText.empty()) {
        int port = 0;
        const auto [end, ec] =
            std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 ||
            port > 65535) {
            result.error = "broker address '" + text + "' has an invalid port";
            return result;
        }
        result.address.port = port;
    }
    return result;
}

std::string brokerAddressText(const BrokerAddress& address) {
    return std::string(address.tls ? "mqtts://" : "mqtt://") +
           hostPortText(address.host, address.port);
}

} // namespace corvane::shop
