#include "settings/ProfileStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "TempDir.h"

namespace corvane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// Every kind of entry once, with values that test the edges of their kind.
struct Settings {
    char name[16] = "  Mill 1 ";
    char quoted[16] = "\"x\"";
    int8_t small = -5;
    int16_t medium = -30000;
    int32_t large = 2147483647;
    float ratio = 0.125f;
    double feed = -1234.56789012;
    int32_t list[3] = {1, -2, 3};
    int16_t shortList[2] = {7, 8};
};

void table(Settings& s, ProfileItem (&items)[10]) {
    ProfileItem filled[10] = {
        {"Machine", "Name", ProfileTypeText, sizeof s.name, s.name, -1},
        {nullptr, "Quoted", ProfileTypeText | ProfileTypeList, sizeof s.quoted, s.quoted, -1},
        {nullptr, "Small", ProfileTypeInt8, 0, &s.small, -1},
        {nullptr, "Medium", ProfileTypeInt16, 0, &s.medium, -1},
        {"Numbers", "Large", ProfileTypeInt32, 0, &s.large, -1},
        {nullptr, "Ratio", ProfileTypeFloat, 0, &s.ratio, -1},
        {nullptr, "Feed", ProfileTypeDouble, 0, &s.feed, -1},
        {nullptr, "List", ProfileTypeInt32 | ProfileTypeList, 3, s.list, -1},
        {nullptr, "ShortList", ProfileTypeInt16 | ProfileTypeList, 2, s.shortList, -1},
        {nullptr, nullptr, ProfileTypeInt32, 0, &s.large, -1},
    };
    std::memcpy(items, filled, sizeof filled);
}

void expectRoundTrip(const char* target, const char* configFolder) {
    Settings written;
    ProfileItem out[10];
    table(written, out);
    ASSERT_EQ(ProfileWrite(target, out, 10, configFolder), 1);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(out[i].Found, 1) << i;
    }
    EXPECT_EQ(out[9].Found, 0);

    Settings read;
    std::memset(read.name, 0, sizeof read.name);
    std::memset(read.quoted, 0, sizeof read.quoted);
    read.small = read.medium = 0;
    read.large = 0;
    read.ratio = 0;
    read.feed = 0;
    read.list[0] = read.list[1] = read.list[2] = 0;
    read.shortList[0] = read.shortList[1] = 0;
    ProfileItem in[10];
    table(read, in);
    ASSERT_EQ(ProfileRead(target, in, 10, configFolder), 1);
    EXPECT_STREQ(read.name, "  Mill 1 ");
    EXPECT_STREQ(read.quoted, "\"x\"");
    EXPECT_EQ(read.small, -5);
    EXPECT_EQ(read.medium, -30000);
    EXPECT_EQ(read.large, 2147483647);
    EXPECT_FLOAT_EQ(read.ratio, 0.125f);
    EXPECT_DOUBLE_EQ(read.feed, -1234.56789); // six decimals survive
    EXPECT_EQ(read.list[0], 1);
    EXPECT_EQ(read.list[1], -2);
    EXPECT_EQ(read.list[2], 3);
    EXPECT_EQ(read.shortList[0], 7);
    EXPECT_EQ(read.shortList[1], 8);
}

