#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "SettingsFiles.h"
#include "settings/AppConfig.h"

namespace corvane {
namespace {

using test::readFile;
using test::TempFolder;
using test::writeFile;

constexpr Colour SystemWindow = 0xF0F0F0;
constexpr Colour SystemText = 0x101010;

ConfigEnvironment environment(const Rect* workArea = nullptr) {
    ConfigEnvironment env;
    env.colours = {SystemWindow, SystemText};
    env.workArea = workArea;
    return env;
}

bool sameConfig(const AppConfig& a, const AppConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

AppConfig unusualConfig() {
    AppConfig c;
    c.WindowPos = {10, 20, 810, 620};
    c.WindowShow = 3;
    c.Echo = 0;
    c.BkShading = 0;
    c.rgbBKColor = 0x123456;
    c.rgbFGColor = 0xABCDEF;
    c.rgbCtlColor = 0x00FF00;
    c.rgbFlowColor = 0xFF0000;
    for (int i = 0; i < 16; ++i) {
        c.CustomColor[i] = 0x010101u * i;
    }
    c.ToolBar = 1;
    c.StatusBar = 1;
    c.MenuBar = 1;
    c.OneInstance = 0;
    std::strcpy(c.McnFile, "/shop/machines/LATHE.MDF");
    std::strcpy(c.NcFileHistory[0], "/shop/nc/O1000.nc");
    std::strcpy(c.NcFileHistory[1], "/shop/nc/with blanks .nc");
    std::strcpy(c.McnFileHistory[0], "/shop/machines/LATHE.MDF");
    return c;
}

// Loads `path` into a configuration that differs from everything a load sets.
AppConfig load(const std::string& path, MachineDef* machine = nullptr, int withMachine = 0,
               const Rect* workArea = nullptr) {
    AppConfig config;
    MachineDef scratch;
    LoadConfig(path.c_str(), withMachine, config, machine ? *machine : scratch,
               environment(workArea));
    return config;
}

TEST(AppConfig, savedFileReadsBackTheSameConfiguration) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    const AppConfig saved = unusualConfig();
    ASSERT_EQ(SaveConfig(path.c_str(), 0, saved, MachineDef{}), 1);

    AppConfig loaded;
    std::strcpy(loaded.McnFile, "previous");
    MachineDef machine;
    LoadConfig(path.c_str(), 0, loaded, machine, environment());
    EXPECT_TRUE(sameConfig(saved, loaded)) << readFile(path);
    EXPECT_NE(readFile(path).find("[CFG_Info]\nVersion=320\n"), std::string::npos);
}

TEST(AppConfig, fileHoldsSectionsAndKeysInFormatOrder) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    ASSERT_EQ(SaveConfig(path.c_str(), 0, AppConfig{}, MachineDef{}), 1);
    const std::string text = readFile(path);
    const char* inOrder[] = {
        "[CFG_Info]",  "Version=320",   "[CFG_Setting]", "WindowPos=",   "WindowShow=",
        "ToolBar=",    "StatusBar=",    "MenuBar=",      "OneInstance=", "rgbBKColor=",
        "rgbFGColor=", "rgbCtlColor=",  "rgbFlowColor=", "McnFile=",     "Echo=",
        "BkShading=",  "[CFG_History]", "NcFile00=",     "NcFile15=",    "McnFile00=",
        "McnFile15=",  "[CustomColor]", "Item00=",       "Item15="};
    size_t at = 0;
    for (const char* item : inOrder) {
        const size_t found = text.find(item, at);
        ASSERT_NE(found, std::string::npos) << item << " missing or out of order\n" << text;
        at = found;
    }
    EXPECT_NE(text.find("WindowPos=0;0;640;480"), std::string::npos) << text;
}

TEST(AppConfig, machineGoesIntoTheConfigurationWhenItHasNoFileOfItsOwn) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    AppConfig config = unusualConfig();
    config.McnFile[0] = '\0';
    MachineDef machine;
    machine.line.BaudRate = 2;
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    EXPECT_NE(readFile(path).find("[MCN_RS232C]"), std::string::npos);

    MachineDef loaded;
    loaded.line.BaudRate = 6;
    load(path, &loaded, 1);
    EXPECT_EQ(loaded.line.BaudRate, 2);
}

