#include "app/HistoryMenus.h"

#include <string>

#include <QAction>
#include <QFontMetrics>
#include <QMenu>

#include "app/CommandIds.h"
#include "support/PathParts.h"
#include "support/StringIds.h"

namespace corvane::gui {
namespace {

// A deep network folder would make the popup as wide as the screen; the middle of the folder
// gives way first, its beginning and the folder the file is in stay readable, and the whole
// path is the item's tooltip.
constexpr int FolderWidthChars = 36;

// '&' in a path is a character, not an access key.
QString escapeAmpersands(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QString folderOf(const char* path) {
    std::string folder = WexSplitPath(path, PathDrive | PathFolder);
    // Without its closing separator, except for the root itself.
    if (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
        !(folder.size() == 3 && folder[1] == ':'))
        folder.pop_back();
    return QString::fromLocal8Bit(folder.c_str());
}

QString itemText(const QMenu& menu, Language language, int index, const char* path) {
    const QFontMetrics metrics(menu.font());
    const QString name = escapeAmpersands(
        QString::fromLocal8Bit(WexSplitPath(path, PathName | PathExtension).c_str()));
    const QString folder = escapeAmpersands(metrics.elidedText(
        folderOf(path), Qt::ElideMiddle, metrics.averageCharWidth() * FolderWidthChars));
    const int number = index < 9 ? index + 1 : 0;
    return QString::asprintf(WexLoadString(language, IDS_FMT_HISTORY_ITEM), number,
                             name.toUtf8().constData(), folder.toUtf8().constData());
}

} // namespace

void fillHistoryMenu(QMenu& menu, HistoryKind kind, const AppConfig& config, Language language,
                     bool enabled) {
    const bool nc = kind == HistoryKind::NcFiles;
    const char(*paths)[HistoryPathSize] = nc ? config.NcFileHistory : config.McnFileHistory;
    const int baseId = nc ? CmdNcHistoryFirst : CmdMachineHistoryFirst;

    menu.clear();
    menu.setToolTipsVisible(true);
    int added = 0;
    for (int index = 0; index < HistorySlots && paths[index][0] != '\0'; ++index) {
        QAction* item = menu.addAction(itemText(menu, language, index, paths[index]));
        item->setData(baseId + index);
        item->setObjectName(QStringLiteral("historyItem%1").arg(baseId + index));
        item->setEnabled(enabled);
        item->setToolTip(QString::fromLocal8Bit(paths[index]));
        ++added;
    }
    if (added > 0)
        menu.addSeparator();
    // Ctrl+O is Send: the machine list's item must not advertise it.
    QString openText = QString::fromUtf8(WexLoadString(language, IDS_MENU_NEW_OPEN));
    if (!nc)
        openText = openText.section(QLatin1Char('\t'), 0, 0);
    QAction* open = menu.addAction(openText);
    open->setData(nc ? int(CmdSend) : int(CmdOpenMachine));
    open->setObjectName(QStringLiteral("historyNewOpen"));
    open->setEnabled(enabled);
}

} // namespace corvane::gui
