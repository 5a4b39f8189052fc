#include "transfer/PortAddress.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>

#include "settings/MachineDef.h"
#include "support/HostPort.h"

namespace corvane {

namespace {

constexpr int32_t FirstCom = 1;
constexpr int32_t LastCom = 256;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Decimal digits only, at most `maxDigits` of them; no sign, no blanks.
bool parseDigits(std::string_view text, size_t maxDigits, int32_t& value) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    int32_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    value = result;
    return true;
}

// A host name or IPv4 address: letters, digits, '-', '_' and '.', not starting with a dot or
// a dash (which a resolver or a command line would take for something else).
bool validHostName(std::string_view host) {
    constexpr size_t LongestName = 253;
    if (host.empty() || host.size() > LongestName || host.front() == '.' || host.front() == '-')
        return false;
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            return false;
    }
    return true;
}

bool validIpv6(std::string_view host) {
    if (host.empty() || host.size() >= INET6_ADDRSTRLEN)
        return false;
    in6_addr address{};
    const std::string text(host);
    return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// "HOST:PORT" or "[IPV6]:PORT" after the scheme.
bool parseHostPort(std::string_view text, std::string& host, uint16_t& port) {
    const HostPortSplit split = splitHostPort(text);
    if (split.problem != HostPortSplit::Problem::None || !split.port)
        return false;
    // An IPv6 address without brackets fails as a host name: its colons are not allowed.
    if (split.bracketed ? !validIpv6(split.host) : !validHostName(split.host))
        return false;
    int32_t number = 0;
    constexpr int32_t LastPort = 65535;
    if (!parseDigits(*split.port, 5, number) || number < 1 || number > LastPort)
        return false;
    host = std::string(split.host);
    port = static_cast<uint16_t>(number);
    return true;
}

} // namespace

std::string PortAddress::hostPort() const {
    return hostPortText(host, port);
}

std::string PortAddress::text() const {
    switch (kind) {
    case PortKind::ComNumber:
        return std::to_string(comNumber);
    case PortKind::Device:
        return device;
    case PortKind::RawTcp:
        return "tcp://" + hostPort();
    case PortKind::Rfc2217:
        return "rfc2217://" + hostPort();
    }
    return {};
}

bool ParsePortAddress(std::string_view text, PortAddress& out) {
    text = trimmed(text);
    if (text.empty() || text.size() > MaxPortTextLength || text.find('\0') != std::string::npos)
        return false;

    PortAddress parsed;
    const size_t scheme = text.find("://");
    if (scheme != std::string_view::npos) {
        const std::string_view name = text.substr(0, scheme);
        if (name.size() == 3 && startsWithNoCase(name, "tcp"))
            parsed.kind = PortKind::RawTcp;
        else if (name.size() == 7 && startsWithNoCase(name, "rfc2217"))
            parsed.kind = PortKind::Rfc2217;
        else
            return false;
        if (!parseHostPort(text.substr(scheme + 3), parsed.host, parsed.port))
            return false;
        if (parsed.text().size() > MaxPortTextLength)
            return false;
        out = std::move(parsed);
        return true;
    }

    std::string_view number = text;
    if (startsWithNoCase(number, "COM"))
        number = trimmed(number.substr(3));
    int32_t value = 0;
    if (parseDigits(number, 6, value)) {
        if (value < FirstCom || value > LastCom)
            return false;
        parsed.comNumber = value;
        out = std::move(parsed);
        return true;
    }

    if (text.front() == '/')
        parsed.device = std::string(text);
    else if (text.find('/') == std::string_view::npos && startsWithNoCase(text, "tty"))
        parsed.device = "/dev/" + std::string(text);
    else
        return false;
    // A cut path would name another device.
    if (parsed.device.size() > MaxPortTextLength)
        return false;
    // A path ending in '/' names a folder ("/", "/dev/"), never a device.
    if (parsed.device.back() == '/')
        return false;
    // No device is named with blanks or control characters; such a path is a mistyped text (or
    // one that would print as something else in every message naming it).
    for (const char c : parsed.device)
        if (std::isspace(static_cast<unsigned char>(c)) ||
            std::iscntrl(static_cast<unsigned char>(c)))
            return false;
    parsed.kind = PortKind::Device;
    out = std::move(parsed);
    return true;
}

bool MachinePortAddress(const MachineLine& line, PortAddress& out) {
    const size_t length = strnlen(line.PortName, sizeof line.PortName);
    if (length == 0) {
        out = PortAddress{};
        out.comNumber = (line.PortNo < 0 ? 0 : line.PortNo) + 1;
        return true;
    }
    // PortName is not trimmed by the reader; blanks around a file's value are the file's.
    return ParsePortAddress(std::string_view(line.PortName, length), out);
}

} // namespace corvane
