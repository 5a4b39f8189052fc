#pragma once
// What a TCP connection's far end has not taken yet. Bytes the server's kernel acknowledged
// may still sit unread in its socket (a server stopped or hung): they show as the window it
// offers getting smaller, or, where its buffer grows instead, as acknowledgements that come
// only on the kernel's timer.

#include <cstdint>

namespace corvane {

struct PeerAcks {
    uint32_t window = 0;       // the receive window the peer last offered, in bytes
    uint64_t minRoundTrip = 0; // the shortest round trip seen on the connection
    uint64_t lastAckAgo = 0;   // how long ago the last acknowledgement came (ms resolution)
};

// False when the kernel does not say.
bool PeerState(int fd, PeerAcks& out);

} // namespace corvane