TEST(ProfileStore, iniTableRoundTrips) {
    TempDir dir;
    expectRoundTrip(dir.file("old.cfg").c_str(), nullptr);
    std::string text = readFile(dir.file("old.cfg"));
    EXPECT_NE(text.find("Name=\"  Mill 1 \"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("List=1;-2;3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Ratio=0.125000\n"), std::string::npos) << text;
}

TEST(ProfileStore, registryTargetRoundTripsThroughARootKeyFile) {
    TempDir dir;
    std::string folder = dir.file("config/corvane");
    expectRoundTrip("hkey_current_user\\Software\\Corvane", folder.c_str());
    std::string text = readFile(folder + "/HKEY_CURRENT_USER.ini");
    EXPECT_NE(text.find("[Software\\Corvane\\Machine]"), std::string::npos) << text;
    EXPECT_NE(text.find("[Software\\Corvane\\Numbers]"), std::string::npos) << text;
}

TEST(ProfileStore, refusesWhatItCannotHandle) {
    TempDir dir;
    int32_t value = 4;
    ProfileItem item{"s", "k", ProfileTypeInt32, 0, &value, -1};
    EXPECT_EQ(ProfileRead("HKEY_CURRENT_USER", &item, 1, dir.path().c_str()), 0);
    EXPECT_EQ(ProfileWrite("HKEY_LOCAL_MACHINE", &item, 1, dir.path().c_str()), 0);
    EXPECT_EQ(ProfileRead(nullptr, &item, 1), 0);
    EXPECT_EQ(ProfileRead(dir.file("x.ini").c_str(), nullptr, 1), 0);
    EXPECT_EQ(ProfileRead(dir.file("x.ini").c_str(), &item, 0), 0);
    EXPECT_EQ(ProfileWrite(dir.file("x.ini").c_str(), &item, -1), 0);
    EXPECT_EQ(ProfileRead(dir.file("absent.ini").c_str(), &item, 1), 0);
    EXPECT_EQ(item.Found, 0);
    EXPECT_EQ(value, 4);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ProfileStore, readFollowsTheOldFormatRules) {
    TempDir dir;
    std::string path = dir.file("old.cfg");
    const std::string content = "[Empty]\nText=\nNumber=\n"
                                "[Marker]\nKey=@_ErrorSection\n"
                                "[Lists]\nLong=1,2;3,4\nShort=7\nBlank=\n"
                                "[Wide]\nByte=300\nWord=70000\nFloat=1e300\n";
    writeFile(path, content);
    char text[8] = "keep";
    int32_t number = 9;
    int32_t marker = 9;
    int32_t longList[3] = {9, 9, 9};
    int32_t shortList[3] = {9, 9, 9};
    int32_t blankList[2] = {9, 9};
    int8_t byte = 0;
    int16_t word = 0;
    float single = 0;
    int32_t orphan = 9;
    ProfileItem items[] = {
        {nullptr, "Text", ProfileTypeInt32, 0, &orphan, -1}, // before any section: skipped
        {"Empty", "Text", ProfileTypeText, sizeof text, text, -1},
        {nullptr, "Number", ProfileTypeInt32, 0, &number, -1},
        {"Marker", "Key", ProfileTypeInt32, 0, &marker, -1},
        {"Lists", "Long", ProfileTypeInt32 | ProfileTypeList, 3, longList, -1},
        {nullptr, "Short", ProfileTypeInt32 | ProfileTypeList, 3, shortList, -1},
        {nullptr, "Blank", ProfileTypeInt32 | ProfileTypeList, 2, blankList, -1},
        {"Wide", "Byte", ProfileTypeInt8, 0, &byte, -1},
        {nullptr, "Word", ProfileTypeInt16, 0, &word, -1},
        {nullptr, "Float", ProfileTypeFloat, 0, &single, -1},
        {nullptr, "Missing", ProfileTypeInt32, 0, &orphan, -1},
        {nullptr, "Float", ProfileTypeInt32, 0, nullptr, -1},
        {nullptr, "Float", 64, 0, &orphan, -1},
    };
    const int count = static_cast<int>(std::size(items));
    ASSERT_EQ(ProfileRead(path.c_str(), items, count), 1);
    const int found[] = {0, 1, 1, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(items[i].Found, found[i]) << "entry " << i;
    }
    EXPECT_STREQ(text, "");
    EXPECT_EQ(number, 0);
    EXPECT_EQ(marker, 9);
    EXPECT_EQ(longList[0], 1);
    EXPECT_EQ(longList[1], 2);
    EXPECT_EQ(longList[2], 3);
    EXPECT_EQ(shortList[0], 7);
    EXPECT_EQ(shortList[1], 9);
    EXPECT_EQ(shortList[2], 9);
    EXPECT_EQ(blankList[0], 0);
    EXPECT_EQ(blankList[1], 0);
    EXPECT_EQ(byte, 44);   // 300 & 0xFF
    EXPECT_EQ(word, 4464); // 70000 & 0xFFFF
    EXPECT_TRUE(std::isinf(single));
    EXPECT_EQ(orphan, 9);
    EXPECT_EQ(readFile(path), content);
}

TEST(ProfileStore, absentSectionsReadNothing) {
    TempDir dir;
    std::string path = dir.file("old.cfg");
    writeFile(path, "[Other]\nKey=1\n");
    int32_t value = 5;
    ProfileItem item{"Mine", "Key", ProfileTypeInt32, 0, &value, -1};
    EXPECT_EQ(ProfileRead(path.c_str(), &item, 1), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(item.Found, 0);
}

TEST(ProfileStore, textLongerThanItsBufferIsCut) {
    TempDir dir;
    std::string path = dir.file("old.cfg");
    writeFile(path, "[s]\nk=" + std::string(600, 'x') + "\n");
    char small[5];
    char large[700];
    ProfileItem items[] = {
        {"s", "k", ProfileTypeText, sizeof small, small, 0},
        {"s", "k", ProfileTypeText, sizeof large, large, 0},
    };
    ASSERT_EQ(ProfileRead(path.c_str(), items, 2), 1);
    EXPECT_STREQ(small, "xxxx");
    EXPECT_EQ(std::strlen(large), 511u);
}

TEST(ProfileStore, writeKeepsTheRestOfTheFileAndFailsCleanly) {
    TempDir dir;
    std::string path = dir.file("old.cfg");
    writeFile(path, "; settings\r\n[Keep]\r\nA=1\r\n");
    int32_t value = 2;
    ProfileItem item{"New", "B", ProfileTypeInt32, 0, &value, 0};
    ASSERT_EQ(ProfileWrite(path.c_str(), &item, 1), 1);
    EXPECT_EQ(readFile(path), "; settings\r\n[Keep]\r\nA=1\r\n\r\n[New]\r\nB=2\r\n");

    std::string missing = dir.file("gone/old.cfg");
    EXPECT_EQ(ProfileWrite(missing.c_str(), &item, 1), 0);
    EXPECT_EQ(item.Found, 0);
}

TEST(ProfileStore, splitListCutsInPlace) {
    const struct {
        const char* text;
        const char* separators;
        int fields;
    } cases[] = {
        {"a,,b", ",", 3}, {"1,2;3", ",;", 3},         {"abc", ",", 1}, {"abc", "", 1}, {"", ",", 0},
        {",", ",", 2},    {"\xE3\x80\x81,x", ",", 2},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(SplitList(text.data(), c.separators), c.fields) << c.text;
    }
    char text[] = "a,,b";
    ASSERT_EQ(SplitList(text, ","), 3);
    EXPECT_STREQ(text, "a");
    EXPECT_STREQ(text + 2, "");
    EXPECT_STREQ(text + 3, "b");
    EXPECT_EQ(SplitList(nullptr, ","), 0);
    EXPECT_EQ(SplitList(text, nullptr), 0);
}

TEST(ProfileStore, fileOperations) {
    TempDir dir;
    std::string file = dir.file("a.nc");
    writeFile(file, "%\n");
    EXPECT_EQ(FileExists(file.c_str()), 1);
    EXPECT_EQ(FileExists(dir.path().c_str()), 0);
    EXPECT_EQ(FileExists(nullptr), 0);
    EXPECT_EQ(FolderExists(dir.path().c_str()), 1);
    EXPECT_EQ(FolderExists(file.c_str()), 0);

    char temp[260];
    ASSERT_EQ(MakeTempFileName(temp), 1);
    std::filesystem::path made(temp);
    EXPECT_EQ(made.filename().string().substr(0, 3), "@@@");
    EXPECT_EQ(std::filesystem::file_size(made), 0u);
    std::filesystem::remove(made);
    EXPECT_EQ(MakeTempFileName(nullptr), 0);
}

TEST(ProfileStore, resolveExistingFileExpandsRelativeNames) {
    TempDir dir;
    test::writeFile(dir.file("a.nc"), "%\n");
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    char buffer[260];
    int result = ResolveExistingFile("./sub/../a.nc", buffer, sizeof buffer);
    int absent = ResolveExistingFile("b.nc", buffer + 0, sizeof buffer);
    std::filesystem::current_path(before);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(absent, 0);
    EXPECT_STREQ(buffer, dir.file("b.nc").c_str());

    std::string full = dir.file("a.nc");
    char small[8];
    EXPECT_EQ(ResolveExistingFile(full.c_str(), small, sizeof small), 0);
    EXPECT_EQ(std::string(small), full.substr(0, 7));
    EXPECT_EQ(ResolveExistingFile(nullptr, buffer, 260), 0);
    EXPECT_EQ(ResolveExistingFile(full.c_str(), buffer, 0), 0);
}

} // namespace
} // namespace corvane
