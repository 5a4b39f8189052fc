// The texts the shop reads from users and from the broker: broker addresses, settings, topic
// names and commands. Each is untrusted, so the refusals matter as much as the readings.

#include <gtest/gtest.h>

#include <string>

#include "shop/BrokerAddress.h"
#include "shop/ShopCommand.h"
#include "shop/ShopSettings.h"
#include "shop/ShopView.h"

namespace corvane::shop {
namespace {

TEST(BrokerAddressTest, readsBothSchemesWithTheirDefaultPortsAndIpv6InBrackets) {
    struct Case {
        const char* text;
        bool tls;
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"mqtt://broker.shop", false, "broker.shop", 1883},
                          Case{"mqtts://broker.shop", true, "broker.shop", 8883},
                          Case{"mqtt://127.0.0.1:1884/", false, "127.0.0.1", 1884},
                          Case{"mqtts://[::1]:9883", true, "::1", 9883},
                          Case{"mqtt://[fe80::2]", false, "fe80::2", 1883}}) {
        const BrokerAddressParse parsed = parseBrokerAddress(c.text);
        ASSERT_EQ(parsed.error, "") << c.text;
        EXPECT_EQ(parsed.address.tls, c.tls) << c.text;
        EXPECT_EQ(parsed.address.host, c.host) << c.text;
        EXPECT_EQ(parsed.address.port, c.port) << c.text;
    }
    EXPECT_EQ(brokerAddressText(parseBrokerAddress("mqtts://[::1]").address), "mqtts://[::1]:8883");
}

TEST(BrokerAddressTest, refusesWhatIsNotABrokerAddress) {
    for (const char* text :
         {"", "broker:1883", "tcp://broker:1883", "mqtt://", "mqtt://:1883",
          "mqtt://host:", "mqtt://host:0", "mqtt://host:65536", "mqtt://host:18x3",
          "mqtt://user:pw@host", "mqtt://[::1", "mqtt://[::1]x", "mqtt://a:b:c", "mqtt://host/path",
          "mqtt://[6:1]", "mqtt://[broker]:1883", "mqtt://[fe80::1%eth0]"})
        EXPECT_NE(parseBrokerAddress(text).error, "") << text;
}

TEST(ShopSettingsTest, anAccountOverPlainMqttToAnotherHostIsWarnedOf) {
    ShopSettingsText text;
    text.user = "mill1";
    for (const char* loopback : {"mqtt://127.0.0.1:1883", "mqtt://localhost", "mqtt://[::1]:1883",
                                 "mqtts://broker.shop.lan"}) {
        text.broker = loopback;
        EXPECT_TRUE(readShopSettings(text).warnings.empty()) << loopback;
    }
    text.broker = "mqtt://broker.shop.lan";
    const ShopSettingsRead read = readShopSettings(text);
    EXPECT_EQ(read.error, "");
    ASSERT_EQ(read.warnings.size(), 1u);
    EXPECT_EQ(read.warnings[0],
              "the account 'mill1' and its password go to mqtt://broker.shop.lan:1883 "
              "unencrypted: anyone on the network can read them (use mqtts://)");
    text.user.clear();
    EXPECT_TRUE(readShopSettings(text).warnings.empty()) << "no account, nothing to give away";
}

TEST(ShopSettingsTest, topicsStandUnderThePrefixAndLineNamesCannotReachOtherTopics) {
    ShopSettingsText text;
    text.broker = "mqtt://127.0.0.1";
    text.topicPrefix = "plant2/dnc";
    const ShopSettingsRead read = readShopSettings(text);
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(stateTopic(read.settings, "mill1"), "plant2/dnc/mill1/state");
    EXPECT_EQ(commandTopic(read.settings, "mill1"), "plant2/dnc/mill1/command");
    EXPECT_EQ(lineOfTopic(read.settings, "plant2/dnc/mill1/state", "state"), "mill1");
    EXPECT_EQ(lineOfTopic(read.settings, "plant2/dnc/a/b/state", "state"), "");
    EXPECT_EQ(lineOfTopic(read.settings, "other/mill1/state", "state"), "");
    for (const char* bad : {"", "a/b", "+", "mill#", "tab\there"})
        EXPECT_FALSE(isTopicName(bad)) << bad;

    text.topicPrefix = "corvane/#";
    EXPECT_NE(readShopSettings(text).error, "");
    text.topicPrefix = "";
    text.passwordFile = "/nonexistent/password";
    EXPECT_NE(readShopSettings(text).error, "") << "a password file without a user";
    text.user = "u";
    EXPECT_NE(readShopSettings(text).error.find("password file"), std::string::npos);
    text.passwordFile = "";
    text.caFile = "/etc/hostname";
    EXPECT_NE(readShopSettings(text).error.find("not mqtts"), std::string::npos);
}

