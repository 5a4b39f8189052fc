// corvane-cli shop status and shop send against a private mosquitto: plain, over TLS with a
// CA the test makes, and with an account from a password file. The line is a sink the test
// drives, answering commands as the service would.

#include <gtest/gtest.h>

#include <poll.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shop/MqttSink.h"
#include "support/BrokerProcess.h"
#include "support/ChildProcess.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::string openSslPath() {
    return findProgram("OPENSSL", {"/usr/bin/openssl", "/usr/local/bin/openssl"});
}
std::string mosquittoPasswdPath() {
    return findProgram("MOSQUITTO_PASSWD",
                       {"/usr/bin/mosquitto_passwd", "/usr/local/bin/mosquitto_passwd"});
}

bool run(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child;
    return child.start(program, args) && child.wait(30000) == 0;
}

class ShopCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "corvane-shop-cli-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    // A CA and a server certificate for 127.0.0.1 signed by it, made with openssl.
    void makeCertificates(const std::string& name) {
        const std::string ca = folder + "/" + name;
        ASSERT_TRUE(run(openSslPath(), {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                                        ca + "-ca.key", "-out", ca + "-ca.crt", "-days", "2",
                                        "-subj", "/CN=Corvane test CA " + name}));
        ASSERT_TRUE(
            run(openSslPath(), {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                "-nodes", "-keyout", ca + "-server.key", "-out", ca + "-server.csr",
                                "-subj", "/CN=127.0.0.1"}));
        std::ofstream(folder + "/san.ext") << "subjectAltName=IP:127.0.0.1\n";
        ASSERT_TRUE(run(openSslPath(),
                        {"x509", "-req", "-in", ca + "-server.csr", "-CA", ca + "-ca.crt", "-CAkey",
                         ca + "-ca.key", "-CAcreateserial", "-out", ca + "-server.crt", "-days",
                         "2", "-extfile", folder + "/san.ext"}));
    }

    // corvane-cli with `args`; its exit status, output in `out`/`err`.
    int cli(const std::vector<std::string>& args) {
        ChildProcess child;
        if (!child.start(CORVANE_CLI_PATH, args))
            return -1;
        const auto status = child.wait(20000);
        out = child.out();
        err = child.err();
        return status.value_or(-2);
    }

    // A line named mill1 on the broker, driven by the test.
    std::unique_ptr<shop::MqttSink> servedLine(const BrokerProcess& broker,
                                               const std::string& ca = {},
                                               const std::string& user = {},
                                               const std::string& password = {}) {
        shop::ShopSettingsText text;
        text.broker = broker.url();
        text.caFile = ca;
        const shop::ShopSettingsRead read = shop::readShopSettings(text);
        shop::ShopSettings settings = read.settings;
        settings.user = user;
        auto sink = std::make_unique<shop::MqttSink>(
            settings, password, "mill1", shop::systemSinkClock(), [](const std::string&) {});
        const long long deadline = steadyNowMs() + 10000;
        while (!sink->client().connected() && steadyNowMs() < deadline) {
            sink->service();
            ::poll(nullptr, 0, 10);
        }
        sink->statusChanged({"mill1", serve::LineActivity::Idle, "", 0, 0});
        while (sink->undelivered() > 0 && steadyNowMs() < deadline) {
            sink->service();
            ::poll(nullptr, 0, 10);
        }
        return sink;
    }

    int exitStatus = -1;
    std::string folder;
    std::string out;
    std::string err;
};

TEST_F(ShopCliTest, shopSendWaitsForItsOwnAnswerAndExitsByTheResult) {
    BrokerProcess broker(folder, BrokerOptions{});
    ASSERT_TRUE(broker.start()) << broker.log();
    auto line = servedLine(broker);
    ASSERT_TRUE(line->client().connected());

    // The line answers each send: first someone else's record, then its own answer.
    auto answerNext = [&](serve::TransferResult result, const std::string& message) {
        ChildProcess send;
        ASSERT_TRUE(send.start(CORVANE_CLI_PATH,
                               {"shop", "send", "--broker", broker.url(), "mill1", "O0012"}));
        std::optional<serve::ServeCommand> command;
        const long long deadline = steadyNowMs() + 10000;
        while (!command && steadyNowMs() < deadline) {
            line->service();
            command = line->takeCommand();
            send.pump(10);
        }
        ASSERT_TRUE(command) << send.err();
        EXPECT_EQ(command->name, "O0012");
        ASSERT_FALSE(command->id.empty());
        serve::JournalRecord other;
        other.line = "mill1";
        other.direction = "send";
        other.result = serve::TransferResult::Failed;
        other.commandId = "someone-else";
        line->transferRecorded(other);
        serve::JournalRecord answer = other;
        answer.file = "/lib/O0012.NC";
        answer.result = result;
        answer.message = message;
        answer.commandId = command->id;
        line->transferRecorded(answer);
        while (!send.exited() && steadyNowMs() < deadline) {
            line->service();
            send.pump(10);
        }
        ASSERT_TRUE(send.wait(5000).has_value());
        out = send.out();
        err = send.err();
        exitStatus = send.wait(0).value_or(-1);
    };
    answerNext(serve::TransferResult::Completed, "");
    EXPECT_EQ(exitStatus, 0) << err;
    EXPECT_EQ(out, "mill1: completed /lib/O0012.NC\n");
    answerNext(serve::TransferResult::Refused, "busy");
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(err, "corvane-cli: mill1: refused /lib/O0012.NC (busy)\n");

    // A line that is not served, and one that has gone away, are refused without waiting.
    EXPECT_EQ(cli({"shop", "send", "--broker", broker.url(), "--wait-ms", "300", "lathe", "O1"}),
              1);
    EXPECT_NE(err.find("lathe has no state"), std::string::npos) << err;
    line->finish(2000);
    EXPECT_EQ(cli({"shop", "send", "--broker", broker.url(), "mill1", "O1"}), 1);
    EXPECT_NE(err.find("mill1 is not served"), std::string::npos) << err;

    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--wait-ms", "300"}), 0) << err;
    EXPECT_EQ(out.rfind("mill1  offline (not served)", 0), 0u) << out;
    // A host name is looked up before the connection is made (here: localhost).
    EXPECT_EQ(cli({"shop", "status", "--broker",
                   "mqtt://localhost:" + std::to_string(broker.port()), "--wait-ms", "300"}),
              0)
        << err;
    EXPECT_EQ(out.rfind("mill1  offline (not served)", 0), 0u) << out;
}

