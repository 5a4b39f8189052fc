// The broker address reader and the topic rules on any text. An address read is one of the
// two schemes with a host and a port in 1..65535; written back (brokerAddressText) it reads
// back the same; a host is a name of [A-Za-z0-9._-] or an IPv6 literal, never a path, an
// account or a second address. A refusal always says why. A line name taken out of a topic
// can stand in a topic, and the topic built back from it is the topic it came from.
// The first byte picks the check: even for an address, odd for a topic under a prefix (the
// prefix is the text before the first newline).

#include <arpa/inet.h>

#include "FuzzSupport.h"
#include "shop/BrokerAddress.h"
#include "shop/ShopSettings.h"

using namespace corvane;
using namespace corvane::fuzz;
using namespace corvane::shop;

namespace {

void checkAddress(const std::string& text) {
    const BrokerAddressParse parsed = parseBrokerAddress(text);
    if (!parsed.error.empty())
        return;
    const BrokerAddress& a = parsed.address;
    FUZZ_CHECK(text.rfind(a.tls ? "mqtts://" : "mqtt://", 0) == 0);
    FUZZ_CHECK(a.port >= 1 && a.port <= 65535);
    FUZZ_CHECK(!a.host.empty());
    if (a.host.find(':') != std::string::npos) {
        in6_addr v6{};
        FUZZ_CHECK(inet_pton(AF_INET6, a.host.c_str(), &v6) == 1);
    } else {
        for (const char c : a.host)
            FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_');
    }
    const BrokerAddressParse again = parseBrokerAddress(brokerAddressText(a));
    FUZZ_CHECK(again.error.empty());
    FUZZ_CHECK(again.address.tls == a.tls && again.address.host == a.host &&
               again.address.port == a.port);
}

void checkTopic(FuzzInput& in) {
    ShopSettings settings;
    settings.topicPrefix = std::string(in.until('\n'));
    const std::string topic(in.rest());
    for (const char* kind : {"state", "event", "command"}) {
        const std::string line = lineOfTopic(settings, topic, kind);
        if (line.empty())
            continue;
        FUZZ_CHECK(isTopicName(line));
        const std::string back = std::string(kind) == "state"   ? stateTopic(settings, line)
                                 : std::string(kind) == "event" ? eventTopic(settings, line)
                                                                : commandTopic(settings, line);
        FUZZ_CHECK(back == topic);
    }
    if (isTopicName(topic))
        for (const char c : topic)
            FUZZ_CHECK(c != '/' && c != '+' && c != '#' && static_cast<unsigned char>(c) >= 0x20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    if (in.byte() % 2 == 0)
        checkAddress(std::string(in.rest()));
    else
        checkTopic(in);
    return 0;
}
