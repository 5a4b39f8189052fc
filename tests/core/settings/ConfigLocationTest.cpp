#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "SettingsFiles.h"
#include "app/ConfigLocation.h"

namespace corvane {
namespace {

using test::TempFolder;
using test::writeFile;

TEST(ConfigLocation, besideTheProgramIsItsStemWithCfg) {
    EXPECT_EQ(ConfigFileBeside("/opt/corvane/bin/corvane"), "/opt/corvane/bin/corvane.cfg");
    EXPECT_EQ(ConfigFileBeside("/opt/corvane/corvane.exe"), "/opt/corvane/corvane.cfg");
    EXPECT_EQ(ConfigFileBeside("/opt/my.tools/corvane"), "/opt/my.tools/corvane.cfg");
    EXPECT_EQ(ConfigFileBeside(""), "");
}

TEST(ConfigLocation, userFileFollowsXdgThenHome) {
    EXPECT_EQ(UserConfigFilePath("/x/conf", "/home/u"), "/x/conf/corvane/corvane.cfg");
    EXPECT_EQ(UserConfigFilePath("", "/home/u"), "/home/u/.config/corvane/corvane.cfg");
    EXPECT_EQ(UserConfigFilePath(nullptr, "/home/u"), "/home/u/.config/corvane/corvane.cfg");
    EXPECT_EQ(UserConfigFilePath(nullptr, nullptr), "");
}

TEST(ConfigLocation, aFileBesideTheProgramIsAPortableInstall) {
    TempFolder folder;
    const std::string program = folder.file("corvane");
    const std::string user = DefaultConfigFilePath(program);
    EXPECT_NE(user, folder.file("corvane.cfg"));
    EXPECT_NE(user.find("corvane/corvane.cfg"), std::string::npos) << user;

    writeFile(folder.file("corvane.cfg"), "");
    EXPECT_EQ(DefaultConfigFilePath(program), folder.file("corvane.cfg"));
}

TEST(ConfigLocation, theUserFolderIsCreatedBeforeTheFirstSave) {
    TempFolder folder;
    const std::string path = folder.file("conf/corvane/corvane.cfg");
    std::string error;
    EXPECT_EQ(EnsureConfigFolder(path, &error), 1) << error;
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("conf/corvane")));

    writeFile(folder.file("plain"), "");
    EXPECT_EQ(EnsureConfigFolder(folder.file("plain/corvane.cfg"), &error), 0);
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace corvane
