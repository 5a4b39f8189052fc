#pragma once
// Whether a device server's program reads what its kernel acknowledges, told by when the
// acknowledgements come. Times are passed in, so the rule can be checked without a clock.
//
// A server whose program has stopped (hung, SIGSTOPped) still has its kernel acknowledge every
// byte: a Linux server's socket grows its buffer to take megabytes, and the window it offers
// never shrinks, so nothing at the sending end fills or shrinks. What changes is when the
// acknowledgements come. A server reading what arrives acknowledges it as it reads it, one
// round trip after it left; bytes nobody reads are acknowledged only by the kernel's
// delayed-acknowledgement timer, 40 ms or more later. Once a server has shown that it
// acknowledges promptly, acknowledgements that keep coming late mean its program took nothing.
//
// A stopped server still acknowledges a byte promptly now and then (its kernel acknowledges
// at once after a segment's worth of bytes): only a run of prompt ones counts as reading.
// A reading server is late now and then too (its serial side full for a moment, a busy
// computer): only a few late ones in a row count as a stop. So a server stopped within the
// last moment of a send, while its kernel still answers at once, passes unnoticed.
// A server that acknowledges late even while it reads (a stack that always delays) never
// shows prompt ones, and is never judged by this.

#include <cstddef>
#include <cstdint>
#include <deque>

namespace corvane {

class AckTiming {
public:
    // Prompt acknowledgements seen before late ones are taken to mean anything: more than
    // a kernel gives at once after a pause in the data, whether its program reads or not.
    static constexpr unsigned KnownPrompt = 64;
    // Prompt acknowledgements in a row that show the server reads again.
    static constexpr unsigned ReadingRun = 4;
    // Late acknowledgements, with no run of prompt ones between, that make a stop.
    static constexpr unsigned StoppedRun = 5;
    // How much later than the round trip an acknowledgement may come and still be prompt:
    // below the 40 ms a Linux kernel delays the acknowledgement of bytes nobody reads, above
    // what a busy server's wake-up takes.
    static constexpr uint64_t LateMicros = 30'000;

    // `total` bytes have been handed to the socket by `at`.
    void sent(uint64_t total, uint64_t at);
    // `acked` of them are acknowledged, the last acknowledgement having come at `ackAt`;
    // `roundTrip` is the shortest round trip of the connection.
    void acknowledged(uint64_t acked, uint64_t ackAt, uint64_t roundTrip);
    // The machine holds the line: nothing is expected to be read, and the late ones so far
    // are not held against the server.
    void pause() {
        m_lateSince = 0;
        m_late = 0;
    }
    // Since when acknowledgements have come only late; 0 when they come as the server reads,
    // or it has not yet shown that it acknowledges promptly.
    uint64_t lateSince() const {
        return m_prompt >= KnownPrompt && m_late >= StoppedRun ? m_lateSince : 0;
    }

private:
    static constexpr size_t MaxSent = 1 << 16;
    struct Sent {
        uint64_t total;
        uint64_t at;
    };
    std::deque<Sent> m_sent;
    uint64_t m_acked = 0;
    unsigned m_prompt = 0;
    unsigned m_run = 0;
    unsigned m_late = 0;
    uint64_t m_lateSince = 0;
};

} // namespace corvane
