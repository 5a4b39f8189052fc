#include "shop/MqttClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include "support/NameLookup.h"

namespace corvane::shop {

namespace {

constexpr uint64_t FirstBackoffUs = 1'000'000;
constexpr uint64_t MaxBackoffUs = 10'000'000;
// A connection that has not been accepted by then is given up and tried again.
constexpr uint64_t ConnectTimeoutUs = 10'000'000;

std::string reasonOf(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return mosquitto_strerror(rc);
}

bool isAddressLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// What a CONNACK that says no means, for the account the client gave (MQTT 3.1.1 codes).
// mosquitto answers an unknown user and a wrong password alike (5), so that no stranger can
// learn which accounts exist; the text then names both.
std::string refusalText(int rc, const std::string& user) {
    const std::string refused = "the broker refused the connection: ";
    switch (rc) {
    case 1:
        return refused + "it does not speak MQTT 3.1.1";
    case 2:
        return refused + "it does not take the client id";
    case 3:
        return refused + "it takes no clients at the moment (server unavailable)";
    case 4:
        return refused + "bad user name or password: the account '" + user +
               "' is unknown or its password is wrong";
    case 5:
        if (user.empty())
            return refused + "not authorised: it takes no client without an account (set a "
                             "user and a password file)";
        return refused + "not authorised: the account '" + user +
               "' is unknown, its password is wrong, or it may not connect (the broker does "
               "not say which)";
    default:
        return refused + mosquitto_connack_string(rc);
    }
}

// Why the broker's certificate was not taken, from OpenSSL's verification.
std::string certificateText(long result, const ShopSettings& settings) {
    switch (result) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the broker's certificate is for another host than " + settings.broker.host +
               " (name the broker as its certificate does)";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        if (settings.caFile.empty())
            return "the broker's certificate is not signed by a CA this system trusts (name the "
                   "shop's CA certificate with BrokerCa or --ca)";
        return "the broker's certificate is not signed by the CA in " + settings.caFile;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the broker's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the broker's certificate is not valid yet (is this computer's clock right?)";
    default:
        return std::string("the broker's certificate was not accepted: ") +
               X509_verify_cert_error_string(result);
    }
}

} // namespace

MqttClient::MqttClient(Options options, std::function<uint64_t()> nowUs,
                       std::function<void(const std::string&)> log)
    : m_options(std::move(options)), m_nowUs(std::move(nowUs)), m_log(std::move(log)) {
    mosquitto_lib_init();
    // A clean session: a command sent while the line is away is not carried out hours later
    // at a machine whose operator no longer expects it; the sender sees the line offline.
    m_mosq = mosquitto_new(m_options.clientId.empty() ? nullptr : m_options.clientId.c_str(), true,
                           this);
    if (!m_mosq) {
        m_setupError = "the MQTT library could not be set up";
        m_state = State::Closed;
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::connectCallback);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::disconnectCallback);
    mosquitto_message_callback_set(m_mosq, &MqttClient::messageCallback);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::publishCallback);
    mosquitto_log_callback_set(m_mosq, &MqttClient::logCallback);
    mosquitto_subscribe_callback_set(m_mosq, &MqttClient::subscribeCallback);
    mosquitto_max_inflight_messages_set(m_mosq, 20);
    int rc = MOSQ_ERR_SUCCESS;
    const ShopSettings& settings = m_options.settings;
    if (!settings.user.empty())
        rc = mosquitto_username_pw_set(m_mosq, settings.user.c_str(),
                                       m_options.password.empty() ? nullptr
                                                                  : m_options.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && m_options.will)
        rc = mosquitto_will_set(m_mosq, m_options.will->topic.c_str(),
                                static_cast<int>(m_options.will->payload.size()),
                                m_options.will->payload.data(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && settings.broker.tls)
        rc = setUpTls();
    if (rc == MOSQ_ERR_TLS) {
        m_setupError =
            "CA file '" + settings.caFile + "' holds no certificate this program can read";
        m_state = State::Closed;
    } else if (rc != MOSQ_ERR_SUCCESS) {
        m_setupError = "the broker connection could not be set up: " + reasonOf(rc);
        m_state = State::Closed;
    }
}

