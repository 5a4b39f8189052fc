// Files dropped on the frame window: machine files become the current machine, NC files are
// sent at once. The decisions are made in TakeDroppedFiles; this is only the window's side.

#include "app/FrameWindow.h"

#include <string>
#include <vector>

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "app/CommandIds.h"
#include "app/DroppedFiles.h"

namespace corvane::gui {
namespace {

std::vector<std::string> localFiles(const QMimeData* data) {
    std::vector<std::string> names;
    if (data == nullptr || !data->hasUrls())
        return names;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            names.push_back(url.toLocalFile().toLocal8Bit().toStdString());
    }
    return names;
}

} // namespace

// While a transfer runs a drop is refused, and the cursor says so before the button is let go.
void FrameWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (m_state.transfer.TransferBusy || m_closePending || localFiles(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void FrameWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (m_state.transfer.TransferBusy || m_closePending) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void FrameWindow::dropEvent(QDropEvent* event) {
    if (m_state.transfer.TransferBusy || m_closePending) {
        event->ignore();
        return;
    }
    const std::vector<std::string> names = localFiles(event->mimeData());
    event->acceptProposedAction();
    activateWindow();
    raise();

    const DropResult result =
        TakeDroppedFiles(names, m_state.config, m_state.machine, m_state.queue);
    // The send runs once the drop is over: a whole transfer inside the drop would keep the
    // file manager waiting for the drop to finish until the last block has gone out.
    if (result.queued > 0)
        QTimer::singleShot(0, this, [this] { dispatchCommand(CmdQueueSend); });
}

} // namespace corvane::gui