TEST(ShopCommandTest, sendAndCancelAreReadWithTheirIdsAndTheirOwnJsonReadsBack) {
    ShopCommandParse send = parseShopCommand(R"({"send":"O0012","id":"x-1"})");
    ASSERT_TRUE(send.command) << send.refusal;
    EXPECT_EQ(send.command->kind, serve::ServeCommand::Kind::Send);
    EXPECT_EQ(send.command->name, "O0012");
    EXPECT_EQ(send.command->id, "x-1");
    // The name is passed on as given: the service decides what a library name is.
    EXPECT_EQ(parseShopCommand(R"({"send":"../../etc/passwd"})").command->name, "../../etc/passwd");
    const ShopCommandParse cancel = parseShopCommand(R"( {"cancel" : true} )");
    ASSERT_TRUE(cancel.command);
    EXPECT_EQ(cancel.command->kind, serve::ServeCommand::Kind::Cancel);
    EXPECT_EQ(cancel.command->id, "");
    const ShopCommandParse again = parseShopCommand(shopCommandJson(*send.command));
    ASSERT_TRUE(again.command);
    EXPECT_EQ(again.command->name, "O0012");
    EXPECT_EQ(again.command->id, "x-1");
}

TEST(ShopCommandTest, everythingElseIsRefusedWithAReason) {
    for (const char* payload :
         {"", "null", "[]", "\"send\"", R"({"send":"O1")", R"({"send":5})", R"({"send":""})",
          R"({"send":null})", R"({"cancel":false})", R"({"cancel":"yes"})",
          R"({"send":"O1","cancel":true})", R"({"id":"7"})", R"({"send":"O1","id":7})",
          R"({"send":{"a":1}})", "{\"send\":\"O1\"}\x01garbage"}) {
        const ShopCommandParse parsed = parseShopCommand(payload);
        EXPECT_FALSE(parsed.command) << payload;
        EXPECT_EQ(parsed.refusal.rfind("command refused: ", 0), 0u) << payload;
    }
    // A refused command that carried a readable id gives it back, so its sender hears of it.
    EXPECT_EQ(parseShopCommand(R"({"send":"","id":"r7"})").id, "r7");
    EXPECT_EQ(parseShopCommand(R"({"send":"O1","cancel":true,"id":"r8"})").id, "r8");
    EXPECT_EQ(parseShopCommand(R"({"send":"O1","id":"ok"})").id, "");
    // An id longer than 128 bytes is refused, named by its first 128 (whole UTF-8 characters).
    const ShopCommandParse longId =
        parseShopCommand(R"({"send":"O1","id":")" + std::string(127, 'i') + "\xc3\xa9" + R"("})");
    EXPECT_FALSE(longId.command);
    EXPECT_EQ(longId.id, std::string(127, 'i'));
    EXPECT_NE(longId.refusal.find("longer than 128"), std::string::npos);
    EXPECT_TRUE(
        parseShopCommand(R"({"send":"O1","id":")" + std::string(128, 'i') + R"("})").command);
    const std::string big = R"({"send":")" + std::string(MaxCommandBytes, 'A') + R"("})";
    EXPECT_NE(parseShopCommand(big).refusal.find("more than 65536"), std::string::npos);
}

