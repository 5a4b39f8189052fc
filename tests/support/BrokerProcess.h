#pragma once
// A private mosquitto broker for a test: its own configuration in the test's folder, a free
// port on 127.0.0.1, optional password file, TLS and persistence (so a killed and restarted
// broker still knows a watcher's session). It can be killed and started again on the same
// port. Killed when the test ends.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace corvane::testing {

// The first of `candidates` that exists and is executable, or the last one.
inline std::string findProgram(const char* environment, std::vector<std::string> candidates) {
    if (const char* set = std::getenv(environment))
        return set;
    for (const std::string& path : candidates)
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    return candidates.back();
}

inline std::string mosquittoPath() {
    return findProgram("MOSQUITTO",
                       {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"});
}
inline std::string mosquittoSubPath() {
    return findProgram("MOSQUITTO_SUB", {"/usr/bin/mosquitto_sub", "/usr/local/bin/mosquitto_sub"});
}
inline std::string mosquittoPubPath() {
    return findProgram("MOSQUITTO_PUB", {"/usr/bin/mosquitto_pub", "/usr/local/bin/mosquitto_pub"});
}

// A port nobody listens on right now.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

inline bool acceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

struct BrokerOptions {
    std::string passwordFile; // anonymous clients are refused when set
    std::string certFile;     // with keyFile: the listener speaks TLS
    std::string keyFile;
    bool persistence = false;
};

class BrokerProcess {
public:
    BrokerProcess(std::string folder, BrokerOptions options)
        : m_folder(std::move(folder)), m_options(std::move(options)), m_port(freeLoopbackPort()) {}

    bool start() {
        std::ofstream conf(m_folder + "/mosquitto.conf");
        conf << "listener " << m_port << " 127.0.0.1\n";
        // Run as root (a container), mosquitto would switch to its own user and lose the
        // test folder.
        if (const passwd* me = ::getpwuid(::geteuid()))
            conf << "user " << me->pw_name << "\n";
        if (m_options.passwordFile.empty())
            conf << "allow_anonymous true\n";
        else
            conf << "allow_anonymous false\npassword_file " << m_options.passwordFile << "\n";
        if (!m_options.certFile.empty())
            conf << "certfile " << m_options.certFile << "\nkeyfile " << m_options.keyFile << "\n";
        if (m_options.persistence)
            conf << "persistence true\npersistence_location " << m_folder << "/\n"
                 << "autosave_on_changes true\nautosave_interval 1\n";
        // Every packet in the log, so a failing test can show who sent what twice.
        conf << "log_dest file " << m_folder << "/mosquitto.log\nlog_type all\n";
        conf.close();
        m_process = std::make_unique<ChildProcess>();
        if (!m_process->start(mosquittoPath(), {"-c", m_folder + "/mosquitto.conf"}))
            return false;
        const long long deadline = steadyNowMs() + 5000;
        while (!acceptsConnections(m_port)) {
            if (steadyNowMs() > deadline || m_process->exited())
                return false;
            m_process->pump(20);
        }
        return true;
    }

    // SIGKILL: a crash, nothing saved beyond what persistence already wrote.
    void kill() {
        if (m_process) {
            m_process->signal(SIGKILL);
            m_process->wait(5000);
        }
    }

    // How many PUBLISH packets for `topic` the broker took in, across restarts: the witness
    // for "sent once". A subscriber cannot be that witness: a broker restarted after a kill may
    // itself deliver again what it had delivered before (its saved state lags behind).
    int receivedPublishes(const std::string& topic) const {
        const std::string text = log();
        int count = 0;
        size_t at = 0;
        while ((at = text.find("Received PUBLISH from ", at)) != std::string::npos) {
            const size_t end = text.find('\n', at);
            if (text.substr(at, end - at).find("'" + topic + "'") != std::string::npos)
                ++count;
            at = end;
        }
        return count;
    }

    // SIGSTOP / SIGCONT: a broker that has stopped reading, as a hung one would.
    void pause() { m_process->signal(SIGSTOP); }
    void resume() { m_process->signal(SIGCONT); }

    int port() const { return m_port; }
    std::string url() const {
        return std::string(m_options.certFile.empty() ? "mqtt" : "mqtts") +
               "://127.0.0.1:" + std::to_string(m_port);
    }
    // Everything the broker said, across restarts.
    std::string log() const {
        std::ifstream in(m_folder + "/mosquitto.log");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text + (m_process ? m_process->err() : std::string());
    }

private:
    std::string m_folder;
    BrokerOptions m_options;
    int m_port;
    std::unique_ptr<ChildProcess> m_process;
};

// mosquitto_sub as an independent witness of what reached the broker: one "TOPIC PAYLOAD" line
// per message, QoS 1, with a persistent session so it also gets what was published while a
// restarted broker had not seen it back yet.
class BrokerWatcher : public ChildProcess {
public:
    bool start(int port, const std::string& topic, const std::string& id) {
        return ChildProcess::start(mosquittoSubPath(),
                                   {"-h", "127.0.0.1", "-p", std::to_string(port), "-q", "1", "-c",
                                    "-i", id, "-t", topic, "-F", "%t %p"});
    }
    // The payloads seen so far on `topic`, in order.
    std::vector<std::string> payloads(const std::string& topic) {
        pump(0);
        std::vector<std::string> result;
        size_t begin = 0;
        const std::string& text = out();
        while (begin < text.size()) {
            const size_t end = text.find('\n', begin);
            if (end == std::string::npos)
                break;
            const std::string line = text.substr(begin, end - begin);
            if (line.rfind(topic + " ", 0) == 0)
                result.push_back(line.substr(topic.size() + 1));
            begin = end + 1;
        }
        return result;
    }
};

} // namespace corvane::testing