TEST(AppConfig, machineWithAFileOfItsOwnIsWrittenThere) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    const std::string mdf = folder.file("MILL.MDF");
    AppConfig config;
    std::strcpy(config.McnFile, mdf.c_str());
    writeFile(mdf, "[MCN_RS232C]\nBaudRate=5\n"); // the machine file the user saved
    MachineDef machine;
    machine.line.BaudRate = 1;
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    EXPECT_EQ(readFile(path).find("[MCN_"), std::string::npos);
    EXPECT_NE(readFile(mdf).find("BaudRate=1"), std::string::npos);

    // Loading reads the configuration's own sections first, then the named file over them.
    writeFile(path, readFile(path) + "[MCN_RS232C]\nBaudRate=4\nParity=0\n");
    MachineDef loaded;
    const AppConfig back = load(path, &loaded, 1);
    EXPECT_STREQ(back.McnFile, mdf.c_str());
    EXPECT_EQ(loaded.line.BaudRate, 1);
    EXPECT_EQ(loaded.line.Parity, 2); // the file has it too, so its value wins
}

TEST(AppConfig, missingMachineFileIsForgottenAndTheConfigurationsMachineStays) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    writeFile(path, "[CFG_Info]\nVersion=320\n[CFG_Setting]\nMcnFile=" + folder.file("GONE.MDF") +
                        "\n[MCN_RS232C]\nBaudRate=3\n");
    MachineDef machine;
    const AppConfig config = load(path, &machine, 1);
    EXPECT_STREQ(config.McnFile, "");
    EXPECT_EQ(machine.line.BaudRate, 3);
}

// The exit writes the machine back only into a machine file that is still there, and only
// when something changed: a file deleted meanwhile is not recreated, one that holds no
// machine definition any more is not written over, an unchanged one is not touched.
TEST(AppConfig, exitWritesOnlyAChangedMachineIntoItsExistingFile) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    AppConfig config;
    MachineDef machine;
    machine.line.BaudRate = 2;

    const std::string gone = folder.file("GONE.MDF");
    std::strcpy(config.McnFile, gone.c_str());
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    EXPECT_FALSE(std::filesystem::exists(gone));

    const std::string other = folder.file("NOTES.MDF");
    writeFile(other, "just some notes\n");
    std::strcpy(config.McnFile, other.c_str());
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    EXPECT_EQ(readFile(other), "just some notes\n");

    const std::string same = folder.file("SAME.MDF");
    writeFile(same, "[MCN_RS232C]\nBaudRate=2\n");
    std::strcpy(config.McnFile, same.c_str());
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    EXPECT_EQ(readFile(same), "[MCN_RS232C]\nBaudRate=2\n");

    // Nor is a configuration's McnFile kept when it names a file that is no machine file.
    writeFile(path, "[CFG_Info]\nVersion=320\n[CFG_Setting]\nMcnFile=" + other + "\n");
    MachineDef loaded;
    EXPECT_STREQ(load(path, &loaded, 1).McnFile, "");
}

TEST(AppConfig, overlongPathsInTheFileAreNotTaken) {
    TempFolder folder;
    const std::string path = folder.file("corvane.cfg");
    const std::string longPath = "/" + std::string(300, 'p');
    writeFile(path, "[CFG_Info]\nVersion=320\n[CFG_Setting]\nMcnFile=" + longPath +
                        "\n[CFG_History]\nNcFile00=" + longPath + "\nNcFile01=/ok.nc\n");
    const AppConfig config = load(path);
    EXPECT_STREQ(config.McnFile, "");
    EXPECT_STREQ(config.NcFileHistory[0], "");
    EXPECT_STREQ(config.NcFileHistory[1], "/ok.nc");
}

TEST(AppConfig, versionDecidesColoursAndGradient) {
    struct Case {
        const char* name;
        const char* text; // nullptr: no file at all
        Colour background;
        Colour text_;
        int32_t shading;
    };
    const Case cases[] = {
        {"no file", nullptr, 0x800000, 0xC0C0C0, 1},
        {"older format", "[SYS_CONFIG]\nEcho=1\n[CFG_Setting]\nrgbBKColor=5\nBkShading=0\n",
         0x800000, 0xC0C0C0, 1},
        {"version 300", "[CFG_Info]\nVersion=300\n[CFG_Setting]\nBkShading=1\nrgbBKColor=5\n", 5,
         SystemText, 0},
        {"version 1", "[CFG_Info]\nVersion=1\n[CFG_Setting]\nBkShading=1\n", SystemWindow,
         SystemText, 0},
        {"version 320", "[CFG_Info]\nVersion=320\n[CFG_Setting]\nBkShading=0\n", SystemWindow,
         SystemText, 0},
        {"version 320 default", "[CFG_Info]\nVersion=320\n", SystemWindow, SystemText, 1},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder.file("corvane.cfg");
        if (c.text != nullptr) {
            writeFile(path, c.text);
        }
        const AppConfig config = load(path);
        EXPECT_EQ(config.rgbBKColor, c.background) << c.name;
        EXPECT_EQ(config.rgbFGColor, c.text_) << c.name;
        EXPECT_EQ(config.rgbCtlColor, 0x00FFFFu) << c.name;
        EXPECT_EQ(config.rgbFlowColor, 0x0000FFu) << c.name;
        EXPECT_EQ(config.BkShading, c.shading) << c.name;
    }
}

