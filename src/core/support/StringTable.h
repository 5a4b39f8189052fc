#pragma once
// The user-visible texts by id, in English and Japanese. Ids are those of the original
// resource script, so every caller names a text by the number the documentation uses.

#include <cstdint>
#include <span>

namespace corvane {

enum class Language { English, Japanese };

struct StringEntry {
    int id;
    const char* text; // UTF-8
};

std::span<const StringEntry> StringTable(Language language);

// The text of `id` in `language`; English when the language lacks it; "" when neither has it.
const char* WexLoadString(Language language, int id);

// The lookup behind WexLoadString, on any two tables: `id` from `wanted`, else from
// `fallback`, else "".
const char* lookUpString(std::span<const StringEntry> wanted, std::span<const StringEntry> fallback,
                         int id);

} // namespace corvane
