#include "display/FixedFont.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace corvane {

namespace {
// Small enough for 80 columns in a modest window, large enough to read from the machine.
constexpr int FallbackPointSize = 10;
} // namespace

QFont fixedPitchFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(font).fixedPitch()) {
        // Some minimal desktops report a proportional face here; let fontconfig pick one.
        font = QFont(QStringLiteral("monospace"));
        font.setStyleHint(QFont::TypeWriter);
    }
    font.setFixedPitch(true);
    if (font.pointSize() <= 0 && font.pixelSize() <= 0) {
        font.setPointSize(FallbackPointSize);
    }
    font.setStyleStrategy(QFont::PreferAntialias);
    // The face itself rather than an alias such as "monospace": with an alias the blanks next
    // to Japanese words are set in the Japanese font's width, and the columns slip.
    font.setFamily(QFontInfo(font).family());
    return font;
}

} // namespace corvane
