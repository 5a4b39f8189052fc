#pragma once
// What a TCP connection's far end has not taken yet. Bytes the server's kernel acknowledged
// may still sit unread in its socket (a server stopped or hung): they show only as the window
// it offers getting smaller.

#include <cstdint>

namespace corvane {

// The receive window the peer last offered, in bytes. False when the kernel does not say.
bool PeerWindow(int fd, uint32_t& window);

} // namespace corvane
