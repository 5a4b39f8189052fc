// The RFC 2217 client on any bytes from a server. The front of the input queues our own
// COM-PORT commands (as the network line does before the server answers); the rest is what the
// server sends. Whatever the server says, the client ends in the same state however the bytes
// are cut into reads: split at every point (up to 256 of them) and one byte at a time give the
// same machine data, the same replies and the same answers as one read. A reply is never longer
// than what provoked it, so no server can make the client negotiate for ever, and nothing the
// server sends reaches the machine but data bytes (IAC IAC as one 0xFF).

#include <vector>

#include "FuzzSupport.h"
#include "transfer/Rfc2217Client.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

struct Command {
    uint8_t command;
    uint32_t value;
};

struct Outcome {
    std::string data;
    std::string output;
    std::vector<Rfc2217Client::Request> requests;
    bool spokeTelnet, comPortAccepted, comPortRefused, modemKnown, probeAnswered;
    uint8_t modemState;
};

Rfc2217Client prepared(const std::vector<Command>& commands, bool probe) {
    Rfc2217Client client;
    client.start();
    for (const Command& c : commands)
        client.queueCommand(c.command, c.value);
    if (probe)
        client.queueProbe();
    return client;
}

Outcome outcome(Rfc2217Client& client, std::string data) {
    return Outcome{std::move(data),          client.output(),          client.requests(),
                   client.spokeTelnet(),     client.comPortAccepted(), client.comPortRefused(),
                   client.modemStateKnown(), client.probeAnswered(),   client.modemState()};
}

bool same(const Outcome& a, const Outcome& b) {
    if (a.requests.size() != b.requests.size())
        return false;
    for (size_t i = 0; i < a.requests.size(); ++i) {
        const auto& x = a.requests[i];
        const auto& y = b.requests[i];
        if (x.command != y.command || x.value != y.value || x.answered != y.answered ||
            (x.answered && x.answer != y.answer))
            return false;
    }
    return a.data == b.data && a.output == b.output && a.spokeTelnet == b.spokeTelnet &&
           a.comPortAccepted == b.comPortAccepted && a.comPortRefused == b.comPortRefused &&
           a.modemKnown == b.modemKnown && a.probeAnswered == b.probeAnswered &&
           (!a.modemKnown || a.modemState == b.modemState);
}

// What the server's bytes carry for the machine: every byte outside a command, IAC IAC as one
// 0xFF. Written independently of the client as the oracle for its data.
std::string plainData(const uint8_t* bytes, size_t size) {
    std::string out;
    enum { Data, Iac, Option, Sub, SubIac } state = Data;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        switch (state) {
        case Data:
            if (b == 255)
                state = Iac;
            else
                out += static_cast<char>(b);
            break;
        case Iac:
            if (b == 255) {
                out += static_cast<char>(b);
                state = Data;
            } else if (b >= 251 && b <= 254) {
                state = Option;
            } else {
                state = b == 250 ? Sub : Data;
            }
            break;
        case Option:
            state = Data;
            break;
        case Sub:
            state = b == 255 ? SubIac : Sub;
            break;
        case SubIac:
            state = b == 255 ? Sub : Data;
            break;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    std::vector<Command> commands;
    const int count = in.below(8);
    for (int i = 0; i < count; ++i) {
        const uint8_t command = static_cast<uint8_t>(1 + in.below(12));
        commands.push_back({command, in.dword()});
    }
    const bool probe = in.flag();
    const std::string_view server = in.rest();
    const auto* bytes = reinterpret_cast<const uint8_t*>(server.data());

    Rfc2217Client whole = prepared(commands, probe);
    const size_t queued = whole.output().size();
    std::string wholeData;
    whole.take(bytes, server.size(), wholeData);
    const Outcome reference = outcome(whole, wholeData);

    FUZZ_CHECK(reference.data == plainData(bytes, server.size()));
    FUZZ_CHECK(reference.output.compare(0, queued, prepared(commands, probe).output()) == 0);
    FUZZ_CHECK(reference.output.size() - queued <= server.size());
    for (size_t i = 0; i < reference.requests.size(); ++i)
        FUZZ_CHECK(reference.requests[i].command == commands[i].command);
    FUZZ_CHECK(whole.allAnswered() == [&] {
        for (const auto& r : reference.requests)
            if (!r.answered)
                return false;
        return true;
    }());
    if (whole.allAnswered())
        FUZZ_CHECK(whole.settingsAnswered());

    const size_t step = server.size() <= 256 ? 1 : server.size() / 256;
    for (size_t cut = 0; cut <= server.size(); cut += step) {
        Rfc2217Client split = prepared(commands, probe);
        std::string splitData;
        split.take(bytes, cut, splitData);
        split.take(bytes + cut, server.size() - cut, splitData);
        FUZZ_CHECK(same(reference, outcome(split, splitData)));
    }
    Rfc2217Client single = prepared(commands, probe);
    std::string singleData;
    for (size_t i = 0; i < server.size(); ++i)
        single.take(bytes + i, 1, singleData);
    FUZZ_CHECK(same(reference, outcome(single, singleData)));
    return 0;
}
