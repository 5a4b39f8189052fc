#pragma once
// Profile values: typed reads and writes of single INI keys.
// kind 1: text into a buffer of `count` bytes (cut with its terminator).
// kind 2: `count` 32-bit integers, written separated by ";", read with "," or ";" between them.
// A missing file or key leaves the destination untouched.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

class IniFile;

enum ProfileKind : int { ProfileText = 1, ProfileIntegers = 2 };

// Non-zero when the key was found and stored into `dest`.
int WexGetProfileValue(const char* path, const char* section, const char* key, int kind, void* dest,
                       int count);
// Creates file, section and key as needed; 0 on failure.
int WexSetProfileValue(const char* path, const char* section, const char* key, int kind,
                       const void* source, int count);

// The same rules on a document already in memory, for callers that read or write whole
// files at once (one load, one atomic save).
int ProfileGetValue(const IniFile& ini, const char* section, const char* key, int kind, void* dest,
                    int count);
void ProfileSetValue(IniFile& ini, const char* section, const char* key, int kind,
                     const void* source, int count);

// The integer of a value text as atoi reads it: leading blanks, a sign, digits; the first other
// character ends it; no digits give 0. Values beyond 32 bits are held at the nearest limit.
int32_t ProfileParseInt(std::string_view text);

// The text to store so that reading it back gives exactly `value`: plain, unless blanks at
// either end or a pair of enclosing quotes would be lost on reading; then in double quotes.
std::string ProfileQuoteText(std::string_view value);

} // namespace corvane
