#pragma once
// The "Send file list" dialog: files are added, removed and put in order before a send.
// It works on its own queue, which always starts empty, and the caller takes that queue
// only when the user confirms, so a cancelled dialog leaves the program's queue as it was.

#include "transfer/FileSelection.h"

#include "settings/MachineDef.h"
#include "transfer/TransferState.h"

#include <QDialog>

#include <span>
#include <string>

class QPushButton;
class QTreeWidget;

namespace corvane {

class SendListDialog : public QDialog {
    Q_OBJECT

public:
    // Control ids of the dialog, kept on the widgets as the "controlId" property.
    static constexpr int DialogId = 2006;
    static constexpr int ListId = 2400;
    static constexpr int AddId = 2401;
    static constexpr int RemoveId = 2402;
    static constexpr int UpId = 2403;
    static constexpr int DownId = 2404;
    static constexpr int OkId = 1;
    static constexpr int CancelId = 2;

    enum Column { NameColumn = 0, DateColumn, TimeColumn, SizeColumn };

    // `capacity` is clamped to the queue's 32 entries.
    SendListDialog(const FileChooser& chooser, const char* defDir, const char* defExt, int capacity,
                   QWidget* parent = nullptr);

    // The list as it stands; Count is the number of files listed.
    const SendQueue& queue() const { return m_queue; }
    // The folder of the files chosen last (where the next file dialog opens).
    const char* defDir() const { return m_defDir; }
    // The selected entry, -1 when the list is empty.
    int selection() const { return m_selected; }

    void add();
    void remove();
    void moveUp();
    void moveDown();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void refresh(bool rebuild);
    void rebuildList();
    void updateButtons();
    void onSelectionChanged();
    void swapEntries(int first, int second);
    void fitColumns();
    QString columnText(const SendQueueEntry& entry, int column) const;
    QString text(int id) const;

    FileChooser m_chooser;
    char m_defDir[sizeof MachineConfig::DefDir] = {};
    std::string m_defExt;
    int m_capacity = 0;
    SendQueue m_queue;
    int m_selected = 0;
    bool m_listening = true; // off while the list is refilled: its own signals are not choices
    bool m_openedOnce = false;

    QTreeWidget* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_upButton = nullptr;
    QPushButton* m_downButton = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

// Runs the dialog modally. On OK the listed files replace the first `capacity` entries of
// `queue` and its Count, and the number listed is returned; Cancel returns 0 and leaves
// `queue` untouched; -1 when capacity <= 0. `defDir` takes the folder of the files chosen
// last either way (the choice of folder is not undone by a cancel).
int EditSendList(QWidget* owner, const FileChooser& chooser, std::span<char> defDir,
                 const char* defExt, SendQueue& queue, int capacity = SendQueueCapacity);

} // namespace corvane
