// Kept apart: the kernel's tcp_info, which has the peer's window, clashes with the C
// library's older one that the rest of the network code uses.
#include "transfer/TcpWindow.h"

#include <cstddef>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace corvane {

bool PeerWindow(int fd, uint32_t& window) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    // An older kernel fills less of the structure.
    if (length < offsetof(tcp_info, tcpi_snd_wnd) + sizeof info.tcpi_snd_wnd)
        return false;
    window = info.tcpi_snd_wnd;
    return true;
}

} // namespace corvane
