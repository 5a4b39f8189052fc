#pragma once
// A Japanese face that can be drawn bold. Japanese glyphs in a bold text come from another
// font than its Latin ones; the one fontconfig falls back to may be fixed-pitch with a regular
// face only (IPAGothic), which Qt does not embolden, so the Japanese words of a bold line
// would turn light. A proportional Japanese family is emboldened where it has no bold face.

#include <QFont>
#include <QString>

namespace corvane {

// The first proportional family that writes Japanese; empty when there is none.
QString boldCapableJapaneseFamily();

// `font` with that family named after its own (resolved) face, for its Japanese glyphs.
QFont withBoldJapanese(const QFont& font);

} // namespace corvane