TEST(ShopViewTest, statusLinesShowProgressAndTheLastTransfer) {
    LineState state;
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"O1.NC","position":512,"total":2048,)"
        R"("time":"t","last_result":"completed","last_file":"O0.NC","last_time":"T"})",
        state));
    EXPECT_EQ(formatLineState(state, 5),
              "m1     sending  O1.NC  512/2048 (25%)  last: completed O0.NC T");
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"receiving","file":"in.tmp","position":70,"total":0})", state));
    EXPECT_EQ(formatLineState(state, 0), "m1  receiving  in.tmp  70");
    // Any publisher may retain a state: escape sequences and C1 controls never reach the terminal.
    state = LineState{};
    state.line = "m1";
    state.state = "idle\x1b]0;owned\x07";
    state.lastResult = "completed";
    state.lastFile = "O1\xc2\x9b"
                     "2J.NC";
    state.lastTime = "\x7f";
    EXPECT_EQ(formatLineState(state, 0), "m1  idle?]0;owned?  last: completed O1?2J.NC ?");
    EXPECT_FALSE(parseLineState(R"({"state":"idle"})", state));
    EXPECT_FALSE(parseLineState("offline", state));
}

TEST(ShopViewTest, anOfflineLineSaysWhyBoundedAndPrintable) {
    LineState state;
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"offline","served":true,"reason":"no \u001b[2Jdevice"})", state));
    EXPECT_EQ(formatLineState(state, 0), "m1  offline (port not available: no ?[2Jdevice)");
    // A reason of any length from any publisher is cut, never inside a character.
    std::string many = "a";
    while (many.size() < 300)
        many += "\xc3\xa9";
    ASSERT_TRUE(
        parseLineState(R"({"line":"m1","state":"offline","reason":")" + many + "\"}", state));
    EXPECT_EQ(state.reason, many.substr(0, 255) + "...");
}

TEST(ShopViewTest, numbersOutOfRangeAreClampedNotConverted) {
    // Built with the sanitizers, a conversion of any of these to an unsigned 64-bit number
    // would be reported; here they must come out as 0 (unknown) or the count itself.
    LineState state;
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"F","position":1e300,"total":-5})", state));
    EXPECT_EQ(state.position, 0u);
    EXPECT_EQ(state.total, 0u);
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"F","position":-1e300,"total":1e19})", state));
    EXPECT_EQ(state.position, 0u);
    EXPECT_EQ(state.total, 10000000000000000000u);
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"F","position":1.8e19,"total":1e19})", state));
    // A position beyond the total (a file that grew) shows as done, not as an overflowed percent.
    EXPECT_EQ(formatLineState(state, 0),
              "m1  sending  F  18000000000000000000/10000000000000000000 (100%)");
}

TEST(ShopViewTest, countsNoByteCountCanHoldReadAsUnknown) {
    // Any publisher may retain a state: counts past 64 bits, negative or fractional ones are
    // read without undefined conversions, and the percentage never wraps.
    LineState state;
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"O1.NC","position":1e30,"total":-5})", state));
    EXPECT_EQ(state.position, 0u);
    EXPECT_EQ(state.total, 0u);
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"O1.NC","position":18446744073709551616,"total":1.8446744073709552e19})",
        state));
    EXPECT_EQ(state.position, 0u) << "2^64 itself does not fit";
    ASSERT_TRUE(parseLineState(
        R"({"line":"m1","state":"sending","file":"O1.NC","position":10.7,"total":20})", state));
    EXPECT_EQ(state.position, 10u);
    EXPECT_EQ(formatLineState(state, 0), "m1  sending  O1.NC  10/20 (50%)");

    state.position = UINT64_MAX - 1;
    state.total = UINT64_MAX;
    EXPECT_EQ(formatLineState(state, 0),
              "m1  sending  O1.NC  18446744073709551614/18446744073709551615 (99%)");
    state.position = UINT64_MAX / 2;
    EXPECT_EQ(formatLineState(state, 0),
              "m1  sending  O1.NC  9223372036854775807/18446744073709551615 (49%)")
        << "rounded down";
    state.position = 300;
    state.total = 200;
    EXPECT_EQ(formatLineState(state, 0), "m1  sending  O1.NC  300/200 (100%)");
}

} // namespace
} // namespace corvane::shop
