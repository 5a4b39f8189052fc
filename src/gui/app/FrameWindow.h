#pragma once
// The program's only top-level window: menu, tool bar, progress bar, log pane and status bar,
// and the one place where every command ends up.
//
// Principles of operation: a send or receive runs to its end inside the command that started
// it, on this thread. While it runs the engine pumps the event queue, so this window is
// re-entered: dispatchCommand refuses everything then except Interrupt and Exit, which only
// leave a request in InterruptRequest for the engine to see at its next poll. Every enabled
// and checked state is derived in updateActionStates() from that busy state, so the menus,
// the tool bar and the keys can never disagree.

#include <QHash>
#include <QMainWindow>

#include <memory>
#include <string>

#include "app/HistoryMenus.h"
#include "common/AppState.h"
#include "common/DialogServices.h"

class QAction;
class QMenu;
class QMessageBox;
class QProgressBar;
class QToolBar;
class QToolButton;

namespace corvane {
class LogPane;
class StatusParts;
} // namespace corvane

namespace corvane::gui {

class FileQuestions;
class GuiTransferHost;

class FrameWindow : public QMainWindow {
    Q_OBJECT

public:
    FrameWindow(AppState& state, FileQuestions& files, QWidget* parent = nullptr);
    ~FrameWindow() override;

    // Runs command `id` as a menu item, button or key would. Returns once the command is done,
    // for a transfer command after the whole transfer.
    void dispatchCommand(int id);

    // The frame title. direction: 0 leaves the direction, DirectionSend / DirectionReceive
    // set it; `file` (even an empty one) replaces the title file, null leaves it.
    void setFrameTitle(int direction, const char* file);

    // What the engines show, through the transfer host.
    void logPrint(int colour, const std::string& text);
    void logShowFlow(const std::string& text);
    void setStatusText(int part, const std::string& text);
    void progressShow(bool visible);
    void progressRange(uint32_t total);
    void progressPos(uint32_t position);

    // Shows or hides the three bars as the configuration says (a non-zero setting hides).
    void applyBarSettings();
    // Recomposes the title, e.g. once the window has been shown.
    void refreshTitle() { composeTitle(); }

    // After an Exit or close request during a transfer, the window closes this long after the
    // engine has returned (tests shorten it).
    void setCloseDelay(int milliseconds) { m_closeDelayMs = milliseconds; }

    QAction* action(int id) const { return m_actions.value(id, nullptr); }
    LogPane* logPane() const { return m_logPane; }
    StatusParts* statusParts() const { return m_statusParts; }
    QProgressBar* progressBar() const { return m_progress; }
    QToolBar* toolBar() const { return m_toolBar; }
    GuiTransferHost& host() { return *m_host; }
    // The colour chooser, links, programs and manual the dialogs use; empty members mean the
    // desktop's own (tests answer them in advance).
    DialogServices& dialogServices() { return m_dialogServices; }
    // Whether the tool button of `id` is shown pressed.
    bool isButtonPressed(int id) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Files dropped on the window are sent, machine files loaded (FrameWindowDrops.cpp).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Which transfer command is running, for the enabled states of its run.
    enum class Run { None, Send, SendList, Receive, QueueSend };

    void createActions();
    void createMenus();
    void createToolBar();
    void createCentralArea();
    // Fills `menu` with a history afresh at every opening (greyed while a transfer runs) and
    // dispatches its items.
    void connectHistoryMenu(QMenu* menu, HistoryKind kind);
    void updateActionStates();
    QAction* makeAction(int id, int labelId, const char* objectName);

    void commandPrologue();
    void commandEpilogue();
    void runTransferCommand(int id);
    void runRestartCommand();
    void runTransfer(Run run);
    bool queuedFilesSendable();
    void toggleBar(int id);
    void openMachineFile();
    void openHelp();
    void runNcHistoryItem(int index);
    void runMachineHistoryItem(int index);
    void requestClose();
    void askToStopAndClose();
    void recordWindowPlacement();
    void composeTitle();
    void pressButton(int id, bool pressed);
    // The hidden menu bar still opens from the keyboard.
    void openHiddenMenuBar();
    void hideMenuBarAgain();

    AppState& m_state;
    FileQuestions& m_files;
    std::unique_ptr<GuiTransferHost> m_host;
    DialogServices m_dialogServices;

    QHash<int, QAction*> m_actions;
    QMenu* m_ncHistoryMenu = nullptr;
    QMenu* m_machineHistoryMenu = nullptr;
    QToolBar* m_toolBar = nullptr;
    QProgressBar* m_progress = nullptr;
    LogPane* m_logPane = nullptr;
    StatusParts* m_statusParts = nullptr;

    Run m_run = Run::None;
    int m_queuedCount = 0; // the queue count of the running queue send
    // After an interrupt-and-close the window only waits for its close.
    bool m_closePending = false;
    bool m_closing = false;
    int m_closeDelayMs = 2000;
    bool m_menuBarOpenedByKey = false;
    // The question asked when the window is closed during a transfer (open while it waits).
    QMessageBox* m_stopQuestion = nullptr;
    uint32_t m_progressScale = 1; // QProgressBar counts in int

    std::string m_titleFile;
    bool m_titleSending = false;
};

} // namespace corvane::gui
