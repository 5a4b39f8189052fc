#pragma once
// Where the shop's broker is: "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" (TLS), IPv6
// literals in brackets. One reader for the line file, the service's option and the shop verbs.

#include <string>

namespace corvane::shop {

struct BrokerAddress {
    bool tls = false;
    std::string host; // without brackets
    int port = 0;
};

struct BrokerAddressParse {
    BrokerAddress address;
    std::string error; // empty when the text was understood
};

BrokerAddressParse parseBrokerAddress(const std::string& text);

// "mqtt://HOST:PORT" again, for log lines.
std::string brokerAddressText(const BrokerAddress& address);

} // namespace corvane::shop
