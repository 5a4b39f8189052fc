// The broker's name is looked up without holding the line's loop, and the client connects to
// the address found; over TLS the certificate must still be the name's.

#include <gtest/gtest.h>

#include <netdb.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "shop/MqttClient.h"
#include "support/BrokerProcess.h"
#include "support/ChildProcess.h"
#include "support/NameLookup.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

// A name server that answers every name with 127.0.0.1, or (`never`) does not answer at all.
class LoopbackLookup : public NameLookup {
public:
    LoopbackLookup(int port, bool never, bool* gone) : m_never(never), m_gone(gone) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        getaddrinfo("127.0.0.1", std::to_string(port).c_str(), &hints, &m_found);
    }
    ~LoopbackLookup() override {
        freeaddrinfo(m_found);
        if (m_gone)
            *m_gone = true;
    }
    int status() override { return m_never ? EAI_INPROGRESS : 0; }
    const addrinfo* addresses() const override { return m_never ? nullptr : m_found; }

private:
    addrinfo* m_found = nullptr;
    bool m_never;
    bool* m_gone;
};

class MqttLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvane-lookup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::unique_ptr<shop::MqttClient> client(const std::string& url, const std::string& ca = {},
                                             bool never = false) {
        shop::ShopSettingsText text;
        text.broker = url;
        text.caFile = ca;
        shop::MqttClient::Options options;
        options.settings = shop::readShopSettings(text).settings;
        options.lookup = [this, never](const std::string& host, int port) {
            names.push_back(host);
            return std::make_unique<LoopbackLookup>(port, never, &lookupGone);
        };
        return std::make_unique<shop::MqttClient>(
            options, [this] { return nowUs; },
            [this](const std::string& line) { log.push_back(line); });
    }

    // Real time here: the broker answers when it answers.
    static bool connects(shop::MqttClient& client) {
        for (int i = 0; i < 100 && !client.connected(); ++i)
            client.wait(50);
        return client.connected();
    }

    // A CA, and a certificate for the name broker.test only, signed by it.
    void makeNamedCertificate() {
        const std::string openssl = findProgram("OPENSSL", {"/usr/bin/openssl"});
        const std::string f = folder + "/";
        auto run = [](const std::string& program, const std::vector<std::string>& args) {
            ChildProcess child;
            return child.start(program, args) && child.wait(30000) == 0;
        };
        ASSERT_TRUE(
            run(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                          "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", f + "ca.key", "-out",
                          f + "ca.crt", "-days", "2", "-subj", "/CN=Lookup test CA"}));
        ASSERT_TRUE(
            run(openssl, {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                          "-nodes", "-keyout", f + "server.key", "-out", f + "server.csr", "-subj",
                          "/CN=broker.test"}));
        std::ofstream(f + "san.ext") << "subjectAltName=DNS:broker.test\n";
        ASSERT_TRUE(run(openssl, {"x509", "-req", "-in", f + "server.csr", "-CA", f + "ca.crt",
                                  "-CAkey", f + "ca.key", "-CAcreateserial", "-out",
                                  f + "server.crt", "-days", "2", "-extfile", f + "san.ext"}));
    }

    std::string folder;
    uint64_t nowUs = 1'000'000;
    std::vector<std::string> names;
    std::vector<std::string> log;
    bool lookupGone = false;
};

TEST_F(MqttLookupTest, aNameServerThatNeverAnswersHoldsNothingUpAndIsGivenUp) {
    auto stuck = client("mqtt://broker.invalid:1883", {}, true);
    stuck->service();
    stuck->service();
    EXPECT_FALSE(stuck->connected());
    EXPECT_TRUE(log.empty());
    nowUs += 11'000'000;
    stuck->service();
    EXPECT_TRUE(lookupGone);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("cannot look up the broker's name: no answer"), std::string::npos)
        << log[0];
    // The resolver's own lookup, given up while it may still run, does not wait for it.
    for (int i = 0; i < 20; ++i)
        startNameLookup("localhost", 1883);
}

TEST_F(MqttLookupTest, connectsToTheAddressFoundAndChecksTlsAgainstTheName) {
    BrokerProcess plain(folder, BrokerOptions{});
    ASSERT_TRUE(plain.start()) << plain.log();
    // The library is not asked for broker.invalid: it would not find it.
    auto byName = client("mqtt://broker.invalid:" + std::to_string(plain.port()));
    EXPECT_TRUE(connects(*byName)) << (log.empty() ? "" : log.back());
    EXPECT_EQ(names, std::vector<std::string>{"broker.invalid"});
    byName.reset();
    plain.kill();

    makeNamedCertificate();
    BrokerProcess tls(folder, BrokerOptions{.passwordFile = {},
                                            .certFile = folder + "/server.crt",
                                            .keyFile = folder + "/server.key",
                                            .persistence = false});
    ASSERT_TRUE(tls.start()) << tls.log();
    const std::string port = std::to_string(tls.port());
    auto named = client("mqtts://broker.test:" + port, folder + "/ca.crt");
    EXPECT_TRUE(connects(*named)) << (log.empty() ? "" : log.back());
    // The same broker at the same address under a name its certificate does not carry, or
    // by its address, is not trusted.
    auto otherName = client("mqtts://other.test:" + port, folder + "/ca.crt");
    EXPECT_FALSE(connects(*otherName));
    auto byAddress = client("mqtts://127.0.0.1:" + port, folder + "/ca.crt");
    EXPECT_FALSE(connects(*byAddress));
}

} // namespace
} // namespace corvane::testing
