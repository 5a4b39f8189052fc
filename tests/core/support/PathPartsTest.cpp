#include "support/PathParts.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TempDir.h"

namespace corvane {
namespace {

TEST(PathParts, masksJoinTheChosenParts) {
    const struct {
        const char* path;
        int mask;
        const char* expected;
    } cases[] = {
        {"/home/op/nc/prog.tap", 3, "/home/op/nc/"},
        {"/home/op/nc/prog.tap", 7, "/home/op/nc/prog"},
        {"/home/op/nc/prog.tap", 4, "prog"},
        {"/home/op/nc/prog.tap", 12, "prog.tap"},
        {"/home/op/nc/prog.tap", 8, ".tap"},
        {"/home/op/nc/prog.tap", 1, ""},
        {"/home/op/nc/prog.tap", 15, "/home/op/nc/prog.tap"},
        {"prog.tap", 3, ""},
        {"archive.tar.gz", 4, "archive.tar"},
        {"/opt/corvane", 7, "/opt/corvane"},
        {"/etc.d/corvane", 8, ""},
        {"/home/op/.corvane", 4, ".corvane"},
        {"/home/op/..", 12, ".."},
        {"/home/op/", 4, ""},
        {"C:\\NC\\PART1.NC", 2, "C:\\NC\\"},
        {"C:\\NC\\PART1.NC", 12, "PART1.NC"},
        {"", 15, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WexSplitPath(c.path, c.mask), c.expected) << c.path << " mask " << c.mask;
    }
}

TEST(PathParts, partsKeepTheDotOfTheExtension) {
    PathParts parts = WexSplitPathParts("/a/b/c.nc");
    EXPECT_EQ(parts.drive, "");
    EXPECT_EQ(parts.folder, "/a/b/");
    EXPECT_EQ(parts.name, "c");
    EXPECT_EQ(parts.extension, ".nc");
}

TEST(PathParts, bufferFormIsCutAndSaysSo) {
    char out[8];
    EXPECT_EQ(WexSplitPath("/x/name.nc", 12, out, sizeof out), 1);
    EXPECT_STREQ(out, "name.nc");
    EXPECT_EQ(WexSplitPath("/x/longname.nc", 12, out, sizeof out), 0);
    EXPECT_STREQ(out, "longnam");
    EXPECT_EQ(WexSplitPath("/x/a.nc", 12, out, sizeof out), 1);
    EXPECT_STREQ(out, "a.nc");
    EXPECT_EQ(WexSplitPath(nullptr, 12, out, sizeof out), 0);
}

TEST(PathParts, existsTellsFilesFromFolders) {
    test::TempDir dir;
    std::string file = dir.file("f.nc");
    test::writeFile(file, "%\n");
    EXPECT_NE(WexPathExists(0, dir.path().c_str()), 0);
    EXPECT_EQ(WexPathExists(1, dir.path().c_str()), 0);
    EXPECT_NE(WexPathExists(1, file.c_str()), 0);
    EXPECT_EQ(WexPathExists(0, file.c_str()), 0);
    EXPECT_EQ(WexPathExists(1, dir.file("none").c_str()), 0);
    EXPECT_EQ(WexPathExists(1, nullptr), 0);
    EXPECT_EQ(WexPathExists(1, ""), 0);
}

} // namespace
} // namespace corvane
