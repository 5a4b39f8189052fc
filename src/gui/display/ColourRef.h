#pragma once
// The settings keep colours as 0x00BBGGRR (red in the low byte) because the .cfg files carry
// them that way; painting wants QColor. These two keep the byte order in one place.

#include <QColor>

#include "settings/AppConfig.h"

namespace corvane {

inline QColor qColorFromRef(Colour ref) {
    return QColor(int(ref & 0xFF), int((ref >> 8) & 0xFF), int((ref >> 16) & 0xFF));
}

inline Colour refFromQColor(const QColor& colour) {
    return Colour(colour.red()) | (Colour(colour.green()) << 8) | (Colour(colour.blue()) << 16);
}

} // namespace corvane
