#include "restart/RestartPlace.h"

#include <cctype>

namespace corvane {

namespace {

// Digits only, no sign, no more than nine of them (a long on every platform).
bool readNumber(const std::string& text, size_t& i, long& value) {
    const size_t start = i;
    value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && i - start < 9)
        value = value * 10 + (text[i++] - '0');
    return i > start && (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i])));
}

} // namespace

bool ParseRestartPlace(const std::string& text, RestartPlace& place) {
    if (text.size() < 2)
        return false;
    RestartPlace parsed;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (letter == 'T')
        parsed.kind = RestartPlace::Kind::Tool;
    else if (letter == 'N')
        parsed.kind = RestartPlace::Kind::Block;
    else if (letter == 'L')
        parsed.kind = RestartPlace::Kind::Line;
    else
        return false;
    size_t i = 1;
    if (!readNumber(text, i, parsed.number))
        return false;
    if (i < text.size()) {
        if (parsed.kind != RestartPlace::Kind::Tool || text[i] != ':')
            return false;
        ++i;
        if (!readNumber(text, i, parsed.occurrence) || i != text.size() || parsed.occurrence < 1)
            return false;
    }
    if (parsed.kind != RestartPlace::Kind::Block && parsed.number < 1 &&
        parsed.kind == RestartPlace::Kind::Line)
        return false;
    parsed.text = std::string(1, letter) + text.substr(1);
    place = parsed;
    return true;
}

} // namespace corvane
