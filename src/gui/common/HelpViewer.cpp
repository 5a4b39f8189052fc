#include "common/HelpViewer.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QString>
#include <QUrl>

#include "app/HelpLocation.h"
#include "support/PathParts.h"
#include "support/StringIds.h"

namespace corvane::gui {

namespace {

bool fileExists(const std::string& path) {
    return WexPathExists(1, path.c_str()) != 0;
}

} // namespace

int WexShowHelp(const std::string& helpFilePath, int command, int topic, const ManualOpener& open) {
    if (helpFilePath.empty() || !fileExists(helpFilePath))
        return 0;
    // Each topic has a page of its own: a desktop that drops the anchor of a local file still
    // shows the right subject.
    const std::string target =
        command == HelpTopic ? HelpTopicTarget(helpFilePath, topic, fileExists) : helpFilePath;
    const size_t hash = target.find('#');
    QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(target.substr(0, hash).c_str()));
    if (hash != std::string::npos)
        url.setFragment(QString::fromStdString(target.substr(hash + 1)));
    const bool opened = open ? open(url) : QDesktopServices::openUrl(url);
    return opened ? 1 : -1;
}

void TellManualNotShown(QWidget* parent, const QString& title, Language language,
                        const std::string& helpFilePath, int shown) {
    if (shown == 1)
        return;
    QString text = QString::fromUtf8(
        WexLoadString(language, shown == 0 ? IDS_HELP_NOT_INSTALLED : IDS_HELP_NOT_OPENED));
    if (!helpFilePath.empty())
        text += QStringLiteral("\n\n") + QString::fromLocal8Bit(helpFilePath.c_str());
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("helpNotShownBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace corvane::gui
