// Kept apart: the kernel's tcp_info, which has the peer's window, clashes with the C
// library's older one that the rest of the network code uses.
#include "transfer/TcpWindow.h"

#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace corvane {

bool PeerState(int fd, PeerAcks& out) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    // An older kernel fills less of the structure; the window comes after the others.
    if (length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd)
        return false;
    out.window = info.tcpi_snd_wnd;
    out.minRoundTrip = info.tcpi_min_rtt;
    out.lastAckAgo = static_cast<uint64_t>(info.tcpi_last_ack_recv) * 1000u;
    return true;
}

} // namespace corvane
