#pragma once
// Small helpers the dialog tests share: finding a widget by name, clicking it, saving a
// screenshot, and file questions for a frame whose test asks none.

#include <string>

#include <QDir>
#include <QPushButton>
#include <QString>
#include <QTest>
#include <QWidget>

#include "app/FileQuestions.h"

namespace corvane::gui {

template <typename T = QWidget> T* widget(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(QLatin1String(name));
    if (found == nullptr)
        qFatal("no widget named %s", name);
    return found;
}

inline void click(QWidget& parent, const char* name) {
    QWidget* target = widget(parent, name);
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, target->rect().center());
}

inline void saveScreenshot(QWidget& window, const QString& file) {
    const QString dir = QStringLiteral(CORVANE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    window.grab().save(dir + QLatin1Char('/') + file);
}

// Answers every file question with "cancelled", except the device file a send asks for.
class NoFileQuestions : public FileQuestions {
public:
    QString deviceFile;

    int selectNcFiles(QWidget*, bool, const QString&, MachineDef&, SendQueueEntry*, int) override {
        return 0;
    }
    int editSendList(QWidget*, MachineDef&, SendQueue&) override { return 0; }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string& path) override {
        if (deviceFile.isEmpty())
            return false;
        path = deviceFile.toStdString();
        return true;
    }
};

} // namespace corvane::gui