TEST(AppConfig, loadingResetsTheDefaultsButKeepsMachineFileAndCustomColours) {
    TempFolder folder;
    AppConfig config = unusualConfig();
    MachineDef machine;
    LoadConfig(folder.file("none.cfg").c_str(), 0, config, machine, environment());
    EXPECT_EQ(config.WindowShow, 10);
    EXPECT_EQ(config.Echo, 1);
    EXPECT_EQ(config.OneInstance, 1);
    EXPECT_EQ(config.ToolBar, 0);
    EXPECT_EQ(config.WindowPos.right, 640);
    EXPECT_STREQ(config.NcFileHistory[0], "");
    EXPECT_STREQ(config.McnFile, "/shop/machines/LATHE.MDF");
    EXPECT_EQ(config.CustomColor[15], 0x0F0F0Fu);
}

TEST(AppConfig, windowIsFittedToTheWorkArea) {
    struct Case {
        Rect stored;
        Rect fitted;
    };
    const Rect area{0, 0, 1920, 1040};
    const Case cases[] = {
        {{100, 100, 130, 400}, {100, 100, 228, 400}},
        {{100, 100, 400, 150}, {100, 100, 400, 228}},
        {{-50, -20, 2000, 1200}, {0, 0, 1920, 1040}},
        {{1900, 10, 2500, 300}, {1900, 10, 2028, 300}}, // narrowed below 64, then widened
        {{10, 20, 810, 620}, {10, 20, 810, 620}},
        // Edges at the ends of the 32-bit range (a damaged file) are widened without
        // overflowing: the window moves back by the widening instead.
        {{2147483647, 0, -2147483647 - 1, 100}, {2147483519, 0, 2147483647, 100}},
        {{5000, 2147483600, 6000, -2147483647 - 1}, {5000, 2147483519, 5128, 2147483647}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder.file("corvane.cfg");
        AppConfig saved;
        saved.WindowPos = c.stored;
        ASSERT_EQ(SaveConfig(path.c_str(), 0, saved, MachineDef{}), 1);
        const Rect got = load(path, nullptr, 0, &area).WindowPos;
        EXPECT_EQ(got.left, c.fitted.left);
        EXPECT_EQ(got.top, c.fitted.top);
        EXPECT_EQ(got.right, c.fitted.right);
        EXPECT_EQ(got.bottom, c.fitted.bottom);
        // Without a work area (the command-line tool) nothing is moved.
        EXPECT_EQ(load(path).WindowPos.right, c.stored.right);
    }
}

TEST(AppConfig, olderFormatPortNumbersDependOnTheirVersion) {
    struct Case {
        const char* text;
        int32_t portNo;
        int32_t outofFile;
    };
    const Case cases[] = {
        {"[SYS_CONFIG]\nPortNo=5\n", 0, 1},
        {"[SYS_CONFIG]\nPortNo=5\nExVersion=3932161\n", 4, 0}, // 0x3C0001 counted from 1
        {"[SYS_CONFIG]\nPortNo=3\n", 3, 0},
        {"[SYS_CONFIG]\nPortNo=4\nExVersion=3932162\n", 4, 0},
        {"[SYS_CONFIG]\nExVersion=3932161\n", 0, 0}, // no port to renumber
        {"[RS_CONFIG]\nPortNo=2\nFileMode=1\n", 2, 1},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string path = folder.file("old.cfg");
        writeFile(path, c.text);
        MachineDef machine;
        load(path, &machine, 1);
        EXPECT_EQ(machine.line.PortNo, c.portNo) << c.text;
        EXPECT_EQ(machine.config.OutofFile, c.outofFile) << c.text;
    }
}

TEST(AppConfig, olderFormatImportFixesItsValues) {
    TempFolder folder;
    const std::string path = folder.file("old.cfg");
    writeFile(path, "[NC_CONFIG]\nBaudRate=3\nPtrStop=-1\nPtpNull1=-4\nErCode=-1\nDefXoff=-2\n"
                    "UserPtpStart=12,0D\nOutComment=1\nTvCheck=2\nDefExt=*.tap\n"
                    "[RS_CONFIG]\nStopBit=0\nPtrEof=-7\nHandShake=-1\nPtrStart=-1\n"
                    "[SYS_CONFIG]\nBaudRate=4\nWindowPos=500,10,100,300\nEcho=-1\n"
                    "ToolBar=1\nOneInstance=0\n");
    MachineDef machine;
    const AppConfig config = load(path, &machine, 1);
    EXPECT_EQ(machine.line.BaudRate, 4); // the later section wins
    EXPECT_EQ(machine.line.PtrStop, 0x93);
    EXPECT_EQ(machine.line.PtrStart, 0x11);
    EXPECT_EQ(machine.config.PtpNull[1], 0);
    EXPECT_EQ(machine.config.ErCode, 3);
    EXPECT_EQ(machine.config.Xoff, 0);
    EXPECT_EQ(machine.config.PtrEof, 1);
    EXPECT_EQ(machine.line.HandShake, 7);
    EXPECT_EQ(machine.line.Stop, 0);
    EXPECT_STREQ(machine.config.PtpUser0, "12,0D");
    EXPECT_EQ(machine.config.Comment, 1);
    EXPECT_EQ(machine.config.TVCheck, 2);
    EXPECT_STREQ(machine.config.DefExt, "tap"); // the machine read drops the dot
    EXPECT_EQ(config.WindowPos.left, 0);
    EXPECT_EQ(config.WindowPos.right, 640);
    EXPECT_EQ(config.WindowPos.bottom, 480);
    EXPECT_EQ(config.Echo, 1);
    EXPECT_EQ(config.ToolBar, 1);
    EXPECT_EQ(config.OneInstance, 0);
}

TEST(AppConfig, olderFormatColoursComeFromTheirTriples) {
    TempFolder folder;
    const std::string path = folder.file("old.cfg");
    // With CFG_Info present the version rule does not repaint what the import found.
    writeFile(path, "[CFG_Info]\nVersion=320\n"
                    "[SYS_CONFIG]\nTextBKColor=255,128,1\nTextFGColor=0;0;0\n");
    AppConfig config;
    MachineDef machine;
    LegacyColours legacy;
    LoadConfig(path.c_str(), 1, config, machine, environment(), legacy);
    EXPECT_EQ(config.rgbBKColor, 0x0180FFu);
    EXPECT_EQ(config.rgbFGColor, SystemText); // black means "the system's"
    EXPECT_EQ(config.rgbCtlColor, 0x00FFFFu);
    EXPECT_EQ(config.rgbFlowColor, 0x0000FFu);
    EXPECT_EQ(legacy.TextBKColor[1], 128);

    // The triples belong to the caller and outlive the load: a second file without them
    // takes the colours remembered from the first.
    writeFile(path, "[CFG_Info]\nVersion=320\n");
    LoadConfig(path.c_str(), 1, config, machine, environment(), legacy);
    EXPECT_EQ(config.rgbBKColor, 0x0180FFu);
}

TEST(AppConfig, withoutTheMachineFlagTheLiveMachineIsUntouched) {
    TempFolder folder;
    const std::string path = folder.file("old.cfg");
    writeFile(path, "[SYS_CONFIG]\nBaudRate=1\n[MCN_RS232C]\nBaudRate=2\n");
    MachineDef machine;
    machine.line.PortNo = 6;
    load(path, &machine, 0);
    EXPECT_EQ(machine.line.PortNo, 6);
    EXPECT_EQ(machine.config.OutofFile, 0);
    EXPECT_EQ(machine.line.BaudRate, 5);
}

TEST(AppConfig, olderSectionsStayInTheFileAfterSaving) {
    TempFolder folder;
    const std::string path = folder.file("old.cfg");
    writeFile(path, "[SYS_CONFIG]\r\nPortNo=5\r\n");
    MachineDef machine;
    AppConfig config = load(path, &machine, 1);
    ASSERT_EQ(SaveConfig(path.c_str(), 1, config, machine), 1);
    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("[SYS_CONFIG]\r\nPortNo=5\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("OutofFile=1\r\n"), std::string::npos) << text;
}

TEST(AppConfig, failedSaveWritesNeitherConfigurationNorMachine) {
    TempFolder folder;
    const std::string mdf = folder.file("MILL.MDF");
    AppConfig config;
    std::strcpy(config.McnFile, mdf.c_str());
    std::string error;
    EXPECT_EQ(SaveConfig(folder.file("missing/corvane.cfg").c_str(), 1, config, MachineDef{}), 0);
    EXPECT_EQ(
        SaveConfigFile(folder.file("missing/corvane.cfg").c_str(), 1, config, MachineDef{}, &error),
        0);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(mdf));
}

} // namespace
} // namespace corvane
