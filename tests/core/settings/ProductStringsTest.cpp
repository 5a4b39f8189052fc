// The product strings: the string table's texts, and the branding file beside the executable
// that may replace the maker, notice, mail and home page lines.

#include <gtest/gtest.h>

#include <string>

#include "SettingsFiles.h"
#include "settings/ProductStrings.h"
#include "support/StringTable.h"

namespace corvane::test {
namespace {

class ProductStringsTest : public ::testing::Test {
protected:
    std::string executable() const { return folder.file("corvane"); }
    void brand(const std::string& text) { writeFile(folder.file("corvane.oem"), text); }

    ProductStrings load(Language language = Language::English) {
        ProductStrings strings;
        EXPECT_EQ(LoadProductStrings(language, executable(), strings), 1);
        return strings;
    }

    TempFolder folder;
};

TEST_F(ProductStringsTest, withoutABrandingFileTheTableTextsStand) {
    for (Language language : {Language::English, Language::Japanese}) {
        const ProductStrings strings = load(language);
        const int ids[] = {48, 49, 50, 51, 52, 53};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(strings.text[i], WexLoadString(language, ids[i])) << i;
        EXPECT_EQ(strings.text[0], "Corvane");
    }
}

TEST_F(ProductStringsTest, brandingFileByItsProductCode) {
    const ProductStrings table = load();
    struct Case {
        const char* what;
        std::string file;
        std::string notice, maker, mail, home;
    };
    const Case cases[] = {
        {"code 0 changes nothing",
         "[OemInfo]\nProductCode=0\nCompanyName=Acme\nCopyright=(C) Acme\nEmail=a@b\nWWW=w\n",
         table.text[1], table.text[2], table.text[4], table.text[5]},
        {"a positive code changes nothing", "[OemInfo]\nProductCode=7\nCompanyName=Acme\n",
         table.text[1], table.text[2], table.text[4], table.text[5]},
        {"code -1 with only WWW changes only the home page",
         "[OemInfo]\nProductCode=-1\nWWW=https://acme.example/\n", table.text[1], table.text[2],
         table.text[4], "https://acme.example/"},
        {"code -1 with every key",
         "[oeminfo]\nproductcode=-1\nCompanyName=Acme Machine Tools\nCopyright=(C) 2026 Acme\n"
         "Email=dnc@acme.example\nWWW=https://acme.example/\n",
         "(C) 2026 Acme", "Acme Machine Tools", "dnc@acme.example", "https://acme.example/"},
        {"an empty value is a value", "[OemInfo]\nProductCode=-1\nEmail=\n", table.text[1],
         table.text[2], "", table.text[5]},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        brand(c.file);
        const ProductStrings strings = load();
        EXPECT_EQ(strings.text[1], c.notice);
        EXPECT_EQ(strings.text[2], c.maker);
        EXPECT_EQ(strings.text[4], c.mail);
        EXPECT_EQ(strings.text[5], c.home);
        // The name and the version are never the branding file's.
        EXPECT_EQ(strings.text[0], table.text[0]);
        EXPECT_EQ(strings.text[3], table.text[3]);
    }
}

TEST_F(ProductStringsTest, longLinesAreCutAtAWholeCharacter) {
    // 78 ASCII characters, then a three-byte character that would end at byte 81.
    const std::string maker = std::string(78, 'M') + "\xE5\xB7\xA5"
                                                     "ABC";
    brand("[OemInfo]\nProductCode=-1\nCompanyName=" + maker + "\nWWW=" + std::string(200, 'w') +
          "\n");
    const ProductStrings strings = load();
    EXPECT_EQ(strings.text[2], std::string(78, 'M'));
    EXPECT_EQ(strings.text[5], std::string(79, 'w'));
}

TEST_F(ProductStringsTest, brandingFileIsNamedAfterTheExecutable) {
    EXPECT_EQ(OemFilePath("/opt/corvane/bin/corvane"), "/opt/corvane/bin/corvane.oem");
    EXPECT_EQ(OemFilePath("/opt/shop.tools/corvane.bin"), "/opt/shop.tools/corvane.oem");
}

} // namespace
} // namespace corvane::test
