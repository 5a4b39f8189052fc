#pragma once
// One connection to the shop's broker over libmosquitto, driven from the caller's own thread.
//
// Principles of operation: nothing here blocks. service() reads and writes what the socket
// allows at that moment and, while there is no connection, starts a new attempt when the
// back-off has run out (1 s, doubling up to 10 s), so the unattended line's engine can call it
// between its waits and never lose a character of a transfer to the network. wait() is the
// one blocking call, for the shop verbs: it sleeps on the socket, never spins.
//
// The library looks a host name up inside its connect call, where a name server that does not
// answer would hold the line for many seconds. A name is therefore looked up first without
// waiting, and the library is given the address found; a dead name server costs the line
// nothing but a later connection. Over TLS the certificate is still checked against the name.
//
// The library keeps QoS 1 messages it has sent and not yet had acknowledged, and sends them
// again after a reconnect of the same client; callers therefore hand over a message once and
// learn of its delivery from onPublished, never sending it again themselves.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "shop/ShopSettings.h"
#include "support/NameLookup.h"

struct mosquitto;
struct mosquitto_message;
struct ssl_st;

namespace corvane::shop {

struct MqttWill {
    std::string topic;
    std::string payload;
};

class MqttClient {
public:
    struct Options {
        ShopSettings settings;
        std::string password;
        std::string clientId;
        std::optional<MqttWill> will; // retained, QoS 1
        int keepAliveSeconds = 20;
        std::string outageNote; // added to the one line logged per outage
        NameLookupStart lookup; // empty: the system's resolver
    };

    // `nowUs` is a monotonic clock in microseconds; `log` takes one line, no line end.
    MqttClient(Options options, std::function<uint64_t()> nowUs,
               std::function<void(const std::string&)> log);
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Set before the first service().
    std::function<void()> onConnected;
    std::function<void()> onConnectionLost;
    std::function<void(const std::string& topic, std::string_view payload)> onMessage;
    std::function<void(int mid)> onPublished;
    // The broker answered a subscription as refused (SUBACK 0x80). Unset: a line in the log.
    std::function<void(const std::string& topic)> onSubscriptionRefused;

    // Empty when the library could not even be set up (then nothing will ever connect).
    const std::string& setupError() const { return m_setupError; }

    void service();
    // Sleeps until the socket has something or `maxMs` passed, then services. Shop verbs only.
    void wait(int maxMs);

    bool connected() const { return m_state == State::Connected; }
    // The message id, or nothing when not connected or the library refused it.
    std::optional<int> publish(const std::string& topic, std::string_view payload, int qos,
                               bool retain);
    bool subscribe(const std::string& topic, int qos);
    // A clean goodbye: the broker does not publish the will.
    void disconnect();

    // How many connections were made so far (tests and the benchmark look at reconnects).
    int connectionCount() const { return m_connections; }

private:
    enum class State { Waiting, Resolving, Connecting, Connected, Closed };
    void attempt();
    void connectTo(const std::string& address);
    void lost(const std::string& why);
    int setUpTls();
    static void tlsInfoCallback(const ssl_st* ssl, int where, int value);
    static void connectCallback(mosquitto*, void* self, int rc);
    static void disconnectCallback(mosquitto*, void* self, int rc);
    static void messageCallback(mosquitto*, void* self, const mosquitto_message* message);
    static void publishCallback(mosquitto*, void* self, int mid);
    static void logCallback(mosquitto*, void* self, int level, const char* text);
    static void subscribeCallback(mosquitto*, void* self, int mid, int count, const int* granted);

    Options m_options;
    std::function<uint64_t()> m_nowUs;
    std::function<void(const std::string&)> m_log;
    mosquitto* m_mosq = nullptr;
    std::unique_ptr<NameLookup> m_lookup; // a name lookup in progress
    std::string m_setupError;
    State m_state = State::Waiting;
    bool m_outageReported = false;
    uint64_t m_nextAttemptUs = 0;
    uint64_t m_attemptDeadlineUs = 0;
    uint64_t m_backoffUs = 0;
    int m_connections = 0;
    std::string m_refusal;            // from a CONNACK that said no
    std::string m_libraryError;       // the library's last error line (TLS says why only there)
    std::string m_certificateProblem; // why the broker's certificate was refused, when it was
    std::map<int, std::string> m_subscribing; // message id -> topic, until the broker answers
};

} // namespace corvane::shop
