#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "app/StartupOptions.h"

using namespace corvane;

namespace {

struct FakeFiles {
    std::set<std::string> existing;
    std::map<std::string, uint64_t> sizes;
    std::vector<std::string> sizeLookups;
};

StartupEnvironment environment(FakeFiles& files) {
    StartupEnvironment env;
    env.executablePath = "/opt/corvane/bin/corvane";
    env.baseFolder = "/home/ann/jobs";
    env.defaultConfigPath = "/home/ann/.config/corvane/corvane.cfg";
    env.fileExists = [&files](const std::string& path) { return files.existing.count(path) > 0; };
    env.fileSize = [&files](const std::string& path) -> std::optional<uint64_t> {
        files.sizeLookups.push_back(path);
        const auto it = files.sizes.find(path);
        if (it == files.sizes.end())
            return std::nullopt;
        return it->second;
    };
    return env;
}

StartupOptions read(const std::string& line) {
    FakeFiles files;
    return ReadStartupOptions(line.c_str(), environment(files));
}

} // namespace

TEST(StartupOptions, eachSwitchSetsItsFlagWhateverTheCaseOrPrefixCharacter) {
    struct Case {
        const char* line;
        bool exit, topmost, create, japanese, english;
    };
    const Case cases[] = {
        {"/EXIT", true, false, false, false, false},
        {"-exit", true, false, false, false, false},
        {"/Topmost", false, true, false, false, false},
        {"-CREATE", false, false, true, false, false},
        {"/jp", false, false, false, true, false},
        {"/uS", false, false, false, false, true},
        // Whole-name switches do not match a longer or shorter name.
        {"/EXITNOW /EXI /JPN /USA /TOP", false, false, false, false, false},
        {"/EXIT /TOPMOST /CREATE /JP /US", true, true, true, true, true},
    };
    for (const Case& c : cases) {
        const StartupOptions o = read(c.line);
        EXPECT_EQ(o.flags.Exit, c.exit) << c.line;
        EXPECT_EQ(o.flags.Topmost, c.topmost) << c.line;
        EXPECT_EQ(o.flags.Create, c.create) << c.line;
        EXPECT_EQ(o.flags.ForceJapanese, c.japanese) << c.line;
        EXPECT_EQ(o.flags.ForceEnglish, c.english) << c.line;
        EXPECT_FALSE(o.flags.MachineFromCommandLine) << c.line;
        EXPECT_EQ(o.Queue.Count, 0) << c.line;
    }
}

// A file manager's "-ASK %F": the files are queued as ever, only marked to be confirmed.
TEST(StartupOptions, askMarksTheQueuedFilesForAQuestion) {
    EXPECT_TRUE(read("-ASK").flags.Ask);
    EXPECT_TRUE(read("/ask").flags.Ask);
    EXPECT_FALSE(read("-ASKME").flags.Ask);
    EXPECT_FALSE(read("-EXIT -CREATE").flags.Ask);
}

TEST(StartupOptions, japaneseWinsWhenBothLanguagesAreForced) {
    EXPECT_EQ(ForcedLanguage(read("/US /JP").flags), Language::Japanese);
    EXPECT_EQ(ForcedLanguage(read("/JP /US").flags), Language::Japanese);
    EXPECT_EQ(ForcedLanguage(read("/US").flags), Language::English);
    EXPECT_EQ(ForcedLanguage(read("").flags), std::nullopt);
}

