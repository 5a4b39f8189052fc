#include "display/HostText.h"

#include <QByteArrayView>
#include <QStringDecoder>

namespace corvane {

QString textFromHost(std::string_view bytes) {
    const QByteArrayView view(bytes.data(), qsizetype(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(view);
    if (!utf8.hasError()) {
        return text;
    }
    return QString::fromLatin1(view);
}

QString leftCharacters(const QString& text, int count) {
    if (count <= 0) {
        return QString();
    }
    if (text.size() <= count) {
        return text;
    }
    int cut = count;
    if (text.at(cut - 1).isHighSurrogate()) {
        --cut;
    }
    return text.left(cut);
}

} // namespace corvane
