#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/AppConfig.h"

namespace corvane {
namespace {

std::string slotName(int i) {
    return "/nc/file" + std::to_string(i) + ".nc";
}

AppConfig fullHistory(int list) {
    AppConfig config;
    for (int i = 15; i >= 0; --i) {
        UpdateHistory(config, list, 0, slotName(i).c_str());
    }
    return config;
}

TEST(History, addingAPathPutsItFirst) {
    AppConfig config;
    EXPECT_EQ(UpdateHistory(config, 0, 0, "/a.nc"), 1);
    EXPECT_EQ(UpdateHistory(config, 0, 0, "/b.nc"), 2);
    EXPECT_STREQ(config.NcFileHistory[0], "/b.nc");
    EXPECT_STREQ(config.NcFileHistory[1], "/a.nc");
    EXPECT_EQ(HistoryCount(config, 1), 0); // the machine list is a list of its own
}

TEST(History, aListedPathMovesToTheFrontInItsNewLetterCase) {
    for (int list : {0, 1}) {
        AppConfig config = fullHistory(list);
        auto& slots = list == 0 ? config.NcFileHistory : config.McnFileHistory;
        EXPECT_EQ(UpdateHistory(config, list, 0, "/NC/FILE3.NC"), 16);
        EXPECT_STREQ(slots[0], "/NC/FILE3.NC");
        for (int i = 1; i <= 3; ++i) {
            EXPECT_EQ(slots[i], slotName(i - 1)) << i;
        }
        for (int i = 4; i < 16; ++i) {
            EXPECT_EQ(slots[i], slotName(i)) << i;
        }
    }
}

TEST(History, aNewPathPushesTheSixteenthOut) {
    AppConfig config = fullHistory(0);
    EXPECT_EQ(UpdateHistory(config, 0, 0, "/new.nc"), 16);
    EXPECT_STREQ(config.NcFileHistory[0], "/new.nc");
    EXPECT_EQ(config.NcFileHistory[15], slotName(14));
    for (const auto& slot : config.NcFileHistory) {
        EXPECT_NE(slot, slotName(15));
    }
}

TEST(History, choosingAnEntryAgainPassesTheSlotItself) {
    // A history menu hands over the slot's own buffer, which the move overwrites.
    AppConfig config = fullHistory(0);
    EXPECT_EQ(UpdateHistory(config, 0, 0, config.NcFileHistory[5]), 16);
    EXPECT_EQ(config.NcFileHistory[0], slotName(5));
    EXPECT_EQ(config.NcFileHistory[5], slotName(4));
    EXPECT_EQ(config.NcFileHistory[6], slotName(6));
}

TEST(History, clearingThenCountingGivesZero) {
    AppConfig config = fullHistory(1);
    EXPECT_EQ(HistoryCount(config, 1), 16);
    EXPECT_EQ(UpdateHistory(config, 1, 1, nullptr), 0);
    EXPECT_EQ(HistoryCount(config, 1), 0);
    EXPECT_STREQ(config.McnFileHistory[15], "");
}

TEST(History, pathsThatCannotBeListedChangeNothing) {
    AppConfig config = fullHistory(0);
    const std::string tooLong = "/" + std::string(260, 'x');
    EXPECT_EQ(UpdateHistory(config, 0, 0, nullptr), 16);
    EXPECT_EQ(UpdateHistory(config, 0, 0, ""), 16);
    EXPECT_EQ(UpdateHistory(config, 0, 0, tooLong.c_str()), 16);
    EXPECT_EQ(UpdateHistory(config, 7, 0, "/x.nc"), 0);
    const AppConfig unchanged = fullHistory(0);
    EXPECT_TRUE(std::memcmp(&config, &unchanged, sizeof config) == 0);

    const std::string longest = "/" + std::string(258, 'y');
    EXPECT_EQ(UpdateHistory(config, 0, 0, longest.c_str()), 16);
    EXPECT_EQ(config.NcFileHistory[0], longest);
}

TEST(History, countStopsAtTheFirstEmptySlot) {
    AppConfig config;
    std::strcpy(config.NcFileHistory[0], "/a");
    std::strcpy(config.NcFileHistory[1], "/b");
    std::strcpy(config.NcFileHistory[3], "/d");
    EXPECT_EQ(HistoryCount(config, 0), 2);
}

} // namespace
} // namespace corvane
