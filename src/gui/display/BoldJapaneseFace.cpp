#include "display/BoldJapaneseFace.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace corvane {

QString boldCapableJapaneseFamily() {
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese))
        if (!QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family))
            return family;
    return QString();
}

QFont withBoldJapanese(const QFont& font) {
    const QString japanese = boldCapableJapaneseFamily();
    if (japanese.isEmpty())
        return font;
    QFont result = font;
    result.setFamilies({QFontInfo(font).family(), japanese});
    return result;
}

} // namespace corvane
