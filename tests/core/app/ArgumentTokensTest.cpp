#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/StartupOptions.h"
#include "support/ArgumentTokens.h"

using namespace corvane;

namespace {

std::vector<std::string> tokensOf(const char* text, int size = ArgumentTokenSize) {
    std::vector<std::string> out;
    std::vector<char> token(static_cast<size_t>(size));
    const char* cursor = text;
    for (int guard = 0; guard < 100; ++guard) {
        const int n = WexNextArgument(cursor, token.data(), size);
        if (n <= 0)
            break;
        out.emplace_back(token.data());
    }
    return out;
}

} // namespace

TEST(ArgumentTokens, splitsAtBlanksOutsideQuotesAndKeepsTheQuotes) {
    struct Case {
        const char* text;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"a", {"a"}},
        {"  a   b\tc  ", {"a", "b", "c"}},
        {"\"my file.nc\" next", {"\"my file.nc\"", "next"}},
        {"/CFG=\"C:\\My Shop\\a.cfg\" x", {"/CFG=\"C:\\My Shop\\a.cfg\"", "x"}},
        {"a\"b c\"d e", {"a\"b c\"d", "e"}},
        {"\"\"", {"\"\""}},
        {"\"unclosed rest of line", {"\"unclosed rest of line"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokensOf(c.text), c.tokens) << c.text;
}

TEST(ArgumentTokens, anArgumentThatDoesNotFitIsReportedAndSkippedWhole) {
    const std::string longWord(30, 'x');
    const std::string text = "ab " + longWord + " cd";
    const char* cursor = text.c_str();
    char token[8];

    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 2);
    EXPECT_STREQ(token, "ab");
    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 8); // did not fit
    EXPECT_EQ(std::string(token).size(), 7u);                   // still terminated
    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 2); // the next one is intact
    EXPECT_STREQ(token, "cd");
    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 0);
    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 0); // stays at the end
}

TEST(ArgumentTokens, exactlyFillingTheBufferStillFits) {
    const std::string word(7, 'y');
    const char* cursor = word.c_str();
    char token[8];
    EXPECT_EQ(WexNextArgument(cursor, token, sizeof token), 7);
    EXPECT_EQ(std::string(token), word);
}

TEST(ArgumentTokens, joinedArgumentsSplitBackIntoTheSameValues) {
    // What a shell hands over, and what the start-up reading should see after it has taken
    // the quotes off the value.
    struct Case {
        std::vector<const char*> argv;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {{"/EXIT", "a.nc"}, {"/EXIT", "a.nc"}},
        {{"my file.nc"}, {"\"my file.nc\""}},
        {{"/CFG=my shop.cfg"}, {"/CFG=\"my shop.cfg\""}},
        {{"-mdf=/a b/m.MDF"}, {"-mdf=\"/a b/m.MDF\""}},
        {{"/Kmy shop"}, {"/K\"my shop\""}},
        {{"\"quoted\"", "x"}, {"\"quoted\"", "x"}},
        {{"odd\"quote", "x"}, {"odd\"quote\"", "x"}},
        {{"", "x"}, {"x"}},
        {{"a\"b\" c"}, {"\"ab c\""}},
        {{"/home/ann/my file.nc"}, {"\"/home/ann/my file.nc\""}},
        {{"/MDF=/srv/my m.MDF"}, {"/MDF=\"/srv/my m.MDF\""}},
    };
    for (const Case& c : cases) {
        const std::string line = JoinArguments(static_cast<int>(c.argv.size()), c.argv.data());
        EXPECT_EQ(tokensOf(line.c_str()), c.tokens) << line;
    }
}

TEST(ArgumentTokens, switchOrPath) {
    struct Case {
        const char* token;
        bool posix, windows;
    };
    const Case cases[] = {
        {"-EXIT", true, true},
        {"/EXIT", true, true},
        {"/CFG=/etc/a.cfg", true, true},
        {"/Kshop", true, true},
        {"/home/ann/a.nc", false, true},
        {"/K/etc/shop", false, true},
        {"/tmp/x=y.nc", false, true},
        {"-K/etc/shop", true, true},
        {"a.nc", false, false},
        {"\"/CFG=x\"", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSwitchArgument(c.token, true), c.posix) << c.token;
        EXPECT_EQ(IsSwitchArgument(c.token, false), c.windows) << c.token;
    }
}

TEST(ArgumentTokens, aJoinedSwitchWithBlanksIsStillASwitch) {
    const char* argv[] = {"/CFG=my shop.cfg", "/Kother shop", "two words.nc"};
    const std::string line = JoinArguments(3, argv);
    StartupEnvironment env;
    env.baseFolder = "/w";
    env.executablePath = "/opt/corvane/corvane";
    const StartupOptions options = ReadStartupOptions(line.c_str(), env);
    EXPECT_EQ(options.ConfigPath, "/w/other shop.cfg");
    ASSERT_EQ(options.Queue.Count, 1);
    EXPECT_STREQ(options.Queue.Entries[0].Name, "/w/two words.nc");
}
