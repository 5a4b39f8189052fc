#include "transfer/FileChoice.h"

#include "../support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace corvane {
namespace {

using test::TempDir;

std::tm localTm(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return t;
}

TEST(FileTime, CountsHundredNanosecondTicksSince1601) {
    EXPECT_EQ(fileTimeFromUnix(0, 0), 116444736000000000ull);
    EXPECT_EQ(fileTimeFromUnix(1, 500), 116444736010000005ull);
    EXPECT_EQ(fileTimeFromUnix(-11644473600, 0), 0ull);
    EXPECT_EQ(unixFromFileTime(116444736000000000ull), 0);
    EXPECT_EQ(unixFromFileTime(116444736010000005ull), 1);
    // Before 1970 a part second still belongs to the earlier second.
    EXPECT_EQ(unixFromFileTime(116444735990000000ull + 1), -1);
    EXPECT_EQ(unixFromFileTime(fileTimeFromUnix(1488715500, 999999999)), 1488715500);
}

TEST(NcFileFilters, OfferTheDefaultExtensionFirstAndAllFilesAlways) {
    struct Case {
        const char* defExt;
        std::vector<std::vector<std::string>> patterns;
    };
    const Case cases[] = {
        {"nc", {{"*.nc", "*.NC"}, {"*"}}},
        {"NC", {{"*.NC", "*.nc"}, {"*"}}},
        {"Tap", {{"*.Tap", "*.tap", "*.TAP"}, {"*"}}},
        {"", {{"*"}}},
        {"*", {{"*"}}},
        {"*.*", {{"*"}}},
        {nullptr, {{"*"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.defExt ? c.defExt : "(null)");
        std::vector<NameFilter> filters = ncFileFilters(Language::English, c.defExt);
        ASSERT_EQ(filters.size(), c.patterns.size());
        for (std::size_t i = 0; i < filters.size(); ++i) {
            EXPECT_EQ(filters[i].patterns, c.patterns[i]);
        }
        EXPECT_EQ(filters.back().label, "All files");
        if (filters.size() == 2) {
            EXPECT_EQ(filters.front().label, "NC file");
        }
    }
}

TEST(NcFileFilters, LabelsFollowTheLanguage) {
    std::vector<NameFilter> filters = ncFileFilters(Language::Japanese, "nc");
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].label, "NCファイル");
    EXPECT_EQ(filters[1].label, "すべてのファイル");
}

TEST(FillSendEntries, KeepsTheOrderAndDropsWhatDoesNotFit) {
    std::vector<ChosenFile> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back({"/nc/P" + std::to_string(i) + ".nc", true, 1000u + i, 10u + i});
    }
    SendQueue queue;
    EXPECT_EQ(fillSendEntries(files, queue.Entries, 32), 32);
    EXPECT_STREQ(queue.Entries[0].Name, "/nc/P0.nc");
    EXPECT_STREQ(queue.Entries[31].Name, "/nc/P31.nc");
    EXPECT_EQ(queue.Entries[31].WriteTime, 1031u);
    EXPECT_EQ(queue.Entries[31].Size, 41u);

    SendQueueEntry two[3];
    std::strcpy(two[2].Name, "untouched");
    EXPECT_EQ(fillSendEntries(files, two, 2), 2);
    EXPECT_STREQ(two[1].Name, "/nc/P1.nc");
    EXPECT_STREQ(two[2].Name, "untouched");

    EXPECT_EQ(fillSendEntries(files, two, 0), 0);
    EXPECT_EQ(fillSendEntries(files, nullptr, 2), 0);
}

TEST(FillSendEntries, SizeKeepsLow32BitsAndMissingFilesGetZero) {
    const std::vector<ChosenFile> files = {
        {"/nc/big.nc", true, 5, 0x100000005ull},
        {"/nc/gone.nc", false, 77, 88},
    };
    SendQueueEntry entries[2];
    entries[1].Size = 99;
    ASSERT_EQ(fillSendEntries(files, entries, 2), 2);
    EXPECT_EQ(entries[0].Size, 5u);
    EXPECT_EQ(entries[0].WriteTime, 5u);
    EXPECT_EQ(entries[1].Size, 0u);
    EXPECT_EQ(entries[1].WriteTime, 0u);
}

TEST(FillSendEntries, SkipsPathsTooLongForTheQueueInsteadOfCuttingThem) {
    const std::string fits = "/" + std::string(258, 'a');    // 259 characters + terminator
    const std::string tooLong = "/" + std::string(259, 'b'); // 260 characters
    const std::vector<ChosenFile> files = {{tooLong, true, 1, 1}, {fits, true, 2, 2}, {"", true}};
    SendQueueEntry entries[3];
    ASSERT_EQ(fillSendEntries(files, entries, 3), 1);
    EXPECT_EQ(std::string(entries[0].Name), fits);
}

