#include "app/FileQuestions.h"
#include "transfer/RestartDialog.h"

#include <span>

#include "settings/MachineDef.h"
#include "transfer/FileSelection.h"
#include "transfer/SendListDialog.h"
#include "transfer/TransferState.h"

namespace corvane::gui {

int DialogFileQuestions::selectNcFiles(QWidget* parent, bool open, const QString& title,
                                       MachineDef& machine, SendQueueEntry* entries, int capacity) {
    const FileChooser chooser{m_language, runFileDialog};
    return SelectNcFiles(chooser, parent, open, title, std::span<char>(machine.config.DefDir),
                         machine.config.DefExt, entries, capacity);
}

int DialogFileQuestions::editSendList(QWidget* parent, MachineDef& machine, SendQueue& queue) {
    const FileChooser chooser{m_language, runFileDialog};
    return EditSendList(parent, chooser, std::span<char>(machine.config.DefDir),
                        machine.config.DefExt, queue, SendQueueCapacity);
}

bool DialogFileQuestions::selectDeviceFile(QWidget* parent, bool receive, MachineDef& machine,
                                           std::string& path) {
    const FileChooser chooser{m_language, runFileDialog};
    return corvane::selectDeviceFile(chooser, parent, receive, machine, path);
}

bool DialogFileQuestions::chooseRestart(QWidget* parent, const std::string& program,
                                        std::string& where) {
    RestartDialog dialog(program, m_language, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    where = dialog.place();
    return true;
}

} // namespace corvane::gui
