#include "settings/ProductStrings.h"

#include <cstdint>

#include "support/PathParts.h"
#include "support/Profile.h"
#include "support/StringIds.h"

namespace corvane {

namespace {

// Cut to the field's size without splitting a multi-byte character, so a long Japanese
// line never ends in half a character.
std::string cutToField(const char* text) {
    std::string value = text != nullptr ? text : "";
    if (value.size() <= ProductStringMax)
        return value;
    size_t end = ProductStringMax;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
        --end;
    value.resize(end);
    return value;
}

} // namespace

std::string OemFilePath(const std::string& executablePath) {
    return WexSplitPath(executablePath, 7) + ".oem";
}

int LoadProductStrings(Language language, const std::string& executablePath,
                       ProductStrings& strings) {
    strings = ProductStrings{};
    const int ids[ProductStringCount] = {IDS_PRODUCT_NAME,  IDS_PRODUCT_NOTICE,
                                         IDS_PRODUCT_MAKER, IDS_PRODUCT_VERSION,
                                         IDS_PRODUCT_MAIL,  IDS_PRODUCT_HOME_PAGE};
    for (int i = 0; i < ProductStringCount; ++i)
        strings.text[i] = cutToField(WexLoadString(language, ids[i]));

    const std::string oem = OemFilePath(executablePath);
    if (!WexPathExists(1, oem.c_str()))
        return 1;
    int32_t code = 0;
    WexGetProfileValue(oem.c_str(), "OemInfo", "ProductCode", ProfileIntegers, &code, 1);
    strings.productCode = code;
    if (code >= 0)
        return 1;

    struct Override {
        const char* key;
        int index;
    };
    constexpr Override overrides[] = {{"CompanyName", ProductMaker},
                                      {"Copyright", ProductNotice},
                                      {"Email", ProductMail},
                                      {"WWW", ProductHomePage}};
    for (const Override& entry : overrides) {
        // Read wider than the field, then cut at a whole character.
        char field[512] = {};
        if (WexGetProfileValue(oem.c_str(), "OemInfo", entry.key, ProfileText, field,
                               sizeof field) != 0)
            strings.text[entry.index] = cutToField(field);
    }
    return 1;
}

} // namespace corvane
