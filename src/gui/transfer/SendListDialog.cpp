#include "transfer/SendListDialog.h"

#include "support/StringIds.h"
#include "transfer/FileChoice.h"

#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvane {
namespace {

// Shares of the list's width, in percent, per column.
constexpr int ColumnShare[] = {55, 15, 15, 15};

void copyTerminated(std::span<char> target, const char* text) {
    if (target.empty()) {
        return;
    }
    std::size_t length = text ? strnlen(text, target.size()) : 0;
    if (length >= target.size()) {
        return; // does not fit: keep what was there rather than a cut path
    }
    std::memcpy(target.data(), text, length);
    target[length] = '\0';
}

} // namespace

SendListDialog::SendListDialog(const FileChooser& chooser, const char* defDir, const char* defExt,
                               int capacity, QWidget* parent)
    : QDialog(parent), m_chooser(chooser), m_defExt(defExt ? defExt : ""),
      m_capacity(std::clamp(capacity, 0, SendQueueCapacity)) {
    copyTerminated(m_defDir, defDir);
    setObjectName(QStringLiteral("sendListDialog"));
    setProperty("controlId", DialogId);
    setWindowTitle(text(IDS_DLG_SEND_FILE_LIST));
    buildWidgets();
    refresh(true);
}

QString SendListDialog::text(int id) const {
    return QString::fromUtf8(WexLoadString(m_chooser.language, id));
}

void SendListDialog::buildWidgets() {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("fileList"));
    m_list->setProperty("controlId", ListId);
    m_list->setColumnCount(4);
    m_list->setHeaderLabels({text(IDS_COLUMN_NAME), text(IDS_COLUMN_DATE), text(IDS_COLUMN_TIME),
                             text(IDS_COLUMN_SIZE)});
    m_list->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setSortingEnabled(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setAllColumnsShowFocus(true);
    // A long path keeps its beginning and its file name; the tooltip has all of it.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->header()->setSectionsClickable(false);
    m_list->header()->setSectionsMovable(false);
    m_list->header()->setStretchLastSection(false);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &SendListDialog::onSelectionChanged);

    auto makeButton = [this](int textId, const char* name, int controlId) {
        auto* button = new QPushButton(text(textId), this);
        button->setObjectName(QLatin1String(name));
        button->setProperty("controlId", controlId);
        button->setAutoDefault(false);
        return button;
    };
    m_addButton = makeButton(IDS_BTN_ADD, "addButton", AddId);
    m_removeButton = makeButton(IDS_BTN_REMOVE, "removeButton", RemoveId);
    m_upButton = makeButton(IDS_BTN_UP, "upButton", UpId);
    m_downButton = makeButton(IDS_BTN_DOWN, "downButton", DownId);
    m_okButton = makeButton(IDS_BTN_OK, "okButton", OkId);
    m_cancelButton = makeButton(IDS_BTN_CANCEL, "cancelButton", CancelId);
    m_okButton->setDefault(true);

    connect(m_addButton, &QPushButton::clicked, this, &SendListDialog::add);
    connect(m_removeButton, &QPushButton::clicked, this, &SendListDialog::remove);
    connect(m_upButton, &QPushButton::clicked, this, &SendListDialog::moveUp);
    connect(m_downButton, &QPushButton::clicked, this, &SendListDialog::moveDown);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_removeButton);
    buttons->addSpacing(12);
    buttons->addWidget(m_upButton);
    buttons->addWidget(m_downButton);
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    resize(760, 340);
}

void SendListDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitColumns();
    if (!m_openedOnce) {
        // The list starts empty, so the user is taken straight to the file selection; queued
        // so that the dialog is on screen behind it.
        m_openedOnce = true;
        QMetaObject::invokeMethod(this, &SendListDialog::add, Qt::QueuedConnection);
    }
}

bool SendListDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::Resize) {
        fitColumns();
    }
    return QDialog::eventFilter(watched, event);
}

void SendListDialog::fitColumns() {
    const int width = m_list->viewport()->width();
    int used = 0;
    for (int column = 0; column < 4; ++column) {
        // The last column takes the rounding remainder so the row is filled exactly.
        int share = column == 3 ? width - used : width * ColumnShare[column] / 100;
        m_list->setColumnWidth(column, share);
        used += share;
    }
}

QString SendListDialog::columnText(const SendQueueEntry& entry, int column) const {
    if (column == NameColumn) {
        return QFile::decodeName(entry.Name);
    }
    if (column == SizeColumn) {
        return QString::fromStdString(formatListSize(entry.Size));
    }
    std::tm local{};
    if (!localTimeOfFileTime(entry.WriteTime, local)) {
        return QString(); // time unknown: blank rather than a date in 1601
    }
    const std::string shown = column == DateColumn ? formatListDate(m_chooser.language, local)
                                                   : formatListTime(m_chooser.language, local);
    return QString::fromStdString(shown);
}

