#pragma once
// The blanks of a program line as comparisons see them: spaces, tabs and the CR of a CR LF.

#include <string_view>

namespace corvane {

inline bool isLineBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

inline std::string_view trimLineBlanks(std::string_view text) {
    while (!text.empty() && isLineBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isLineBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

} // namespace corvane
