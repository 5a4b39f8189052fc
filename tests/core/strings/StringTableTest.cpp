#include "support/StringTable.h"
#include "support/StringIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace corvane;

namespace {

// Texts that show a '%' as a character and are never handed to printf. Everywhere else a '%'
// must start a conversion, or a translation would make printf read arguments it never got.
const std::set<int> kPlainTextsWithPercent = {
    4139, // "None,%,,"
    4140, // "None,%,DC4,%+DC4,,"
    IDS_LBL_PERCENT_ADDITION,
    IDS_CHK_DELETE_PERCENT,
};

struct Conversions {
    std::vector<std::string> specs; // each conversion as written, "%05d", "%ld", "%%"
    bool wellFormed = true;         // every '%' started a complete conversion
};

Conversions parseConversions(const std::string& text) {
    Conversions result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && std::strchr("-+ #0", text[j]) != nullptr) {
            ++j;
        }
        while (j < text.size() &&
               (std::isdigit(static_cast<unsigned char>(text[j])) != 0 || text[j] == '.')) {
            ++j;
        }
        while (j < text.size() && std::strchr("hlLqjzt", text[j]) != nullptr) {
            ++j;
        }
        if (j >= text.size() || std::strchr("diouxXeEfFgGcsp%", text[j]) == nullptr) {
            result.wellFormed = false;
            continue;
        }
        result.specs.push_back(text.substr(i, j - i + 1));
        i = j;
    }
    return result;
}

std::map<int, std::string> asMap(Language language) {
    std::map<int, std::string> map;
    for (const StringEntry& entry : StringTable(language)) {
        map.emplace(entry.id, entry.text);
    }
    return map;
}

