#include "support/StringTable.h"

#include "support/StringIds.h"

#include <cstddef>

// The tables live under resources/ so that a translator edits text files, not C++.
namespace corvane {
namespace {

constexpr StringEntry kEnglish[] = {
#include "strings/english.inc"
};

constexpr StringEntry kJapanese[] = {
#include "strings/japanese.inc"
};

// Two entries with one id would make the second unreachable; refuse that at compile time.
constexpr bool idsAreUnique(std::span<const StringEntry> table) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (std::size_t j = i + 1; j < table.size(); ++j) {
            if (table[i].id == table[j].id) {
                return false;
            }
        }
    }
    return true;
}
static_assert(idsAreUnique(kEnglish), "duplicate id in the English string table");
static_assert(idsAreUnique(kJapanese), "duplicate id in the Japanese string table");

const char* findText(std::span<const StringEntry> table, int id) {
    for (const StringEntry& entry : table) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return nullptr;
}

} // namespace

std::span<const StringEntry> StringTable(Language language) {
    if (language == Language::Japanese) {
        return kJapanese;
    }
    return kEnglish;
}

const char* lookUpString(std::span<const StringEntry> wanted, std::span<const StringEntry> fallback,
                         int id) {
    if (const char* text = findText(wanted, id)) {
        return text;
    }
    if (const char* text = findText(fallback, id)) {
        return text;
    }
    return "";
}

const char* WexLoadString(Language language, int id) {
    return lookUpString(StringTable(language), kEnglish, id);
}

} // namespace corvane
