#include "support/Profile.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "support/IniFile.h"

namespace corvane {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool trimmedEmpty(const char* text) {
    for (; *text; ++text) {
        if (!isBlank(*text)) {
            return false;
        }
    }
    return true;
}

bool isListSeparator(char c) {
    return c == ',' || c == ';';
}

} // namespace

int32_t ProfileParseInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range, so no input can
    // overflow; the result is then held at the limit, as the platform's atoi does.
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= INT64_C(0x100000000)) {
            magnitude = magnitude * 10 + (text[i] - '0');
        }
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

std::string ProfileQuoteText(std::string_view value) {
    bool needQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                           (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    if (!needQuotes) {
        return std::string(value);
    }
    return "\"" + std::string(value) + "\"";
}

int ProfileGetValue(const IniFile& ini, const char* section, const char* key, int kind, void* dest,
                    int count) {
    if (!section || !key || !dest || count < 1 ||
        (kind != ProfileText && kind != ProfileIntegers)) {
        return 0;
    }
    std::optional<std::string> value = ini.get(section, key);
    if (!value) {
        return 0;
    }
    if (kind == ProfileText) {
        size_t n = std::min(value->size(), static_cast<size_t>(count) - 1);
        char* out = static_cast<char*>(dest);
        std::memcpy(out, value->data(), n);
        out[n] = '\0';
        return 1;
    }

    int32_t* out = static_cast<int32_t*>(dest);
    std::string_view text = *value;
    if (text.empty()) {
        // An empty list stands for all zeros, as the settings tables have always read it.
        for (int i = 0; i < count; ++i) {
            out[i] = 0;
        }
        return 1;
    }
    int index = 0;
    size_t start = 0;
    while (index < count) {
        size_t end = start;
        while (end < text.size() && !isListSeparator(text[end])) {
            ++end;
        }
        out[index++] = ProfileParseInt(text.substr(start, end - start));
        if (end >= text.size()) {
            break;
        }
        start = end + 1;
    }
    return 1;
}

void ProfileSetValue(IniFile& ini, const char* section, const char* key, int kind,
                     const void* source, int count) {
    if (!section || !key || !source || count < 0) {
        return;
    }
    if (kind == ProfileText) {
        const char* text = static_cast<const char*>(source);
        size_t length = count > 0 ? strnlen(text, static_cast<size_t>(count)) : std::strlen(text);
        ini.set(section, key, ProfileQuoteText(std::string_view(text, length)));
    } else if (kind == ProfileIntegers) {
        const int32_t* values = static_cast<const int32_t*>(source);
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                text += ';';
            }
            text += std::to_string(values[i]);
        }
        ini.set(section, key, text);
    }
}

int WexGetProfileValue(const char* path, const char* section, const char* key, int kind, void* dest,
                       int count) {
    if (!path) {
        return 0;
    }
    IniError error;
    IniFile ini = IniFile::load(path, &error);
    if (error || !ini.exists()) {
        return 0;
    }
    return ProfileGetValue(ini, section, key, kind, dest, count);
}

int WexSetProfileValue(const char* path, const char* section, const char* key, int kind,
                       const void* source, int count) {
    if (!path || !*path || !section || !key || trimmedEmpty(key) || !source || count < 0 ||
        (kind != ProfileText && kind != ProfileIntegers)) {
        return 0;
    }
    IniError error;
    IniFile ini = IniFile::load(path, &error);
    if (error) {
        // A file that exists but cannot be read must not be replaced by one holding a
        // single key.
        return 0;
    }
    ProfileSetValue(ini, section, key, kind, source, count);
    return ini.save(path) ? 0 : 1;
}

} // namespace corvane