TEST(RememberFolder, KeepsTheFolderWithItsSeparator) {
    char defDir[520] = "/old/";
    EXPECT_EQ(rememberFolder(defDir, "/home/op/programs/O1234.nc"), 1);
    EXPECT_STREQ(defDir, "/home/op/programs/");
    EXPECT_EQ(rememberFolder(defDir, "/O1.nc"), 1);
    EXPECT_STREQ(defDir, "/");
    EXPECT_EQ(rememberFolder(defDir, "C:\\NC\\O1.nc"), 1);
    EXPECT_STREQ(defDir, "C:\\NC\\");

    EXPECT_EQ(rememberFolder(defDir, "O1.nc"), 0);
    EXPECT_STREQ(defDir, "C:\\NC\\");
    EXPECT_EQ(rememberFolder(defDir, nullptr), 0);

    char small[6] = "keep";
    EXPECT_EQ(rememberFolder(small, "/abcde/x.nc"), 0); // "/abcde/" needs 8 bytes
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(rememberFolder(small, "/abc/x.nc"), 1);
    EXPECT_STREQ(small, "/abc/");
}

TEST(ListColumns, DateAndTimeFormats) {
    struct Case {
        std::tm time;
        Language language;
        const char* date;
        const char* time12;
    };
    const Case cases[] = {
        {localTm(2017, 3, 5, 12, 5), Language::English, "2017/03/05", "PM 00:05"},
        {localTm(1999, 12, 31, 9, 30), Language::English, "99/12/31", "AM 09:30"},
        {localTm(1900, 1, 1, 0, 0), Language::English, "00/01/01", "AM 00:00"},
        {localTm(2000, 1, 1, 23, 59), Language::English, "2000/01/01", "PM 11:59"},
        {localTm(1985, 7, 4, 11, 59), Language::English, "85/07/04", "AM 11:59"},
        {localTm(2017, 3, 5, 12, 5), Language::Japanese, "2017/03/05", "午後 00:05"},
        {localTm(2024, 11, 20, 8, 7), Language::Japanese, "2024/11/20", "午前 08:07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        EXPECT_EQ(formatListDate(c.language, c.time), c.date);
        EXPECT_EQ(formatListTime(c.language, c.time), c.time12);
    }
}

TEST(ListColumns, SizeGroupsThreeDigitsWithCommas) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0u, "0"},
        {7u, "7"},
        {999u, "999"},
        {1000u, "1,000"},
        {12345u, "12,345"},
        {123456u, "123,456"},
        {1200000u, "1,200,000"},
        {2147483648u, "2,147,483,648"}, // past the signed range: never negative
        {4294967295u, "4,294,967,295"},
    };
    for (const auto& [size, text] : cases) {
        EXPECT_EQ(formatListSize(size), text);
    }
}

TEST(ListColumns, LocalTimeRoundTripsThroughAFileTime) {
    std::tm written = localTm(2017, 3, 5, 12, 5);
    std::time_t seconds = std::mktime(&written);
    std::tm local{};
    ASSERT_TRUE(localTimeOfFileTime(fileTimeFromUnix(seconds, 250000000), local));
    EXPECT_EQ(formatListDate(Language::English, local), "2017/03/05");
    EXPECT_EQ(formatListTime(Language::English, local), "PM 00:05");
    EXPECT_FALSE(localTimeOfFileTime(0, local));
}

TEST(LookUpChosenFile, ReadsSizeAndWriteTime) {
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string path = dir.file("O0001.nc");
    test::writeFile(path, std::string(1234, 'G'));
    const auto written = std::chrono::sys_seconds(std::chrono::seconds(1488715500));
    fs::last_write_time(path, std::chrono::file_clock::from_sys(written));

    ChosenFile file = lookUpChosenFile(path);
    EXPECT_TRUE(file.found);
    EXPECT_EQ(file.path, path);
    EXPECT_EQ(file.size, 1234u);
    EXPECT_EQ(file.writeTime, 116444736000000000ull + 1488715500ull * 10000000ull);

    ChosenFile missing = lookUpChosenFile(dir.file("absent.nc"));
    EXPECT_FALSE(missing.found);
    EXPECT_EQ(missing.path, dir.file("absent.nc"));
    EXPECT_FALSE(lookUpChosenFile(dir.path()).found); // a folder is not a file to send
}

} // namespace
} // namespace corvane
