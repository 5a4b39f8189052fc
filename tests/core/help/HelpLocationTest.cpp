#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/HelpLocation.h"

using namespace corvane;

namespace {

FileExistsCheck existing(std::set<std::string> files) {
    return [files = std::move(files)](const std::string& path) { return files.count(path) > 0; };
}

} // namespace

TEST(LocateHelpFile, picksTheFirstFolderThatHoldsAManualInTheWantedLanguage) {
    const std::string exe = "/usr/local/bin/corvane";
    const std::string beside = "/usr/local/bin/help/index.html";
    const std::string besideJa = "/usr/local/bin/help/ja/index.html";
    const std::string shared = "/usr/local/bin/../share/corvane/help/index.html";
    const std::string sharedJa = "/usr/local/bin/../share/corvane/help/ja/index.html";
    struct Row {
        const char* what;
        Language language;
        std::set<std::string> files;
        std::string expected;
    };
    const Row rows[] = {
        {"build tree", Language::English, {beside, besideJa}, beside},
        {"build tree, Japanese", Language::Japanese, {beside, besideJa}, besideJa},
        {"installed", Language::English, {shared, sharedJa}, shared},
        {"installed, Japanese", Language::Japanese, {shared, sharedJa}, sharedJa},
        {"Japanese pages missing", Language::Japanese, {shared}, shared},
        // A manual beside the program wins over the installed one, whatever its languages.
        {"beside wins", Language::Japanese, {beside, sharedJa}, beside},
        {"Japanese page without its folder's index", Language::English, {besideJa, shared}, shared},
        {"none: the place beside the program", Language::Japanese, {}, beside},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LocateHelpFile(exe, row.language, existing(row.files)), row.expected) << row.what;
}

TEST(LocateHelpFile, worksWithoutAFolderOrAnExistenceCheck) {
    EXPECT_EQ(LocateHelpFile("corvane", Language::English, existing({"help/index.html"})),
              "help/index.html");
    EXPECT_EQ(LocateHelpFile("/opt/c/corvane", Language::Japanese, nullptr),
              "/opt/c/help/index.html");
    EXPECT_EQ(LocateHelpFile("C:\\Corvane\\corvane.exe", Language::English,
                             existing({"C:\\Corvane\\help/index.html"})),
              "C:\\Corvane\\help/index.html");
}

TEST(HelpTopicPage, everyDialogTopicHasItsOwnPageAndAnchor) {
    struct Row {
        int topic;
        const char* page;
    };
    const Row rows[] = {
        {1000, "machine-device.html#topic-1000"},
        {1001, "machine-send.html#topic-1001"},
        {1002, "machine-receive.html#topic-1002"},
        {1003, "machine-options.html#topic-1003"},
        {1010, "property.html#topic-1010"},
        {4711, "index.html#topic-4711"},
        {0, "index.html#topic-0"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(HelpTopicPage(row.topic), row.page) << row.topic;
}

TEST(HelpTopicTarget, opensTheTopicPageBesideTheFirstPageOrFallsBackToTheFirstPage) {
    const std::string first = "/x/help/ja/index.html";
    EXPECT_EQ(HelpTopicTarget(first, 1001, existing({first, "/x/help/ja/machine-send.html"})),
              "/x/help/ja/machine-send.html#topic-1001");
    EXPECT_EQ(HelpTopicTarget(first, 1001, existing({first})), first + "#topic-1001");
    EXPECT_EQ(HelpTopicTarget(first, 1001, nullptr), first + "#topic-1001");
    EXPECT_EQ(HelpTopicTarget(first, 99, existing({first})), first + "#topic-99");
}
