#include "transfer/FileSelection.h"

#include "settings/MachineDef.h"
#include "support/StringIds.h"
#include "transfer/FileChoice.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QVariant>

#include <cstring>
#include <vector>

namespace corvane {

namespace {

// Where the size of the last file dialog is kept: on the program's outermost window, so it
// lasts for the run and every dialog of the program (the sheet's as well) shares it.
constexpr const char* RememberedSizeProperty = "corvaneFileDialogSize";

QWidget* outermost(QWidget* widget) {
    while (widget != nullptr && widget->parentWidget() != nullptr)
        widget = widget->parentWidget();
    return widget;
}

// Wide enough for the name, size, type and date columns, high enough for a dozen files, and
// never beyond the screen; a size the user gave a dialog before wins.
QSize fileDialogSize(const QFileDialog& dialog, QWidget* owner) {
    if (QWidget* top = outermost(owner)) {
        const QSize remembered = top->property(RememberedSizeProperty).toSize();
        if (remembered.isValid())
            return remembered;
    }
    const int unit = dialog.fontMetrics().averageCharWidth();
    const int line = dialog.fontMetrics().height();
    QSize size = dialog.sizeHint().expandedTo(QSize(120 * unit, 34 * line));
    if (const QScreen* screen = owner != nullptr ? owner->screen() : dialog.screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    return size;
}

// The detail view gives the name column a fixed share and cuts size, type and date at any
// width: they get the room their text needs, and the name whatever is left.
void fitColumnsToWidth(QFileDialog& dialog) {
    auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (tree == nullptr)
        return; // the desktop's own dialog sizes its columns itself
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
}

} // namespace

QStringList runFileDialog(QWidget* owner, const FileDialogRequest& request) {
    QFileDialog dialog(owner, request.title, request.folder);
    dialog.resize(fileDialogSize(dialog, owner));
    fitColumnsToWidth(dialog);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty()) {
        dialog.selectNameFilter(request.nameFilters.front());
    }
    if (request.open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles
                                            : QFileDialog::ExistingFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    }
    const int result = dialog.exec();
    if (QWidget* top = outermost(owner))
        top->setProperty(RememberedSizeProperty, dialog.size());
    if (result != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

QStringList qtNameFilters(Language language, const char* defExt) {
    QStringList filters;
    for (const NameFilter& filter : ncFileFilters(language, defExt)) {
        QStringList patterns;
        for (const std::string& pattern : filter.patterns) {
            patterns << QString::fromStdString(pattern);
        }
        filters << QStringLiteral("%1 (%2)").arg(QString::fromStdString(filter.label),
                                                 patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

int SelectNcFiles(const FileChooser& chooser, QWidget* owner, bool open, const QString& title,
                  std::span<char> defDir, const char* defExt, SendQueueEntry* entries,
                  int capacity) {
    if (entries == nullptr || capacity <= 0) {
        return 0;
    }
    entries[0] = SendQueueEntry{};
    if (!chooser.run) {
        return 0;
    }

    FileDialogRequest request;
    request.open = open;
    request.multiple = open && capacity > 1;
    request.title = title;
    if (!defDir.empty() && defDir.front() != '\0') {
        request.folder = QFile::decodeName(QByteArray(
            defDir.data(), static_cast<qsizetype>(strnlen(defDir.data(), defDir.size()))));
    }
    request.nameFilters = qtNameFilters(chooser.language, defExt);
    if (defaultExtensionIsUsable(defExt)) {
        request.defaultSuffix = QFile::decodeName(defExt);
    }

    const QStringList paths = chooser.run(owner, request);
    std::vector<ChosenFile> files;
    for (const QString& path : paths) {
        files.push_back(lookUpChosenFile(QFile::encodeName(path).toStdString()));
    }
    // More files than there is room for: the rest are dropped without a message.
    int filled = fillSendEntries(files, entries, capacity);
    if (filled > 0) {
        rememberFolder(defDir, entries[0].Name);
    }
    return filled;
}

bool selectDeviceFile(const FileChooser& chooser, QWidget* owner, bool receive, MachineDef& machine,
                      std::string& path) {
    SendQueueEntry entry;
    const QString title =
        QString::fromUtf8(WexLoadString(chooser.language, IDS_TITLE_SELECT_DEVICE_FILE));
    if (SelectNcFiles(chooser, owner, receive, title, machine.config.DefDir, machine.config.DefExt,
                      &entry, 1) != 1) {
        return false;
    }
    path = entry.Name;
    return true;
}

} // namespace corvane