std::vector<std::string> splitChoices(const std::string& list) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : list) {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::size_t countOf(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

} // namespace

TEST(StringTable, eachLanguageHoldsEveryIdExactlyOnce) {
    for (Language language : {Language::English, Language::Japanese}) {
        std::set<int> seen;
        for (const StringEntry& entry : StringTable(language)) {
            EXPECT_TRUE(seen.insert(entry.id).second) << "id " << entry.id << " twice";
            EXPECT_NE(entry.text, nullptr) << "id " << entry.id;
        }
    }
}

TEST(StringTable, bothLanguagesHoldTheSameIds) {
    const auto english = asMap(Language::English);
    const auto japanese = asMap(Language::Japanese);
    for (const auto& [id, text] : english) {
        EXPECT_TRUE(japanese.count(id)) << "Japanese lacks id " << id << " \"" << text << "\"";
    }
    for (const auto& [id, text] : japanese) {
        EXPECT_TRUE(english.count(id)) << "English lacks id " << id << " \"" << text << "\"";
    }
}

TEST(StringTable, translationsKeepPlaceholdersInOrder) {
    const auto japanese = asMap(Language::Japanese);
    for (const auto& [id, english] : asMap(Language::English)) {
        const auto found = japanese.find(id);
        if (found == japanese.end()) {
            continue; // reported by bothLanguagesHoldTheSameIds
        }
        const std::string& translated = found->second;
        if (kPlainTextsWithPercent.count(id)) {
            EXPECT_EQ(countOf(english, '%'), countOf(translated, '%')) << "id " << id;
            continue;
        }
        const Conversions ours = parseConversions(english);
        const Conversions theirs = parseConversions(translated);
        EXPECT_TRUE(ours.wellFormed) << "English id " << id << ": stray % in \"" << english << "\"";
        EXPECT_TRUE(theirs.wellFormed)
            << "Japanese id " << id << ": stray % in \"" << translated << "\"";
        EXPECT_EQ(ours.specs, theirs.specs) << "id " << id;
    }
}

TEST(StringTable, translationsKeepTabsAndLineBreaks) {
    // A tab separates a menu label from its shortcut; a line break splits a message box text.
    for (const auto& [id, english] : asMap(Language::English)) {
        const std::string translated = WexLoadString(Language::Japanese, id);
        EXPECT_EQ(countOf(english, '\t'), countOf(translated, '\t')) << "id " << id;
        EXPECT_EQ(countOf(english, '\n'), countOf(translated, '\n')) << "id " << id;
    }
}

TEST(StringTable, everyTextIsValidUtf8AndOnlyProductContactsAreEmpty) {
    for (Language language : {Language::English, Language::Japanese}) {
        for (const StringEntry& entry : StringTable(language)) {
            const std::string text = entry.text;
            EXPECT_TRUE(isValidUtf8(text)) << "id " << entry.id;
            if (entry.id != 52 && entry.id != 53) {
                EXPECT_FALSE(text.empty()) << "id " << entry.id;
            }
        }
    }
}

TEST(StringTable, englishTextsAreTheDocumentedOnes) {
    struct Case {
        int id;
        const char* text;
    };
    const Case cases[] = {
        {4001, "Send NC data"},
        {4009, "Interrupt the send/Receive"},
        {4010, "Send"},
        {4018, "Cancel"},
        {4019, "Selection of the receive file"},
        {4020, "Selection of the send file"},
        {4025, "size"},
        {4034, "Receiving..."},
        {4035, "Sending..."},
        {4036, "Selection of device file"},
        {4038, "Can not open the file"},
        {4039, "Interrupted Send"},
        {4040, "Completed Send"},
        {4050, "New &open...\tCtrl+O"},
        {4052, "Property of machine"},
        {4100, "Open error"},
        {4101, "Open the port number %d specified was not possible\nDo you close setting?"},
        {4103, "Send"},
        {4105, "DC2"},
        {4107, "DC4"},
        {4110, "line feed code"},
        {4111, "user code"},
        {IDS_FAILED_TO_OPEN_DEVICE, "Failed to open the device."},
        {IDS_FMT_WAITING_LINE, "-----> [%s] %s..."},
        {IDS_WAITING_FOR_SIGNAL, "Waiting for a signal"},
        {IDS_SIGNAL_XON, "Xon(DC1)"},
        {IDS_FMT_CLOSING_BYTES, "==== %s [%ld] byte ===="},
        {IDS_FMT_CODE_LINE, "     : [%s] %s..."},
        {IDS_FMT_FILE_PATH, "FILE [ %s ]"},
        {IDS_RECEIVE_TIMEOUT, "Receive TimeOut"},
        {IDS_CHK_DELETE_PERCENT, "Do not print the% of file"},
        {IDS_LBL_DEVICE, "&Device : "},
        {IDS_LBL_SUPPORT_MAIL, "Support mail  : "},
        {IDS_MENU_SEND, "&Send...\tCtrl+O"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(WexLoadString(Language::English, c.id), c.text) << "id " << c.id;
    }
}

TEST(StringTable, choiceListsAreTheDocumentedOnesInEnglish) {
    const std::map<int, std::string> lists = {
        {4130, "COM Port,File,,"},
        {4131, "ISO,EIA,ASCII,,"},
        {4132, "300,600,1200,2400,4800,9600,19200,38400,,"},
        {4133, "7 bit,8 bit,,"},
        {4134, "1 bit,2 bit,,"},
        {4135, "None,Odd,Even,,"},
        {4136, "LF,CR+LF,CR,LF+CR+CR,,"},
        {4137, "None,Only before,Only after,Before and after,,"},
        {4138, "None,Even,Odd,,"},
        {4139, "None,%,,"},
        {4140, "None,%,DC4,%+DC4,,"},
        {4141, "Disable,Skip end of line,Enable,,"},
    };
    for (const auto& [id, text] : lists) {
        EXPECT_EQ(WexLoadString(Language::English, id), text) << "id " << id;
    }
}

TEST(StringTable, choiceListsOfferTheSameChoicesInBothLanguages) {
    // The stored value is an index into the list, so a translation that adds, drops or
    // empties a choice would shift every setting read from a machine file.
    for (int id = 4130; id <= 4141; ++id) {
        const auto english = splitChoices(WexLoadString(Language::English, id));
        const auto japanese = splitChoices(WexLoadString(Language::Japanese, id));
        ASSERT_EQ(english.size(), japanese.size()) << "id " << id;
        ASSERT_GE(japanese.size(), 3u) << "id " << id;
        for (const auto* fields : {&english, &japanese}) {
            EXPECT_EQ((*fields)[fields->size() - 1], "") << "id " << id << " must end in ,,";
            EXPECT_EQ((*fields)[fields->size() - 2], "") << "id " << id << " must end in ,,";
            for (std::size_t k = 0; k + 2 < fields->size(); ++k) {
                EXPECT_FALSE((*fields)[k].empty()) << "id " << id << " choice " << k;
            }
        }
    }
    // Names of codes and numbers are the same in every language.
    for (int id : {4131, 4132, 4136}) {
        EXPECT_STREQ(WexLoadString(Language::Japanese, id), WexLoadString(Language::English, id))
            << "id " << id;
    }
    EXPECT_EQ(splitChoices(WexLoadString(Language::Japanese, 4140))[2], "DC4");
    EXPECT_EQ(splitChoices(WexLoadString(Language::Japanese, 4140))[3], "%+DC4");
}

TEST(StringTable, japaneseIsTranslatedButCodesAreNot) {
    EXPECT_STRNE(WexLoadString(Language::Japanese, 4010), "Send");
    EXPECT_STRNE(WexLoadString(Language::Japanese, IDS_WAITING_FOR_SIGNAL), "Waiting for a signal");
    for (int id : {4105, 4107, IDS_LABEL_DC1, IDS_LABEL_DC3, IDS_SIGNAL_CTS, IDS_SIGNAL_DSR,
                   IDS_SIGNAL_XON, IDS_STATUS_XOFF, IDS_CHK_XON_XOFF}) {
        EXPECT_STREQ(WexLoadString(Language::Japanese, id), WexLoadString(Language::English, id))
            << "id " << id;
    }
}

TEST(StringTable, productVersionNamesThisBuild) {
    EXPECT_STREQ(WexLoadString(Language::English, 51), "Version " CORVANE_VERSION);
    EXPECT_STREQ(WexLoadString(Language::English, 48), "Corvane");
}

TEST(StringLookup, fallsBackToTheSecondTableAndThenToEmpty) {
    const StringEntry wanted[] = {{1, "eins"}, {3, ""}};
    const StringEntry fallback[] = {{1, "one"}, {2, "two"}, {3, "three"}};
    EXPECT_STREQ(lookUpString(wanted, fallback, 1), "eins");
    EXPECT_STREQ(lookUpString(wanted, fallback, 2), "two");
    EXPECT_STREQ(lookUpString(wanted, fallback, 3), ""); // present though empty: no fallback
    EXPECT_STREQ(lookUpString(wanted, fallback, 4), "");
    EXPECT_STREQ(lookUpString({}, {}, 1), "");
}

TEST(StringLookup, unknownIdsGiveAnEmptyTextInEveryLanguage) {
    for (Language language : {Language::English, Language::Japanese}) {
        for (int id : {0, -1, 4004, 4142, 99999}) {
            const char* text = WexLoadString(language, id);
            ASSERT_NE(text, nullptr);
            EXPECT_STREQ(text, "") << "id " << id;
        }
    }
}

TEST(StringLookup, eachLanguageAnswersFromItsOwnTable) {
    const char* english = WexLoadString(Language::English, 4040);
    const char* japanese = WexLoadString(Language::Japanese, 4040);
    EXPECT_STREQ(english, "Completed Send");
    EXPECT_STRNE(japanese, english);
    // Two results stay valid together.
    EXPECT_STREQ(WexLoadString(Language::English, 4040), "Completed Send");
    EXPECT_STREQ(english, "Completed Send");
}
