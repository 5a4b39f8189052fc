// Every port text the program accepts, read in one place: what each means, and the malformed
// ones that must be refused before anything is tried.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "settings/MachineDef.h"
#include "transfer/LineSettings.h"
#include "transfer/PortAddress.h"

namespace corvane {
namespace {

struct AddressCase {
    const char* text;
    bool ok;
    PortKind kind;
    const char* where; // device path, or HOST:PORT for a network port
    const char* canonical;
};

void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class PortTexts : public ::testing::TestWithParam<AddressCase> {};

TEST_P(PortTexts, areReadOrRefused) {
    const AddressCase& c = GetParam();
    PortAddress address;
    address.comNumber = -7; // untouched on refusal
    ASSERT_EQ(ParsePortAddress(c.text, address), c.ok);
    if (!c.ok) {
        EXPECT_EQ(address.comNumber, -7);
        return;
    }
    EXPECT_EQ(address.kind, c.kind);
    if (address.isNetwork()) {
        EXPECT_EQ(address.hostPort(), c.where);
    } else if (address.kind == PortKind::Device) {
        EXPECT_EQ(address.device, c.where);
    }
    EXPECT_EQ(address.text(), c.canonical);
}

constexpr PortKind Com = PortKind::ComNumber;
constexpr PortKind Dev = PortKind::Device;
constexpr PortKind Tcp = PortKind::RawTcp;
constexpr PortKind Rfc = PortKind::Rfc2217;

INSTANTIATE_TEST_SUITE_P(
    Table, PortTexts,
    ::testing::Values(
        AddressCase{"COM3", true, Com, "", "3"}, AddressCase{" 12 ", true, Com, "", "12"},
        AddressCase{"com 256", true, Com, "", "256"},
        AddressCase{"/dev/ttyUSB0", true, Dev, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        AddressCase{"ttyACM1", true, Dev, "/dev/ttyACM1", "/dev/ttyACM1"},
        AddressCase{"tcp://127.0.0.1:4001", true, Tcp, "127.0.0.1:4001", "tcp://127.0.0.1:4001"},
        AddressCase{"TCP://mill-3.shop.example:23", true, Tcp, "mill-3.shop.example:23",
                    "tcp://mill-3.shop.example:23"},
        AddressCase{"rfc2217://[::1]:65535", true, Rfc, "[::1]:65535", "rfc2217://[::1]:65535"},
        AddressCase{" Rfc2217://lathe_2:1 ", true, Rfc, "lathe_2:1", "rfc2217://lathe_2:1"},
        AddressCase{"rfc2217://[fe80::1:2]:3001", true, Rfc, "[fe80::1:2]:3001",
                    "rfc2217://[fe80::1:2]:3001"},
        // Malformed: never tried.
        AddressCase{"tcp://", false, Tcp, "", ""}, AddressCase{"tcp://host", false, Tcp, "", ""},
        AddressCase{"tcp://host:", false, Tcp, "", ""},
        AddressCase{"tcp://:4001", false, Tcp, "", ""},
        AddressCase{"tcp://host:0", false, Tcp, "", ""},
        AddressCase{"tcp://host:65536", false, Tcp, "", ""},
        AddressCase{"tcp://host:123456", false, Tcp, "", ""},
        AddressCase{"tcp://host:-1", false, Tcp, "", ""},
        AddressCase{"tcp://host:+80", false, Tcp, "", ""},
        AddressCase{"tcp://ho st:4001", false, Tcp, "", ""},
        AddressCase{"tcp:// host:4001", false, Tcp, "", ""},
        AddressCase{"tcp://host :4001", false, Tcp, "", ""},
        AddressCase{"tcp://host: 4001", false, Tcp, "", ""},
        AddressCase{"tcp://host:4001/", false, Tcp, "", ""},
        AddressCase{"tcp://user@host:4001", false, Tcp, "", ""},
        AddressCase{"tcp://-host:4001", false, Tcp, "", ""},
        AddressCase{"tcp://::1:4001", false, Tcp, "", ""},
        AddressCase{"tcp://[::1]4001", false, Tcp, "", ""},
        AddressCase{"tcp://[::1:4001", false, Tcp, "", ""},
        AddressCase{"tcp://[host]:4001", false, Tcp, "", ""},
        AddressCase{"rfc2217:/host:4001", false, Rfc, "", ""},
        AddressCase{"telnet://host:23", false, Rfc, "", ""},
        AddressCase{"udp://host:4001", false, Tcp, "", ""}, AddressCase{"COM0", false, Com, "", ""},
        AddressCase{"257", false, Com, "", ""}, AddressCase{"dev/ttyUSB0", false, Dev, "", ""},
        AddressCase{"/dev/tty S0", false, Dev, "", ""},
        AddressCase{"/dev/ttyS0\x1b[2J", false, Dev, "", ""},
        AddressCase{"ttyUSB\t0", false, Dev, "", ""}, AddressCase{"/", false, Dev, "", ""},
        AddressCase{"/dev/", false, Dev, "", ""}, AddressCase{"", false, Com, "", ""},
        AddressCase{"  ", false, Com, "", ""}));

TEST(PortTexts, aTextTooLongForPortNameIsRefused) {
    PortAddress address;
    const std::string host(247, 'h');
    EXPECT_TRUE(ParsePortAddress("tcp://" + host + ":1", address)); // 255 characters
    EXPECT_FALSE(ParsePortAddress("rfc2217://" + host + ":65535", address));
}

TEST(MachinePort, isPortNameWhenSetElseTheComNumber) {
    MachineLine line;
    line.PortNo = 4;
    PortAddress address;
    ASSERT_TRUE(MachinePortAddress(line, address));
    EXPECT_EQ(address.kind, PortKind::ComNumber);
    EXPECT_EQ(address.comNumber, 5);

    std::snprintf(line.PortName, sizeof line.PortName, "%s", "rfc2217://127.0.0.1:3001");
    ASSERT_TRUE(MachinePortAddress(line, address));
    EXPECT_EQ(address.kind, PortKind::Rfc2217);
    EXPECT_EQ(address.host, "127.0.0.1");
    EXPECT_EQ(address.port, 3001);

    // A hand-edited file with a broken network port must not be opened as a relative path.
    std::snprintf(line.PortName, sizeof line.PortName, "%s", "tcp://127.0.0.1");
    EXPECT_FALSE(MachinePortAddress(line, address));
}

// The device a machine file's PortName opens: every form the port reader takes, never the text
// as a path relative to wherever the program was started.
TEST(MachinePort, opensTheDeviceThePortNameMeans) {
    const struct {
        const char* portName;
        const char* device;
    } cases[] = {
        {"COM3", "/dev/ttyS2"},
        {"3", "/dev/ttyS2"},
        {"com1", "/dev/ttyS0"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {" /dev/ttyS0", "/dev/ttyS0"},
        {"/dev/ttyACM1 ", "/dev/ttyACM1"},
        {"tcp://127.0.0.1:4001", "tcp://127.0.0.1:4001"},
    };
    for (const auto& c : cases) {
        MachineLine line;
        line.PortNo = 7;
        std::snprintf(line.PortName, sizeof line.PortName, "%s", c.portName);
        EXPECT_EQ(SerialDeviceName(line), c.device) << c.portName;
    }
    MachineLine none;
    none.PortNo = 1;
    EXPECT_EQ(SerialDeviceName(none), "/dev/ttyS1");
}

} // namespace
} // namespace corvane
