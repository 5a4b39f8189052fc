#include "shop/BrokerAddress.h"

#include <arpa/inet.h>

#include <charconv>

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

    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) {
            result.error = "broker address '" + text + "' has an unclosed '['";
            return result;
        }
        result.address.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') {
                result.error = "broker address '" + text + "' has text after ']'";
                return result;
            }
            portText = after.substr(1);
            if (portText.empty()) {
                result.error = "broker address '" + text + "' has an empty port";
                return result;
            }
        }
    } else {
        const size_t colon = rest.find(':');
        result.address.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty()) {
                result.error = "broker address '" + text + "' has an empty port";
                return result;
            }
        }
    }
    if (result.address.host.empty()) {
        result.error = "broker address '" + text + "' names no host";
        return result;
    }
    for (char c : result.address.host) {
        // A host name or an address literal; anything else (a path, credentials, a second
        // colon outside brackets) is a mistake we would rather say than guess about.
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' ||
                        (c == ':' && rest.front() == '[');
        if (!ok) {
            result.error = "broker address '" + text + "' has an invalid host";
            return result;
        }
    }
    // Brackets hold an IPv6 address and nothing else: "[6:1]" or "[broker]" is a typo that
    // would otherwise reach the resolver as a name.
    if (rest.front() == '[') {
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
    const bool v6 = address.host.find(':') != std::string::npos;
    return std::string(address.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" : "") + address.host +
           (v6 ? "]" : "") + ":" + std::to_string(address.port);
}

} // namespace corvane::shop
