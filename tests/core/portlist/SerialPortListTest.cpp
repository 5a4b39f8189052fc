// What a port typed into the machine sheet means, and which devices the port box offers.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "settings/MachineDef.h"
#include "transfer/LineSettings.h"
#include "transfer/SerialPortList.h"

namespace corvane {
namespace {

struct ParseCase {
    const char* text;
    bool ok;
    bool isPath;
    int32_t comNumber;
    const char* path;
};

class ParsePortTextTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsePortTextTest, ReadsNumbersAndPaths) {
    const ParseCase& c = GetParam();
    PortChoice choice;
    choice.comNumber = -7; // must stay untouched on refusal
    ASSERT_EQ(ParsePortText(c.text, choice), c.ok) << c.text;
    if (!c.ok) {
        EXPECT_EQ(choice.comNumber, -7);
        return;
    }
    EXPECT_EQ(choice.isPath, c.isPath);
    if (c.isPath)
        EXPECT_EQ(choice.path, c.path);
    else
        EXPECT_EQ(choice.comNumber, c.comNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParsePortTextTest,
    ::testing::Values(ParseCase{"3", true, false, 3, ""}, ParseCase{" 1 ", true, false, 1, ""},
                      ParseCase{"256", true, false, 256, ""}, ParseCase{"COM3", true, false, 3, ""},
                      ParseCase{"com12", true, false, 12, ""},
                      ParseCase{"COM 7", true, false, 7, ""}, ParseCase{"007", true, false, 7, ""},
                      ParseCase{"/dev/ttyUSB0", true, true, 0, "/dev/ttyUSB0"},
                      ParseCase{"  /dev/serial/by-id/usb-FTDI_A1-if00-port0 ", true, true, 0,
                                "/dev/serial/by-id/usb-FTDI_A1-if00-port0"},
                      ParseCase{"ttyACM1", true, true, 0, "/dev/ttyACM1"},
                      ParseCase{"0", false, false, 0, ""}, ParseCase{"257", false, false, 0, ""},
                      ParseCase{"COM0", false, false, 0, ""}, ParseCase{"-1", false, false, 0, ""},
                      ParseCase{"", false, false, 0, ""}, ParseCase{"   ", false, false, 0, ""},
                      ParseCase{"3a", false, false, 0, ""}, ParseCase{"COM", false, false, 0, ""},
                      ParseCase{"dev/ttyUSB0", false, false, 0, ""},
                      ParseCase{"serial", false, false, 0, ""},
                      ParseCase{"99999999999", false, false, 0, ""}));

TEST(ParsePortText, RefusesAPathTooLongForTheField) {
    PortChoice choice;
    const std::string fits = "/dev/" + std::string(254, 'x'); // 259 bytes + terminator
    EXPECT_TRUE(ParsePortText(fits, choice));
    EXPECT_FALSE(ParsePortText(fits + "y", choice));
}

TEST(ApplyPortChoice, ANumberEmptiesTheNameAndAPathKeepsTheNumber) {
    MachineLine line;
    line.PortNo = 4;
    PortChoice path;
    ASSERT_TRUE(ParsePortText("/dev/ttyUSB1", path));
    ApplyPortChoice(path, line);
    EXPECT_STREQ(line.PortName, "/dev/ttyUSB1");
    EXPECT_EQ(line.PortNo, 4);
    EXPECT_EQ(SerialDeviceName(line), "/dev/ttyUSB1");
    EXPECT_EQ(PortText(line), "/dev/ttyUSB1");

    PortChoice number;
    ASSERT_TRUE(ParsePortText("COM3", number));
    ApplyPortChoice(number, line);
    EXPECT_EQ(line.PortName[0], '\0');
    EXPECT_EQ(line.PortNo, 2);
    EXPECT_EQ(SerialDeviceName(line), "/dev/ttyS2");
    EXPECT_EQ(PortText(line), "3");

    // A shorter path after a longer one leaves nothing of the longer behind.
    ASSERT_TRUE(ParsePortText("/dev/serial/by-id/usb-long-name-port0", path));
    ApplyPortChoice(path, line);
    ASSERT_TRUE(ParsePortText("/dev/ttyS1", path));
    ApplyPortChoice(path, line);
    EXPECT_EQ(std::string(line.PortName, sizeof line.PortName).find_first_not_of('\0', 10),
              std::string::npos);
}

TEST(PortText, ShowsTheComNumberCountedFromOne) {
    MachineLine line;
    EXPECT_EQ(PortText(line), "1");
    line.PortNo = 255;
    EXPECT_EQ(PortText(line), "256");
}

// A stand-in for /dev: empty files with the device names, and a by-id folder.
class FakeDev : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/portlist-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }
    void touch(const std::string& name) {
        std::filesystem::create_directories(
            std::filesystem::path(m_dir + "/" + name).parent_path());
        std::ofstream(m_dir + "/" + name).put('\0');
    }
    std::string m_dir;
};