void SendListDialog::refresh(bool rebuild) {
    if (rebuild) {
        rebuildList();
    }
    updateButtons();
}

void SendListDialog::rebuildList() {
    m_listening = false;
    m_list->clear();
    for (int i = 0; i < m_queue.Count; ++i) {
        const SendQueueEntry& entry = m_queue.Entries[i];
        auto* item = new QTreeWidgetItem(m_list);
        for (int column = 0; column < 4; ++column) {
            item->setText(column, columnText(entry, column));
        }
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(NameColumn, item->text(NameColumn));
    }
    m_selected = m_queue.Count > 0 ? std::clamp(m_selected, 0, m_queue.Count - 1) : -1;
    if (m_selected >= 0) {
        QTreeWidgetItem* item = m_list->topLevelItem(m_selected);
        m_list->setCurrentItem(item);
        item->setSelected(true);
        m_list->scrollToItem(item);
    }
    m_listening = true;
}

void SendListDialog::updateButtons() {
    const bool listed = m_queue.Count > 0;
    m_upButton->setEnabled(listed && m_selected > 0);
    m_downButton->setEnabled(listed && m_selected >= 0 && m_selected < m_queue.Count - 1);
    m_addButton->setEnabled(m_queue.Count < m_capacity);
    m_removeButton->setEnabled(listed);
    m_okButton->setEnabled(listed);
}

void SendListDialog::onSelectionChanged() {
    if (!m_listening) {
        return;
    }
    const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
    if (chosen.isEmpty()) {
        // A click beside the rows would leave nothing marked while Remove, Up and Down still
        // act on the last choice; keep that choice visible instead.
        if (m_selected >= 0 && m_selected < m_queue.Count) {
            m_listening = false;
            m_list->topLevelItem(m_selected)->setSelected(true);
            m_listening = true;
        }
        return;
    }
    m_selected = m_list->indexOfTopLevelItem(chosen.front());
    refresh(false);
}

void SendListDialog::add() {
    if (m_queue.Count < m_capacity) {
        const int chosen = SelectNcFiles(
            m_chooser, this, true, text(IDS_TITLE_SELECT_SEND_FILE), m_defDir, m_defExt.c_str(),
            &m_queue.Entries[m_queue.Count], m_capacity - m_queue.Count);
        if (chosen > 0) {
            m_queue.Count += chosen;
            m_selected = m_queue.Count - 1;
            refresh(true);
        }
    }
    m_list->setFocus();
}

void SendListDialog::remove() {
    if (m_queue.Count > 0 && m_selected >= 0 && m_selected < m_queue.Count) {
        std::move(&m_queue.Entries[m_selected + 1], &m_queue.Entries[m_queue.Count],
                  &m_queue.Entries[m_selected]);
        --m_queue.Count;
        m_queue.Entries[m_queue.Count] = SendQueueEntry{};
        refresh(true); // the index stays; the rebuild clamps it onto the new last entry
    }
    m_list->setFocus();
}

void SendListDialog::moveUp() {
    if (m_selected > 0 && m_selected < m_queue.Count) {
        swapEntries(m_selected, m_selected - 1);
        --m_selected;
        refresh(true);
    }
    m_list->setFocus();
}

void SendListDialog::moveDown() {
    if (m_selected >= 0 && m_selected < m_queue.Count - 1) {
        swapEntries(m_selected, m_selected + 1);
        ++m_selected;
        refresh(true);
    }
    m_list->setFocus();
}

void SendListDialog::swapEntries(int first, int second) {
    std::swap(m_queue.Entries[first], m_queue.Entries[second]);
}

int EditSendList(QWidget* owner, const FileChooser& chooser, std::span<char> defDir,
                 const char* defExt, SendQueue& queue, int capacity) {
    if (capacity <= 0) {
        return -1;
    }
    capacity = std::min(capacity, SendQueueCapacity);
    std::string folder(defDir.data(), strnlen(defDir.data(), defDir.size()));
    SendListDialog dialog(chooser, folder.c_str(), defExt, capacity, owner);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    copyTerminated(defDir, dialog.defDir());
    const SendQueue& listed = dialog.queue();
    if (!confirmed || listed.Count <= 0) {
        return 0;
    }
    std::copy(listed.Entries, listed.Entries + capacity, queue.Entries);
    queue.Count = listed.Count;
    return listed.Count;
}

} // namespace corvane