// The TLS context is ours, handed to the library as it stands: the library reports a refused
// certificate only as "certificate verify failed", and the shop needs to know whether the CA
// is wrong or the certificate names another host. OpenSSL checks both here and keeps the
// reason, which the alert this side sends makes readable. The certificate is checked against
// the broker's name as the shop wrote it: the connection itself goes to the address our own
// lookup found, and the library's defaults would check against that.
int MqttClient::setUpTls() {
    const ShopSettings& settings = m_options.settings;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr)
        return MOSQ_ERR_NOMEM;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    const bool trusted =
        settings.caFile.empty()
            ? SSL_CTX_set_default_verify_paths(ctx) == 1
            : SSL_CTX_load_verify_locations(ctx, settings.caFile.c_str(), nullptr) == 1;
    X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
    const std::string& host = settings.broker.host;
    if (isAddressLiteral(host))
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_app_data(ctx, this);
    SSL_CTX_set_info_callback(ctx, &MqttClient::tlsInfoCallback);
    // The library takes a reference of its own.
    int rc = trusted ? mosquitto_void_option(m_mosq, MOSQ_OPT_SSL_CTX, ctx) : MOSQ_ERR_TLS;
    // As it stands: the library's defaults would replace the verification set up here.
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_int_option(m_mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    SSL_CTX_free(ctx);
    return rc;
}

// Called by OpenSSL at every step of a handshake. When this side sends an alert after a
// failed verification, the reason is still there to read (the library frees the connection
// before it says it failed).
void MqttClient::tlsInfoCallback(const ssl_st* ssl, int where, int) {
    if (!(where & SSL_CB_ALERT) || !(where & SSL_CB_WRITE))
        return;
    auto* client = static_cast<MqttClient*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    const long result = SSL_get_verify_result(ssl);
    if (client && result != X509_V_OK)
        client->m_certificateProblem = certificateText(result, client->m_options.settings);
}

MqttClient::~MqttClient() {
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

void MqttClient::attempt() {
    m_refusal.clear();
    m_libraryError.clear();
    m_certificateProblem.clear();
    const BrokerAddress& broker = m_options.settings.broker;
    if (isAddressLiteral(broker.host)) {
        connectTo(broker.host);
        return;
    }
    m_lookup = m_options.lookup ? m_options.lookup(broker.host, broker.port)
                                : startNameLookup(broker.host, broker.port);
    m_state = State::Resolving;
    m_attemptDeadlineUs = m_nowUs() + ConnectTimeoutUs;
}

void MqttClient::connectTo(const std::string& address) {
    // An address: the library looks a name up inside this call, blocking.
    const int rc = mosquitto_connect_async(m_mosq, address.c_str(), m_options.settings.broker.port,
                                           m_options.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(reasonOf(rc));
        return;
    }
    m_state = State::Connecting;
    m_attemptDeadlineUs = m_nowUs() + ConnectTimeoutUs;
}

void MqttClient::lost(const std::string& why) {
    const bool wasConnected = m_state == State::Connected;
    if (m_state == State::Closed)
        return;
    m_state = State::Waiting;
    m_backoffUs =
        wasConnected || m_backoffUs == 0 ? FirstBackoffUs : std::min(m_backoffUs * 2, MaxBackoffUs);
    m_nextAttemptUs = m_nowUs() + m_backoffUs;
    // One line per outage, not one per attempt: a broker down for a night must not fill the
    // log of a line that goes on serving its machine.
    if (!m_outageReported) {
        m_outageReported = true;
        std::string reason = !m_refusal.empty()              ? m_refusal
                             : !m_certificateProblem.empty() ? m_certificateProblem
                                                             : why;
        while (!reason.empty() && reason.back() == '.')
            reason.pop_back();
        if (m_refusal.empty() && m_certificateProblem.empty() && !m_libraryError.empty())
            reason += " (" + m_libraryError + ")";
        m_log("broker " + brokerAddressText(m_options.settings.broker) + ": " + reason +
              m_options.outageNote);
    }
    if (wasConnected && onConnectionLost)
        onConnectionLost();
}

void MqttClient::service() {
    switch (m_state) {
    case State::Closed:
        return;
    case State::Waiting:
        if (m_nowUs() >= m_nextAttemptUs)
            attempt();
        return;
    case State::Resolving: {
        const int status = m_lookup->status();
        if (status == EAI_INPROGRESS && m_nowUs() < m_attemptDeadlineUs)
            return;
        const std::string address = status == 0 ? numericHost(m_lookup->addresses()) : "";
        m_lookup.reset();
        if (!address.empty())
            connectTo(address);
        else if (status == EAI_INPROGRESS)
            lost("cannot look up the broker's name: no answer from the name server");
        else
            lost(std::string("cannot look up the broker's name: ") + gai_strerror(status));
        return;
    }
    case State::Connecting:
    case State::Connected: {
        const int rc = mosquitto_loop(m_mosq, 0, 1);
        if (m_state == State::Waiting) {
            // The disconnect callback has already noted the loss.
        } else if (rc != MOSQ_ERR_SUCCESS) {
            lost(reasonOf(rc));
        } else if (m_state == State::Connecting && m_nowUs() >= m_attemptDeadlineUs) {
            mosquitto_disconnect(m_mosq);
            lost("no answer from the broker");
        }
        return;
    }
    }
}

void MqttClient::wait(int maxMs) {
    int sliceMs = std::max(0, maxMs);
    const int sock = m_mosq ? mosquitto_socket(m_mosq) : -1;
    if ((m_state == State::Connecting || m_state == State::Connected) && sock >= 0) {
        pollfd p{sock, static_cast<short>(POLLIN | (mosquitto_want_write(m_mosq) ? POLLOUT : 0)),
                 0};
        // Keep-alive pings are due now and then; a second is far inside any keep-alive.
        ::poll(&p, 1, std::min(sliceMs, 1000));
    } else if (m_state == State::Waiting) {
        const uint64_t now = m_nowUs();
        const uint64_t untilAttemptMs = m_nextAttemptUs > now ? (m_nextAttemptUs - now) / 1000 : 0;
        ::poll(nullptr, 0, static_cast<int>(std::min<uint64_t>(sliceMs, untilAttemptMs)));
    } else {
        // A name lookup has nothing to wait on here; look again every 20 ms.
        ::poll(nullptr, 0, m_state == State::Resolving ? std::min(sliceMs, 20) : sliceMs);
    }
    service();
}

std::optional<int> MqttClient::publish(const std::string& topic, std::string_view payload, int qos,
                                       bool retain) {
    if (m_state != State::Connected)
        return std::nullopt;
    int mid = 0;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), qos, retain);
    switch (rc) {
    case MOSQ_ERR_SUCCESS:
        return mid;
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_ERRNO:
        // The connection went while the message was handed over. A QoS 1 message is already
        // in the library's own queue by then and goes out after the reconnect; offering it
        // again would deliver it twice.
        if (qos > 0)
            return mid;
        return std::nullopt;
    default:
        m_log("broker refused a message for " + topic + ": " + reasonOf(rc));
        return std::nullopt;
    }
}

