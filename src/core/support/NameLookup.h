#pragma once
// A host name looked up while the caller goes on with its loop: a name server that does not
// answer must cost a line nothing but the connection that waited for it.
//
// Giving up on a lookup (destroying it) never waits for the name server either: a request
// that the resolver is still working on is freed by the resolver's own notice that it ended.

#include <functional>
#include <memory>
#include <string>

struct addrinfo;

namespace corvane {

class NameLookup {
public:
    virtual ~NameLookup() = default;
    // EAI_INPROGRESS while the answer is outstanding, 0 once addresses() holds it, else why
    // not (an EAI_ code, for gai_strerror).
    virtual int status() = 0;
    // The addresses found, owned by the lookup; null until status() is 0.
    virtual const addrinfo* addresses() const = 0;
};

// Starts looking `host` up for a stream connection to `port`. Never null: a lookup that
// could not be started says so through status().
std::unique_ptr<NameLookup> startNameLookup(const std::string& host, int port);

// Where lookups come from; tests put in one that answers as they choose.
using NameLookupStart =
    std::function<std::unique_ptr<NameLookup>(const std::string& host, int port)>;

// The first address of `addresses` as text ("192.0.2.7", "::1"); empty when there is none.
std::string numericHost(const addrinfo* addresses);

} // namespace corvane
