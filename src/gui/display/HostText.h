#pragma once
// Texts reach the window from the engines as bytes: the string table's own texts are UTF-8,
// while echoed NC data may be in any 8-bit encoding. Both must show without loss or
// replacement characters.

#include <QString>
#include <string_view>

namespace corvane {

// UTF-8 when the bytes are valid UTF-8, otherwise Latin-1 (every byte stays one character).
QString textFromHost(std::string_view bytes);

// At most `count` characters of `text`, never splitting a surrogate pair.
QString leftCharacters(const QString& text, int count);

} // namespace corvane