TEST(StartupOptions, configurationAndMachinePaths) {
    struct Case {
        const char* line;
        const char* config;
        const char* machine;
    };
    const Case cases[] = {
        {"/Kshop", "/home/ann/jobs/shop.cfg", ""},
        {"/kshop.old", "/home/ann/jobs/shop.old", ""},
        {"/K\"my shop\"", "/home/ann/jobs/my shop.cfg", ""},
        {"-K/etc/shop", "/etc/shop.cfg", ""},
        {"/CFG=a.cfg /Kb", "/home/ann/jobs/b.cfg", ""},
        {"/Kb /cfg=a.cfg", "/home/ann/jobs/a.cfg", ""},
        {"/CFG=\"/srv/my cfg/x.cfg\"", "/srv/my cfg/x.cfg", ""},
        {"/MDF=lathe.MDF", "", "/home/ann/jobs/lathe.MDF"},
        {"-mdf=/srv/m/mill.mdf -mdf=second.mdf", "", "/home/ann/jobs/second.mdf"},
        // "CFG=" is tested before "K": a switch spelled "KCFG=" is a K switch.
        {"/KCFG=x", "/home/ann/jobs/CFG=x.cfg", ""},
    };
    for (const Case& c : cases) {
        const StartupOptions o = read(c.line);
        EXPECT_EQ(o.ConfigPath, c.config) << c.line;
        EXPECT_EQ(o.MachinePath, c.machine) << c.line;
    }
}

