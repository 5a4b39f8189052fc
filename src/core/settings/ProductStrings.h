#pragma once
// The six texts that name the product in titles, message boxes and the about box: the string
// table's, with the maker, notice, mail and home page lines of a branding file beside the
// executable (an INI "<exe stem>.oem", section "OemInfo") when its ProductCode is negative.

#include <string>

#include "support/StringTable.h"

namespace corvane {

enum ProductStringIndex : int {
    ProductName = 0,
    ProductNotice = 1,
    ProductMaker = 2,
    ProductVersion = 3,
    ProductMail = 4,
    ProductHomePage = 5,
};

constexpr int ProductStringCount = 6;
// Each text holds at most this many bytes (cut at a whole UTF-8 character).
constexpr size_t ProductStringMax = 79;

struct ProductStrings {
    std::string text[ProductStringCount];
    int productCode = 0;

    const char* operator[](int index) const { return text[index].c_str(); }
};

// The branding file that belongs to `executablePath`: the same path with ".oem" in place of
// its extension.
std::string OemFilePath(const std::string& executablePath);

// Fills `strings` from the table in `language`, then from the branding file of
// `executablePath` when one exists. Returns 1.
int LoadProductStrings(Language language, const std::string& executablePath,
                       ProductStrings& strings);

} // namespace corvane
