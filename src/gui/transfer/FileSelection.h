#pragma once
// Choosing NC files with the file dialog. The dialog itself is a function object, so a test
// (or a caller that already knows the files) answers it without a modal window; everything
// around it lives in core/transfer/FileSelection.h.

#include "support/StringTable.h"
#include "transfer/TransferState.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <span>
#include <string>

class QWidget;

namespace corvane {

struct MachineDef;

// What the file dialog is asked for.
struct FileDialogRequest {
    bool open = true;      // choose existing files; false: name one file to write
    bool multiple = false; // several files at once (open only)
    QString title;
    QString folder;          // empty: the dialog's own choice
    QStringList nameFilters; // Qt form, "NC file (*.nc *.NC)"; the first one is selected
    QString defaultSuffix;   // appended to a typed name without extension (save only)
};

// Shows the dialog and returns the chosen paths, absolute; empty when cancelled.
using FileDialogRunner = std::function<QStringList(QWidget* owner, const FileDialogRequest&)>;

// The real one: a modal QFileDialog. Save mode asks before it overwrites a file.
QStringList runFileDialog(QWidget* owner, const FileDialogRequest& request);

// The language of the texts and the dialog to show.
struct FileChooser {
    Language language = Language::English;
    FileDialogRunner run = runFileDialog;
};

// The filters in the form QFileDialog takes.
QStringList qtNameFilters(Language language, const char* defExt);

// Lets the user choose files and fills entries[0..] with them. open: existing files, several
// at a time when capacity > 1; otherwise one file to save into (it need not exist; its entry
// then has size and time 0). The first entry is cleared even when nothing is chosen. Files
// beyond `capacity` are dropped. `defDir` is where the dialog opens and afterwards holds the
// chosen file's folder. Returns the number of entries filled, 0 when cancelled.
int SelectNcFiles(const FileChooser& chooser, QWidget* owner, bool open, const QString& title,
                  std::span<char> defDir, const char* defExt, SendQueueEntry* entries,
                  int capacity);

// The device file that stands in for the port: an existing file to read when receiving,
// a file to write (overwrite asked) when sending. Uses and updates the machine's DefDir.
// False when cancelled.
bool selectDeviceFile(const FileChooser& chooser, QWidget* owner, bool receive, MachineDef& machine,
                      std::string& path);

} // namespace corvane
