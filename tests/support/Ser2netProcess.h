#pragma once
// The real ser2net in the foreground, with a configuration of one connection written for the
// test, on a free loopback port in front of a device (the simulated machine's pty).

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "support/ChildProcess.h"

namespace corvane::testing {

// A loopback port for a server, below the range the kernel hands out to outgoing connections
// (so none of those takes it between our check and the server's bind), free when checked.
inline uint16_t freeServerPort() {
    unsigned seed =
        static_cast<unsigned>(getpid()) * 2654435761u ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        seed = seed * 1103515245u + 12345u;
        const auto port = static_cast<uint16_t>(20000 + (seed >> 8) % 12000);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    return 0;
}

// True once a socket listens on 127.0.0.1:`port`. Connecting to find out would make ser2net
// open the machine's device.
inline bool listeningOn(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A")
            return true;
    }
    return false;
}

class Ser2netProcess {
public:
    ~Ser2netProcess() {
        if (m_process) {
            m_process->signal(SIGCONT);
            m_process->signal(SIGKILL);
        }
    }
    // `accepter` is "tcp" or "telnet(rfc2217),tcp"; `keepPort` starts again on the same port.
    bool start(const std::string& folder, const std::string& accepter, const std::string& device,
               bool keepPort = false) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!keepPort || port == 0)
                port = freeServerPort();
            const std::string config = folder + "/ser2net.yaml";
            std::ofstream(config) << "connection: &machine\n"
                                  << "  accepter: " << accepter << ",127.0.0.1," << port << "\n"
                                  << "  connector: serialdev," << device << ",9600n81,local\n"
                                  << "  options:\n"
                                  << "    kickolduser: true\n"
                                  << "    chardelay: false\n";
            m_process = std::make_unique<ChildProcess>();
            // No UUCP lock files: the device is the test's own pty, and ser2net takes its lock
            // for every connection, even while the device is away. One killed between creating
            // the lock and writing its pid leaves an empty lock behind, which every later ser2net
            // takes as held and refuses the device for ("Value or file not found").
            if (!m_process->start(SER2NET_PATH, {"-n", "-d", "-u", "-c", config}))
                return false;
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (std::chrono::steady_clock::now() < giveUp && !m_process->wait(10)) {
                if (listeningOn(port))
                    return true;
            }
        }
        return false;
    }
    void signal(int number) {
        if (m_process)
            m_process->signal(number);
    }
    void kill() {
        if (m_process) {
            m_process->signal(SIGCONT);
            m_process->signal(SIGKILL);
            m_process->wait(5000);
        }
    }
    std::string errors() const { return m_process ? m_process->err() : std::string(); }

    uint16_t port = 0;

private:
    std::unique_ptr<ChildProcess> m_process;
};

} // namespace corvane::testing
