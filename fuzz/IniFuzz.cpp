// The INI reader and the profile reads on any text: every section and key the text names is
// read back as text (into a buffer of the exact size asked for) and as integers, and a value
// written with the profile rules reads back unchanged without disturbing any other key.

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "support/IniFile.h"
#include "support/Profile.h"

using namespace corvane;
using namespace corvane::fuzz;

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

// The section and key names a reader could ask for, taken from the text itself.
std::vector<std::pair<std::string, std::string>> namesIn(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> names;
    std::string section;
    while (!text.empty() && names.size() < 64) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::string body = trimmed(line);
        if (!body.empty() && body.front() == '[') {
            const size_t close = body.find(']');
            section = trimmed(std::string_view(body).substr(
                1, close == std::string::npos ? std::string::npos : close - 1));
        } else if (const size_t eq = line.find('='); eq != std::string_view::npos) {
            names.emplace_back(section, trimmed(line.substr(0, eq)));
        }
    }
    return names;
}

// Reads the key every way the settings do, with destinations of exactly the size given, so
// the address sanitizer sees any byte written past them.
void readEveryWay(const IniFile& ini, const std::string& section, const std::string& key,
                  int textSize, int integerCount) {
    auto text = std::make_unique<char[]>(static_cast<size_t>(textSize));
    std::memset(text.get(), 'x', static_cast<size_t>(textSize));
    // The profile calls take C texts: a name with a NUL in it is asked for up to the NUL.
    const std::optional<std::string> raw = ini.get(section.c_str(), key.c_str());
    const int gotText =
        ProfileGetValue(ini, section.c_str(), key.c_str(), ProfileText, text.get(), textSize);
    FUZZ_CHECK((gotText != 0) == raw.has_value());
    if (gotText) {
        FUZZ_CHECK(raw->find('\n') == std::string::npos);
        const size_t length = strnlen(text.get(), static_cast<size_t>(textSize));
        FUZZ_CHECK(length < static_cast<size_t>(textSize));
        FUZZ_CHECK(std::memcmp(text.get(), raw->data(), length) == 0);
    }
    auto integers = std::make_unique<int32_t[]>(static_cast<size_t>(integerCount));
    ProfileGetValue(ini, section.c_str(), key.c_str(), ProfileIntegers, integers.get(),
                    integerCount);
}

// A name the file format can hold: one line, no '=' in a key, no ']' in a section, and not
// read as a comment or section header.
bool writableKey(const std::string& key) {
    const std::string t = trimmed(key);
    return !t.empty() && t.front() != '[' && t.front() != ';' &&
           key.find_first_of("=\r\n", 0) == std::string::npos &&
           key.find('\0') == std::string::npos;
}
bool writableSection(const std::string& section) {
    return section.find_first_of("]\r\n") == std::string::npos &&
           section.find('\0') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int textSize = 1 + in.byte();
    const int integerCount = 1 + in.below(8);
    std::string newSection = in.text(24);
    std::string newKey = in.text(24);
    const std::string newValue = in.text(64);
    const std::string_view text = in.rest();

    const IniFile ini = IniFile::parse(text);
    const auto names = namesIn(text);
    for (const auto& [section, key] : names)
        readEveryWay(ini, section, key, textSize, integerCount);
    readEveryWay(ini, newSection, newKey, textSize, integerCount);

    // What was read must read the same after the document went through its own text.
    const IniFile again = IniFile::parse(ini.text());
    FUZZ_CHECK(again.text() == ini.text());
    for (const auto& [section, key] : names)
        FUZZ_CHECK(again.get(section, key) == ini.get(section, key));

    // A write that the format can hold reads back exactly and leaves every other key alone.
    if (!names.empty() && (data[0] & 0x80)) {
        const auto& pick = names[data[0] % names.size()];
        newSection = pick.first;
        newKey = pick.second;
    }
    const bool plainValue = newValue.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
    if (writableSection(newSection) && writableKey(newKey) && plainValue) {
        IniFile edited = ini;
        ProfileSetValue(edited, newSection.c_str(), newKey.c_str(), ProfileText, newValue.c_str(),
                        0);
        const IniFile reread = IniFile::parse(edited.text());
        for (const IniFile* doc : {static_cast<const IniFile*>(&edited), &reread}) {
            char back[128];
            FUZZ_CHECK(ProfileGetValue(*doc, newSection.c_str(), newKey.c_str(), ProfileText, back,
                                       sizeof back) != 0);
            FUZZ_CHECK(back == newValue);
            for (const auto& [section, key] : names) {
                const IniFile probe =
                    IniFile::parse("[" + trimmed(section) + "]\n" + trimmed(key) + "=\n");
                const bool same = probe.get(newSection, newKey).has_value();
                if (!same)
                    FUZZ_CHECK(doc->get(section, key) == ini.get(section, key));
            }
        }
    }
    return 0;
}
