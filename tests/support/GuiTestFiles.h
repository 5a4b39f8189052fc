#pragma once
// Files and screenshots in the window tests.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>
#include <QWidget>

namespace corvane::testing {

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The file's bytes; "<missing>" when it cannot be read, so a comparison shows why.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Writes `name`.png into the build's screenshot folder (CORVANE_SCREENSHOT_DIR).
inline void saveScreenshot(QWidget& window, const QString& name) {
    QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
    QVERIFY(window.grab().save(QStringLiteral(CORVANE_SCREENSHOT_DIR "/%1.png").arg(name)));
}

} // namespace corvane::testing