TEST(StartupOptions, pathRulesKeepRootedAndDriveNamesAndJoinTheRest) {
    const std::string base = "/home/ann/jobs";
    struct Case {
        const char* text;
        std::string resolved;
    };
    const Case cases[] = {
        {"a.nc", base + "/a.nc"},
        {"sub/a.nc", base + "/sub/a.nc"},
        {"../a.nc", base + "/../a.nc"},
        {"/data/a.nc", "/data/a.nc"},
        {"\\\\server\\share\\a.nc", "\\\\server\\share\\a.nc"},
        {"C:a.nc", "C:a.nc"}, // the colon alone is enough, no backslash needed
        {"D:\\nc\\a.nc", "D:\\nc\\a.nc"},
        {"", ""},
        {"x", base + "/x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveArgumentPath(c.text, base), c.resolved) << c.text;
    EXPECT_EQ(ResolveArgumentPath("a.nc", "C:\\cvn\\"), "C:\\cvn\\a.nc");
}

TEST(StartupOptions, quotesComeOffBetweenTheFirstAndTheLastQuote) {
    EXPECT_EQ(StripArgumentQuotes("\"a b.nc\""), "a b.nc");
    EXPECT_EQ(StripArgumentQuotes("x\"a\"b\"y"), "a\"b");
    EXPECT_EQ(StripArgumentQuotes("\"lonely"), "\"lonely");
    EXPECT_EQ(StripArgumentQuotes("\"\""), "");
    EXPECT_EQ(StripArgumentQuotes("plain"), "plain");
}

TEST(StartupOptions, filesAreQueuedResolvedAndSizedUnderTheNameThatWillBeSent) {
    FakeFiles files;
    files.sizes["/home/ann/jobs/a.nc"] = 1234;
    files.sizes["/home/ann/jobs/my part.nc"] = 77;
    files.sizes["/data/big.nc"] = 0x100000005ull; // only the low 32 bits count
    const StartupOptions o = ReadStartupOptions(
        "a.nc \"my part.nc\" /data/big.nc missing.nc /UNKNOWN -what=ever", environment(files));

    ASSERT_EQ(o.Queue.Count, 4);
    EXPECT_STREQ(o.Queue.Entries[0].Name, "/home/ann/jobs/a.nc");
    EXPECT_EQ(o.Queue.Entries[0].Size, 1234u);
    EXPECT_STREQ(o.Queue.Entries[1].Name, "/home/ann/jobs/my part.nc");
    EXPECT_EQ(o.Queue.Entries[1].Size, 77u);
    EXPECT_STREQ(o.Queue.Entries[2].Name, "/data/big.nc");
    EXPECT_EQ(o.Queue.Entries[2].Size, 5u);
    EXPECT_STREQ(o.Queue.Entries[3].Name, "/home/ann/jobs/missing.nc");
    EXPECT_EQ(o.Queue.Entries[3].Size, 0u); // queued all the same; the send reports it
    EXPECT_EQ(o.Queue.Position, 0);
    EXPECT_TRUE(o.Refused.empty());
}

TEST(StartupOptions, aSlashStartsAPathOrASwitchDependingOnThePlatform) {
    FakeFiles files;
    StartupEnvironment env = environment(files);
    const char* line = "/home/ann/a.nc /EXIT /b.nc /CFG=/etc/c.cfg /Kshop /K/etc/shop";

    StartupOptions o = ReadStartupOptions(line, env);
    ASSERT_EQ(o.Queue.Count, 2);
    EXPECT_STREQ(o.Queue.Entries[0].Name, "/home/ann/a.nc");
    EXPECT_STREQ(o.Queue.Entries[1].Name, "/K/etc/shop"); // "-K/etc/shop" for the K file
    EXPECT_TRUE(o.flags.Exit);
    EXPECT_EQ(o.ConfigPath, "/home/ann/jobs/shop.cfg");

    env.slashRootedPaths = false; // Windows: every '/' token is a switch
    o = ReadStartupOptions(line, env);
    EXPECT_EQ(o.Queue.Count, 0);
    EXPECT_TRUE(o.flags.Exit);
    EXPECT_EQ(o.ConfigPath, "/etc/shop.cfg");
}

TEST(StartupOptions, theQueueStopsAtThirtyTwoFiles) {
    std::string line;
    for (int i = 1; i <= 33; ++i)
        line += "f" + std::to_string(i) + ".nc ";
    const StartupOptions o = read(line);
    ASSERT_EQ(o.Queue.Count, 32);
    EXPECT_STREQ(o.Queue.Entries[0].Name, "/home/ann/jobs/f1.nc");
    EXPECT_STREQ(o.Queue.Entries[31].Name, "/home/ann/jobs/f32.nc");
}

TEST(StartupOptions, anEmptyQuotedNameQueuesNothing) {
    EXPECT_EQ(read("\"\" a.nc").Queue.Count, 1);
}

TEST(StartupOptions, notifyIsReadAsUpToEightHexDigits) {
    struct Case {
        const char* line;
        uint32_t id;
    };
    const Case cases[] = {
        {"/NOTIFY=1a2B", 0x1a2b},
        {"-notify=00C0FFEE", 0xc0ffee},
        {"/NOTIFY=123456789", 0x12345678},
        {"/NOTIFY=zz", 0},
        {"/NOTIFY=", 0},
        {"/NOTIFY=42 /NOTIFY=nonsense", 0},
        {"/NOTIFY=42 /NOTIFY=43", 0x43},
        {"/NOTIFY", 0}, // no '=': not the switch at all
        {"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.line).NotifyWindow, c.id) << c.line;
}

TEST(StartupOptions, overLongValuesAreRefusedNotCut) {
    // A token of 519 characters does not fit the 518 a token can carry.
    const std::string longName = "/" + std::string(518, 'a');
    StartupOptions o = read(longName + " b.nc");
    ASSERT_EQ(o.Queue.Count, 1);
    EXPECT_STREQ(o.Queue.Entries[0].Name, "/home/ann/jobs/b.nc");
    ASSERT_EQ(o.Refused.size(), 1u);

    // Queue names: 259 characters fit the entry, 260 do not.
    const std::string fits = "/d/" + std::string(256, 'n');
    const std::string tooLong = "/d/" + std::string(257, 'n');
    o = read(fits + " " + tooLong);
    ASSERT_EQ(o.Queue.Count, 1);
    EXPECT_EQ(std::string(o.Queue.Entries[0].Name), fits);
    EXPECT_EQ(o.Refused.size(), 1u);

    // Configuration and machine paths: 260 characters fit; a longer one is as if not given,
    // so an earlier value stays.
    const std::string cfg260 = "/" + std::string(259, 'c');
    const std::string cfg261 = "/" + std::string(260, 'c');
    o = read("/CFG=" + cfg260 + " /CFG=" + cfg261 + " /MDF=" + cfg261);
    EXPECT_EQ(o.ConfigPath, cfg260);
    EXPECT_EQ(o.MachinePath, "");
    EXPECT_EQ(o.Refused.size(), 2u);

    // The folder put in front counts: /home/ann/jobs/ is 15 characters.
    o = read("/CFG=" + std::string(246, 'r') + " /MDF=" + std::string(245, 'r'));
    EXPECT_EQ(o.ConfigPath, "");
    EXPECT_EQ(o.MachinePath.size(), 260u);
}

TEST(StartupOptions, configurationFileBesideTheExecutableOrInTheUserFolder) {
    struct Case {
        std::set<std::string> existing;
        const char* line;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "", "/home/ann/.config/corvane/corvane.cfg"},
        {{"/opt/corvane/bin/corvane.cfg"}, "", "/opt/corvane/bin/corvane.cfg"},
        {{"/home/ann/jobs/shop.cfg"}, "/Kshop", "/home/ann/jobs/shop.cfg"},
        // A named file that does not exist is passed over without a word.
        {{}, "/Kshop", "/home/ann/.config/corvane/corvane.cfg"},
        {{"/opt/corvane/bin/corvane.cfg"}, "/CFG=gone.cfg", "/opt/corvane/bin/corvane.cfg"},
    };
    for (const Case& c : cases) {
        FakeFiles files;
        files.existing = c.existing;
        const StartupOptions o = ReadStartupOptions(c.line, environment(files));
        EXPECT_EQ(o.ConfigFilePath, c.expected) << c.line;
    }
}

TEST(StartupOptions, stemAndHelpFollowTheExecutable) {
    FakeFiles files;
    StartupEnvironment env = environment(files);
    env.executablePath = "/opt/cvn.d/corvane.exe";
    env.defaultConfigPath.clear();
    const StartupOptions o = ReadStartupOptions("", env);
    EXPECT_EQ(o.ConfigFilePath, "/opt/cvn.d/corvane.cfg");
    EXPECT_EQ(o.HelpFilePath, "/opt/cvn.d/help/index.html");
}

TEST(StartupOptions, theMachineFileIsReadOnlyWhenNamedAndPresent) {
    const FileExistsCheck exists = [](const std::string& p) { return p == "/m/lathe.MDF"; };
    EXPECT_TRUE(ShouldReadMachineFile("/m/lathe.MDF", exists));
    EXPECT_FALSE(ShouldReadMachineFile("/m/mill.MDF", exists));
    EXPECT_FALSE(ShouldReadMachineFile("", exists));
    EXPECT_FALSE(ShouldReadMachineFile("/m/lathe.MDF", nullptr));
}

// The manual follows the executable: beside it in a build tree, under the install prefix's
// data folder otherwise, and in Japanese when "JP" forces the language and the pages exist.
TEST(StartupOptions, helpFileFollowsTheInstallAndTheForcedLanguage) {
    struct Row {
        const char* line;
        std::set<std::string> existing;
        const char* help;
    };
    const Row rows[] = {
        {"", {"/opt/corvane/bin/help/index.html"}, "/opt/corvane/bin/help/index.html"},
        {"",
         {"/opt/corvane/bin/../share/corvane/help/index.html"},
         "/opt/corvane/bin/../share/corvane/help/index.html"},
        {"/JP",
         {"/opt/corvane/bin/../share/corvane/help/index.html",
          "/opt/corvane/bin/../share/corvane/help/ja/index.html"},
         "/opt/corvane/bin/../share/corvane/help/ja/index.html"},
        {"/US",
         {"/opt/corvane/bin/../share/corvane/help/index.html",
          "/opt/corvane/bin/../share/corvane/help/ja/index.html"},
         "/opt/corvane/bin/../share/corvane/help/index.html"},
        {"/JP", {}, "/opt/corvane/bin/help/index.html"},
    };
    for (const Row& row : rows) {
        FakeFiles files;
        files.existing = row.existing;
        const StartupOptions o = ReadStartupOptions(row.line, environment(files));
        EXPECT_EQ(o.HelpFilePath, row.help) << "command line: " << row.line;
    }
}
