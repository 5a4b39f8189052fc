// The library listing the shop's pages pick programs from: what it shows, how it is bounded,
// and when it is published again.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "../support/TempDir.h"
#include "shop/LibraryListing.h"

namespace corvane::shop {
namespace {

using test::TempDir;
using test::writeFile;

TEST(LibraryListingTest, listsPlainFilesByNameWithSizeAndTimeButNoHiddenFilesFoldersOrLinks) {
    TempDir dir;
    writeFile(dir.file("O0012.NC"), std::string(1234, 'G'));
    writeFile(dir.file("A.NC"), "%\n");
    writeFile(dir.file(".hidden"), "x");
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_symlink("/etc/passwd", dir.file("link.NC"));
    const auto listing = nlohmann::json::parse(libraryListingJson(dir.path()));
    ASSERT_EQ(listing["files"].size(), 2u);
    EXPECT_EQ(listing["files"][0]["name"], "A.NC");
    EXPECT_EQ(listing["files"][1]["name"], "O0012.NC");
    EXPECT_EQ(listing["files"][1]["size"], 1234);
    EXPECT_EQ(listing["files"][1]["modified"].get<std::string>().size(), 20u); // ...T..:..:..Z
    EXPECT_EQ(listing["more"], 0);
}

TEST(LibraryListingTest, isBoundedAndSaysHowManyWereLeftOutAndAnUnreadableFolderIsSaid) {
    TempDir dir;
    for (int i = 0; i < 7; ++i)
        writeFile(dir.file("P" + std::to_string(i)), "x");
    const auto listing = nlohmann::json::parse(libraryListingJson(dir.path(), 5));
    EXPECT_EQ(listing["files"].size(), 5u);
    EXPECT_EQ(listing["files"][4]["name"], "P4");
    EXPECT_EQ(listing["more"], 2);

    const auto missing = nlohmann::json::parse(libraryListingJson(dir.file("none")));
    EXPECT_TRUE(missing["files"].empty());
    EXPECT_FALSE(missing["error"].get<std::string>().empty());
}

TEST(LibraryWatchTest, publishesAtFirstOnChangeAndAfterAReconnectButNeverTheSameTwice) {
    TempDir dir;
    writeFile(dir.file("A.NC"), "%\n");
    LibraryWatch watch(dir.path());
    uint64_t now = 1'000'000;
    ASSERT_TRUE(watch.due(now).has_value());
    EXPECT_FALSE(watch.due(now += 100'000).has_value());                  // too soon to look
    EXPECT_FALSE(watch.due(now += LibraryRefreshIntervalUs).has_value()); // looked: unchanged

    writeFile(dir.file("B.NC"), "%\n");
    const auto changed = watch.due(now += LibraryLookIntervalUs);
    ASSERT_TRUE(changed.has_value());
    EXPECT_NE(changed->find("B.NC"), std::string::npos);

    watch.resend();
    EXPECT_EQ(watch.due(now += 1), changed);
}

TEST(LibraryWatchTest, aFileRewrittenInPlaceShowsWithinTheRefreshInterval) {
    TempDir dir;
    writeFile(dir.file("A.NC"), "%\n");
    LibraryWatch watch(dir.path());
    uint64_t now = 0;
    ASSERT_TRUE(watch.due(now).has_value());
    writeFile(dir.file("A.NC"), std::string(500, 'X')); // the folder's own time may stay
    const auto later = watch.due(now += LibraryRefreshIntervalUs);
    ASSERT_TRUE(later.has_value());
    EXPECT_NE(later->find("\"size\":500"), std::string::npos);
}

} // namespace
} // namespace corvane::shop
