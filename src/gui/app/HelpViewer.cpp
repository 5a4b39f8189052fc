#include "app/HelpViewer.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "support/PathParts.h"

namespace corvane::gui {

int WexShowHelp(const std::string& helpFilePath, int command, int topic) {
    if (helpFilePath.empty() || WexPathExists(1, helpFilePath.c_str()) == 0)
        return 0;
    QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(helpFilePath.c_str()));
    if (command == HelpTopic)
        url.setFragment(QStringLiteral("topic-%1").arg(topic));
    QDesktopServices::openUrl(url);
    return 1;
}

} // namespace corvane::gui
