// The port text reader on any text, as the machine file, -p and the port box give it. What it
// accepts it writes back (text()) into a text that reads back the same and fits PortName;
// COM numbers stay in 1..256, network ports in 1..65535, devices are absolute paths without
// blanks or control characters, hosts are names or IPv6 literals. What it refuses leaves the
// address it was given untouched.

#include <arpa/inet.h>

#include <cctype>

#include "FuzzSupport.h"
#include "transfer/PortAddress.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool same(const PortAddress& a, const PortAddress& b) {
    return a.kind == b.kind && a.comNumber == b.comNumber && a.device == b.device &&
           a.host == b.host && a.port == b.port;
}

void checkAccepted(const PortAddress& address) {
    const std::string text = address.text();
    FUZZ_CHECK(!text.empty() && text.size() <= MaxPortTextLength);
    PortAddress again;
    FUZZ_CHECK(ParsePortAddress(text, again));
    FUZZ_CHECK(same(address, again));
    switch (address.kind) {
    case PortKind::ComNumber:
        FUZZ_CHECK(address.comNumber >= 1 && address.comNumber <= 256);
        break;
    case PortKind::Device:
        FUZZ_CHECK(address.device.size() > 1 && address.device.front() == '/');
        for (const char c : address.device)
            FUZZ_CHECK(!std::isspace(static_cast<unsigned char>(c)) &&
                       !std::iscntrl(static_cast<unsigned char>(c)));
        break;
    case PortKind::RawTcp:
    case PortKind::Rfc2217: {
        FUZZ_CHECK(address.port >= 1);
        FUZZ_CHECK(!address.host.empty());
        if (address.host.find(':') != std::string::npos) {
            in6_addr v6{};
            FUZZ_CHECK(inet_pton(AF_INET6, address.host.c_str(), &v6) == 1);
        } else {
            for (const char c : address.host)
                FUZZ_CHECK(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
                           c == '.');
        }
        FUZZ_CHECK(address.isNetwork());
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    PortAddress address;
    address.kind = PortKind::Device;
    address.device = "/untouched";
    const PortAddress before = address;
    if (ParsePortAddress(text, address))
        checkAccepted(address);
    else
        FUZZ_CHECK(same(address, before));
    return 0;
}