bool MqttClient::subscribe(const std::string& topic, int qos) {
    if (m_state != State::Connected)
        return false;
    int mid = 0;
    if (mosquitto_subscribe(m_mosq, &mid, topic.c_str(), qos) != MOSQ_ERR_SUCCESS)
        return false;
    m_subscribing[mid] = topic;
    return true;
}

void MqttClient::disconnect() {
    const bool wasConnected = m_state == State::Connected;
    m_state = State::Closed;
    if (wasConnected) {
        mosquitto_disconnect(m_mosq);
        // The DISCONNECT packet is written by the loop; one pass with a short wait sends it.
        mosquitto_loop(m_mosq, 100, 1);
    }
}

void MqttClient::connectCallback(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        client->m_refusal = refusalText(rc, client->m_options.settings.user);
        return;
    }
    client->m_state = State::Connected;
    client->m_backoffUs = 0;
    ++client->m_connections;
    if (client->m_outageReported) {
        client->m_log("broker " + brokerAddressText(client->m_options.settings.broker) +
                      ": connected again");
        client->m_outageReported = false;
    }
    if (client->onConnected)
        client->onConnected();
}

void MqttClient::disconnectCallback(mosquitto*, void* self, int rc) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->m_state == State::Closed)
        return;
    if (rc != 0 || client->m_state == State::Connected)
        client->lost(client->m_refusal.empty() ? "the connection was lost" : client->m_refusal);
}

void MqttClient::messageCallback(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->onMessage && message && message->topic)
        client->onMessage(
            message->topic,
            std::string_view(static_cast<const char*>(message->payload),
                             message->payload ? static_cast<size_t>(message->payloadlen) : 0));
}

void MqttClient::publishCallback(mosquitto*, void* self, int mid) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->onPublished)
        client->onPublished(mid);
}

void MqttClient::subscribeCallback(mosquitto*, void* self, int mid, int count, const int* granted) {
    auto* client = static_cast<MqttClient*>(self);
    const auto it = client->m_subscribing.find(mid);
    if (it == client->m_subscribing.end())
        return;
    const std::string topic = it->second;
    client->m_subscribing.erase(it);
    // A broker's access list may let the account publish and still refuse what it reads: the
    // line then never hears a command, so that is said, not discovered by a send that hangs.
    constexpr int Refused = 0x80;
    for (int i = 0; i < count; ++i)
        if (granted && granted[i] >= Refused && client->onSubscriptionRefused)
            client->onSubscriptionRefused(topic);
        else if (granted && granted[i] >= Refused)
            client->m_log("broker " + brokerAddressText(client->m_options.settings.broker) +
                          " refused the subscription to " + topic +
                          " (see the account's access list): nothing on it will be heard");
}

void MqttClient::logCallback(mosquitto*, void* self, int level, const char* text) {
    if ((level & MOSQ_LOG_ERR) && text)
        static_cast<MqttClient*>(self)->m_libraryError = text;
}

} // namespace corvane::shop