TEST_F(ShopCliTest, tlsWithTheTestCaAndRefusedWithAnother) {
    makeCertificates("right");
    makeCertificates("wrong");
    BrokerProcess broker(folder, BrokerOptions{.passwordFile = {},
                                               .certFile = folder + "/right-server.crt",
                                               .keyFile = folder + "/right-server.key",
                                               .persistence = false});
    ASSERT_TRUE(broker.start()) << broker.log();
    EXPECT_EQ(broker.url().rfind("mqtts://", 0), 0u);
    auto line = servedLine(broker, folder + "/right-ca.crt");
    ASSERT_TRUE(line->client().connected()) << broker.log();

    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--ca", folder + "/right-ca.crt",
                   "--wait-ms", "300"}),
              0)
        << err;
    EXPECT_EQ(out.rfind("mill1  idle", 0), 0u) << out;
    // A broker whose certificate the given CA did not sign is not talked to.
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--ca", folder + "/wrong-ca.crt",
                   "--wait-ms", "1500"}),
              1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("certificate is not signed by the CA in " + folder + "/wrong-ca.crt"),
              std::string::npos)
        << err;
    // Without a CA named, the system's own are not the shop's; and the right CA does not make
    // a certificate for 127.0.0.1 good for another name of the same broker.
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--wait-ms", "1500"}), 1);
    EXPECT_NE(err.find("not signed by a CA this system trusts (name the shop's CA"),
              std::string::npos)
        << err;
    EXPECT_EQ(
        cli({"shop", "status", "--broker", "mqtts://localhost:" + std::to_string(broker.port()),
             "--ca", folder + "/right-ca.crt", "--wait-ms", "1500"}),
        1);
    EXPECT_NE(err.find("certificate is for another host than localhost"), std::string::npos) << err;
    // Plain MQTT to a TLS listener gets nowhere either.
    EXPECT_EQ(cli({"shop", "status", "--broker",
                   "mqtt://127.0.0.1:" + std::to_string(broker.port()), "--wait-ms", "1500"}),
              1);
}

TEST_F(ShopCliTest, accountFromAPasswordFile) {
    const std::string passwords = folder + "/passwords";
    ASSERT_TRUE(run(mosquittoPasswdPath(), {"-c", "-b", passwords, "shopview", "s3cret pass"}));
    BrokerProcess broker(folder, BrokerOptions{.passwordFile = passwords,
                                               .certFile = {},
                                               .keyFile = {},
                                               .persistence = false});
    ASSERT_TRUE(broker.start()) << broker.log();
    auto line = servedLine(broker, {}, "shopview", "s3cret pass");
    ASSERT_TRUE(line->client().connected()) << broker.log();

    std::ofstream(folder + "/right") << "s3cret pass\n";
    std::ofstream(folder + "/wrong") << "guess\n";
    // Owner and group may read a password file; everyone else is refused at start.
    fs::permissions(folder + "/right",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(folder + "/wrong", fs::perms::owner_read | fs::perms::owner_write);
    std::ofstream(folder + "/open") << "s3cret pass\n";
    fs::permissions(folder + "/open",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--user", "shopview",
                   "--password-file", folder + "/open", "--wait-ms", "300"}),
              3);
    EXPECT_NE(err.find("can be read or written by every user (mode 0604)"), std::string::npos)
        << err;
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--user", "shopview",
                   "--password-file", folder + "/right", "--wait-ms", "300"}),
              0)
        << err;
    EXPECT_EQ(out.rfind("mill1  idle", 0), 0u) << out;
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--user", "shopview",
                   "--password-file", folder + "/wrong", "--wait-ms", "1500"}),
              1);
    // mosquitto answers a wrong password and an unknown account alike (CONNACK 5); the text
    // names the account, and tells a client without one that one is needed.
    EXPECT_NE(err.find("not authorised: the account 'shopview' is unknown, its password is wrong"),
              std::string::npos)
        << err;
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--user", "nobody",
                   "--password-file", folder + "/right", "--wait-ms", "1500"}),
              1);
    EXPECT_NE(err.find("the account 'nobody' is unknown"), std::string::npos) << err;
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--wait-ms", "1500"}), 1);
    EXPECT_NE(err.find("not authorised: it takes no client without an account"), std::string::npos)
        << err;
    // A prefix under which nothing reports shows nothing, and says so.
    EXPECT_EQ(
        cli({"shop", "status", "--broker", broker.url(), "--user", "shopview", "--password-file",
             folder + "/right", "--prefix", "elsewhere/", "--wait-ms", "300"}),
        0);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("no lines seen under elsewhere/ within 300 ms"), std::string::npos) << err;
    // The password is never taken from the command line, and a missing file is a file error.
    EXPECT_EQ(cli({"shop", "status", "--broker", broker.url(), "--user", "shopview",
                   "--password-file", folder + "/missing"}),
              3);
    EXPECT_EQ(cli({"shop", "status", "--broker", "http://127.0.0.1:1"}), 2);
}

} // namespace
} // namespace corvane::testing