TEST_F(FakeDev, ListsStableNamesThenAdaptersThenPresentUartsInNaturalOrder) {
    for (const char* name :
         {"ttyS0", "ttyS1", "ttyS10", "ttyS2", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty", "tty5",
          "ttyprintk", "console", "ttyS", "ttyUSB", "serial/by-id/usb-FTDI_FT232R_A9-if00-port0",
          "serial/by-id/usb-Arduino_Uno_75-if00"})
        touch(name);
    std::vector<std::string> probed;
    const std::set<std::string> present = {m_dir + "/ttyS0", m_dir + "/ttyS10"};
    const auto ports = ListSerialPorts(m_dir, [&](const std::string& device) {
        probed.push_back(device);
        return present.count(device) != 0;
    });
    const std::vector<std::string> expected = {
        m_dir + "/serial/by-id/usb-Arduino_Uno_75-if00",
        m_dir + "/serial/by-id/usb-FTDI_FT232R_A9-if00-port0",
        m_dir + "/ttyUSB2",
        m_dir + "/ttyUSB10",
        m_dir + "/ttyACM0",
        m_dir + "/ttyS0",
        m_dir + "/ttyS10",
    };
    EXPECT_EQ(ports, expected);
    // Only the ttyS devices are probed: adapters exist only while plugged in.
    const std::vector<std::string> expectedProbes = {m_dir + "/ttyS0", m_dir + "/ttyS1",
                                                     m_dir + "/ttyS2", m_dir + "/ttyS10"};
    EXPECT_EQ(probed, expectedProbes);
}

TEST_F(FakeDev, AnEmptyOrMissingFolderListsNothing) {
    EXPECT_TRUE(ListSerialPorts(m_dir, [](const std::string&) { return true; }).empty());
    EXPECT_TRUE(
        ListSerialPorts(m_dir + "/missing", [](const std::string&) { return true; }).empty());
}

TEST_F(FakeDev, APlainFileIsNotASerialPort) {
    touch("ttyS0");
    EXPECT_FALSE(SerialPortPresent(m_dir + "/ttyS0"));
    EXPECT_FALSE(SerialPortPresent(m_dir + "/ttyS9"));
}

TEST(OpenFailureTextId, WordsEachKnownFailureWithThePortLayerTexts) {
    EXPECT_EQ(OpenFailureTextId(OpenFailure::PermissionDenied), 8000);
    EXPECT_EQ(OpenFailureTextId(OpenFailure::Busy), 8001);
    EXPECT_EQ(OpenFailureTextId(OpenFailure::NotFound), 8002);
    EXPECT_EQ(OpenFailureTextId(OpenFailure::NotASerialPort), 8003);
    EXPECT_EQ(OpenFailureTextId(OpenFailure::Other), 0);
}

} // namespace
} // namespace corvane
