#include "app/FrameWindow.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AboutBox.h"
#include "app/CommandIds.h"
#include "app/FileQuestions.h"
#include "app/GuiTransferHost.h"
#include "app/HistoryMenus.h"
#include "app/MachineFileLoad.h"
#include "app/StatusParts.h"
#include "app/ToolIcons.h"
#include "common/HelpViewer.h"
#include "display/LogPane.h"
#include "restart/RestartPlanner.h"
#include "settings/PropertyDialog.h"
#include "settings/ShowMachineProperty.h"
#include "support/PathParts.h"
#include "support/StringIds.h"
#include "transfer/FileSelection.h"
#include "transfer/LineSettings.h"
#include "transfer/PosixSerialLine.h"
#include "transfer/ReceiveEngine.h"
#include "transfer/ReceiveIntoFile.h"
#include "transfer/SendEngine.h"
#include "transfer/SendFileCheck.h"
#include "transfer/TargetComparison.h"
#include "transfer/TransferContext.h"

namespace corvane::gui {

namespace {

// The printf formats of the string table take only texts here.
std::string formatTexts(const char* format, const char* a, const char* b, const char* c = nullptr,
                        const char* d = nullptr) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

// A menu label from the table: the text before the tab; the key after it is the action's
// shortcut, which the menu shows by itself.
QString menuLabel(const char* text) {
    const QString label = QString::fromUtf8(text);
    const int tab = label.indexOf('\t');
    return tab < 0 ? label : label.left(tab);
}

// Sizes are looked up under the name the send will open.
uint32_t fileSizeOf(const char* path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint32_t>(size);
}

} // namespace

FrameWindow::FrameWindow(AppState& state, FileQuestions& files, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_files(files),
      m_host(std::make_unique<GuiTransferHost>(*this, state, files)) {
    setObjectName(QStringLiteral("CVN_FrameClass"));
    setAcceptDrops(true); // files dropped here are sent or loaded (FrameWindowDrops.cpp)
    createActions();
    createMenus();
    createToolBar();
    createCentralArea();

    m_statusParts = new StatusParts(this);
    m_statusParts->setObjectName(QStringLiteral("statusParts"));
    statusBar()->addPermanentWidget(m_statusParts, 1);
    statusBar()->setObjectName(QStringLiteral("statusBar"));

    updateActionStates();
    composeTitle();
}

FrameWindow::~FrameWindow() = default;

QAction* FrameWindow::makeAction(int id, int labelId, const char* objectName) {
    auto* action = new QAction(menuLabel(m_state.text(labelId)), this);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setData(id);
    // On the window itself as well, so the keys work while the menu bar is hidden.
    addAction(action);
    connect(action, &QAction::triggered, this, [this, id] { dispatchCommand(id); });
    m_actions.insert(id, action);
    return action;
}

void FrameWindow::createActions() {
    makeAction(CmdSend, IDS_MENU_SEND, "actionSend")
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence(Qt::Key_F5)});
    makeAction(CmdSendList, IDS_MENU_SEND_LIST, "actionSendList");
    makeAction(CmdRestart, IDS_MENU_RESTART, "actionRestart");
    makeAction(CmdReceive, IDS_MENU_RECEIVE, "actionReceive")
        ->setShortcut(QKeySequence(Qt::Key_F6));
    makeAction(CmdExit, IDS_MENU_EXIT, "actionExit")->setShortcut(QKeySequence(Qt::Key_F12));
    makeAction(CmdToolBar, IDS_MENU_TOOL_BAR, "actionToolBar")
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F2));
    makeAction(CmdStatusBar, IDS_MENU_STATUS_BAR, "actionStatusBar")
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    makeAction(CmdMenuBar, IDS_MENU_MENU_BAR, "actionMenuBar")
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    makeAction(CmdProperty, IDS_MENU_PROPERTY, "actionProperty");
    makeAction(CmdContents, IDS_MENU_CONTENTS, "actionContents")
        ->setShortcut(QKeySequence(Qt::Key_F1));
    makeAction(CmdMachineProperty, IDS_MENU_MACHINE_PROPERTY, "actionMachineProperty");
    makeAction(CmdVersionInfo, IDS_MENU_VERSION_INFO, "actionVersionInfo");
    makeAction(CmdInterrupt, IDS_MENU_INTERRUPT, "actionInterrupt")
        ->setShortcut(QKeySequence(Qt::Key_Escape));
    makeAction(CmdOpenMachine, IDS_MENU_NEW_OPEN, "actionOpenMachine");

    for (int id : {CmdToolBar, CmdStatusBar, CmdMenuBar})
        m_actions[id]->setCheckable(true);

    struct ButtonText {
        int id;
        int label;
        int tip; // 0: no tooltip
        ToolImage image;
    };
    constexpr ButtonText buttons[] = {
        {CmdSend, IDS_BUTTON_SEND, IDS_TIP_SEND, ToolImage::Send},
        {CmdSendList, IDS_BUTTON_SEND_LIST, IDS_TIP_SEND_LIST, ToolImage::SendList},
        {CmdReceive, IDS_BUTTON_RECEIVE, IDS_TIP_RECEIVE, ToolImage::Receive},
        {CmdMachineProperty, IDS_BUTTON_MACHINE, IDS_TIP_MACHINE, ToolImage::Machine},
        {CmdProperty, IDS_BUTTON_PROPERTY, IDS_TIP_PROPERTY, ToolImage::Property},
        {CmdContents, IDS_BUTTON_HELP, IDS_TIP_HELP, ToolImage::Help},
        {CmdInterrupt, IDS_BUTTON_CANCEL, IDS_TIP_INTERRUPT, ToolImage::Cancel},
    };
    for (const ButtonText& button : buttons) {
        QAction* action = m_actions[button.id];
        action->setIconText(QString::fromUtf8(m_state.text(button.label)));
        action->setToolTip(QString::fromUtf8(m_state.text(button.tip)));
        action->setIcon(toolIcon(button.image));
        action->setIconVisibleInMenu(false);
    }
}

void FrameWindow::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    bar->installEventFilter(this);
    auto addMenu = [&](int labelId, const char* name, std::initializer_list<int> ids) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(m_state.text(labelId)));
        menu->setObjectName(QString::fromLatin1(name));
        for (int id : ids) {
            if (id == 0)
                menu->addSeparator();
            else
                menu->addAction(m_actions[id]);
        }
        // Menu help: the hint of the highlighted command in the status bar, an empty line for
        // anything else, the four parts again once the menu has closed.
        connect(menu, &QMenu::aboutToShow, this,
                [this] { m_statusParts->SetStatusText(-1, QString()); });
        connect(menu, &QMenu::hovered, this, [this, menu](QAction* action) {
            // A menu also reports its actions hovered when they rest under the pointer in the
            // tool bar; only an open menu gives menu help, or the parts would stay hidden.
            if (!menu->isVisible())
                return;
            const int id = action->data().toInt();
            m_statusParts->SetStatusText(-1,
                                         id != 0 ? QString::fromUtf8(m_state.text(id)) : QString());
        });
        connect(menu, &QMenu::aboutToHide, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (QApplication::activePopupWidget() == nullptr) {
                    m_statusParts->SetStatusText(-2, QString());
                    hideMenuBarAgain();
                }
            });
        });
        return menu;
    };
    QMenu* file = addMenu(IDS_MENU_FILE, "menuFile",
                          {CmdSend, CmdRestart, CmdSendList, CmdReceive, 0, CmdInterrupt, 0});
    // The histories of the tool-bar arrows, for the keyboard as well.
    const struct {
        int label;
        const char* name;
        HistoryKind kind;
    } histories[] = {{IDS_MENU_RECENT_NC_FILES, "menuRecentNcFiles", HistoryKind::NcFiles},
                     {IDS_MENU_RECENT_MACHINES, "menuRecentMachines", HistoryKind::Machines}};
    for (const auto& history : histories) {
        QMenu* sub = file->addMenu(QString::fromUtf8(m_state.text(history.label)));
        sub->setObjectName(QString::fromLatin1(history.name));
        connectHistoryMenu(sub, history.kind);
    }
    file->addSeparator();
    file->addAction(m_actions[CmdExit]);
    addMenu(IDS_MENU_VIEW, "menuView", {CmdToolBar, CmdStatusBar, CmdMenuBar});
    addMenu(IDS_MENU_SETTINGS, "menuSettings", {CmdMachineProperty, CmdProperty});
    addMenu(IDS_MENU_HELP, "menuHelp", {CmdContents, 0, CmdVersionInfo});
}

void FrameWindow::createToolBar() {
    m_toolBar = addToolBar(QStringLiteral("toolBar"));
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->toggleViewAction()->setVisible(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    m_ncHistoryMenu = new QMenu(this);
    m_ncHistoryMenu->setObjectName(QStringLiteral("ncHistoryMenu"));
    m_machineHistoryMenu = new QMenu(this);
    m_machineHistoryMenu->setObjectName(QStringLiteral("machineHistoryMenu"));

    const int layout[] = {CmdSend,     CmdSendList, CmdReceive,  0, CmdMachineProperty,
                          CmdProperty, 0,           CmdContents, 0, CmdInterrupt};
    for (int id : layout) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        m_toolBar->addAction(m_actions[id]);
        auto* button = qobject_cast<QToolButton*>(m_toolBar->widgetForAction(m_actions[id]));
        button->setObjectName(QStringLiteral("button%1").arg(id));
        // The arrows of Send and Machine open the histories, filled afresh at every opening
        // and greyed while a transfer runs.
        if (id == CmdSend || id == CmdMachineProperty) {
            QMenu* menu = id == CmdSend ? m_ncHistoryMenu : m_machineHistoryMenu;
            connectHistoryMenu(menu, id == CmdSend ? HistoryKind::NcFiles : HistoryKind::Machines);
            button->setMenu(menu);
            button->setPopupMode(QToolButton::MenuButtonPopup);
        }
    }
}

void FrameWindow::connectHistoryMenu(QMenu* menu, HistoryKind kind) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu, kind] {
        fillHistoryMenu(*menu, kind, m_state.config, m_state.language,
                        !m_state.transfer.TransferBusy);
    });
    connect(menu, &QMenu::triggered, this,
            [this](QAction* item) { dispatchCommand(item->data().toInt()); });
}

void FrameWindow::createCentralArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_progress = new QProgressBar(central);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setFixedHeight(16);
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 0);
    m_progress->setVisible(false);
    layout->addWidget(m_progress);

    m_logPane = new LogPane(m_state.config, m_state.transfer, m_state.language, central);
    m_logPane->setObjectName(QStringLiteral("logPane"));
    layout->addWidget(m_logPane, 1);
    connect(m_logPane, &LogPane::commandRequested, this, &FrameWindow::dispatchCommand);

    setCentralWidget(central);
}

// Every enabled and checked state in one place. While a transfer runs only Exit, Interrupt
// and the running command's own (pressed) button stay enabled; everything else would be
// refused anyway.
void FrameWindow::updateActionStates() {
    const bool busy = m_state.transfer.TransferBusy;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        const int id = it.key();
        bool enabled;
        if (m_closePending)
            enabled = false;
        else if (busy)
            // What does nothing while the engine runs is greyed (the pressed button still
            // shows which transfer it is); the manual can be read meanwhile.
            enabled = id == CmdExit || id == CmdInterrupt || id == CmdContents;
        else
            enabled = id != CmdInterrupt;
        it.value()->setEnabled(enabled);
    }
    m_actions[CmdToolBar]->setChecked(m_state.config.ToolBar == 0);
    m_actions[CmdStatusBar]->setChecked(m_state.config.StatusBar == 0);
    m_actions[CmdMenuBar]->setChecked(m_state.config.MenuBar == 0);
}

bool FrameWindow::isButtonPressed(int id) const {
    QAction* a = action(id);
    auto* button =
        a != nullptr ? qobject_cast<QToolButton*>(m_toolBar->widgetForAction(a)) : nullptr;
    return button != nullptr && button->isDown();
}

void FrameWindow::pressButton(int id, bool pressed) {
    if (auto* button = qobject_cast<QToolButton*>(m_toolBar->widgetForAction(m_actions[id])))
        button->setDown(pressed);
}

void FrameWindow::dispatchCommand(int id) {
    if (m_closePending)
        return;
    if (m_state.transfer.TransferBusy) {
        if (id == CmdInterrupt)
            m_state.transfer.InterruptRequest = 1;
        else if (id == CmdExit)
            askToStopAndClose();
        else if (id == CmdClose) // another program's request: no one to answer a question
            m_state.transfer.InterruptRequest = 2;
        else if (id == CmdContents)
            openHelp();
        return;
    }

    commandPrologue();
    switch (id) {
    case CmdSend:
    case CmdSendList:
    case CmdReceive:
    case CmdQueueSend:
        runTransferCommand(id);
        break;
    case CmdRestart:
        runRestartCommand();
        break;
    case CmdExit:
    case CmdClose:
        requestClose();
        break;
    case CmdToolBar:
    case CmdStatusBar:
    case CmdMenuBar:
        toggleBar(id);
        break;
    case CmdContents:
        openHelp();
        break;
    case CmdOpenMachine:
        openMachineFile();
        break;
    case CmdProperty:
        // The button stays pressed while the dialog runs; OK clears the log so that it is
        // drawn afresh in its new colours.
        pressButton(CmdProperty, true);
        ShowPropertyDialog(this, m_state.config, m_state.language, m_dialogServices,
                           m_state.helpFilePath, [this] { logPrint(LogText, "\f"); });
        pressButton(CmdProperty, false);
        break;
    case CmdMachineProperty:
        // The button stays pressed while the sheet runs.
        pressButton(CmdMachineProperty, true);
        ShowMachineProperty(m_state, this, -1);
        pressButton(CmdMachineProperty, false);
        break;
    case CmdVersionInfo:
        ShowAboutBox(this, m_state.product, m_state.language, m_dialogServices);
        break;
    case CmdInterrupt:
        break; // nothing to interrupt
    default:
        if (id >= CmdNcHistoryFirst && id <= CmdNcHistoryLast)
            runNcHistoryItem(id - CmdNcHistoryFirst);
        else if (id >= CmdMachineHistoryFirst && id <= CmdMachineHistoryLast)
            runMachineHistoryItem(id - CmdMachineHistoryFirst);
        break;
    }
    commandEpilogue();
}

void FrameWindow::commandPrologue() {
    logPrint(LogText, "\f");
    for (int part = 0; part < 4; ++part)
        setStatusText(part, "");
}

void FrameWindow::commandEpilogue() {
    m_state.transfer.TransferBusy = false;
    for (int part = 0; part < 4; ++part)
        setStatusText(part, "");
    updateActionStates();
}

void FrameWindow::runTransferCommand(int id) {
    SendQueue& queue = m_state.queue;
    MachineDef& machine = m_state.machine;
    Run run = Run::None;
    switch (id) {
    case CmdSend:
        pressButton(CmdSend, true);
        queue.Count = m_files.selectNcFiles(
            this, true, QString::fromUtf8(m_state.text(IDS_TITLE_SELECT_SEND_FILE)), machine,
            queue.Entries, SendQueueCapacity);
        run = Run::Send;
        break;
    case CmdSendList:
        pressButton(CmdSendList, true);
        queue.Count = m_files.editSendList(this, machine, queue);
        run = Run::SendList;
        break;
    case CmdReceive: {
        pressButton(CmdReceive, true);
        // The target goes into the first entry; the count stays what it was.
        const int chosen = m_files.selectNcFiles(
            this, false, QString::fromUtf8(m_state.text(IDS_TITLE_SELECT_RECEIVE_FILE)), machine,
            queue.Entries, 1);
        if (chosen > 0)
            runTransfer(Run::Receive);
        pressButton(CmdReceive, false);
        return;
    }
    case CmdQueueSend:
        if (queue.Count <= 0 || queue.Count > SendQueueCapacity)
            return;
        m_queuedCount = queue.Count;
        pressButton(queue.Count > 1 ? CmdSendList : CmdSend, true);
        run = Run::QueueSend;
        break;
    default:
        return;
    }

    queue.Count = std::clamp(queue.Count, 0, SendQueueCapacity);
    if (queue.Count > 0 && !queuedFilesSendable()) {
        pressButton(CmdSend, false);
        pressButton(CmdSendList, false);
        return;
    }
    if (queue.Count > 0) {
        runTransfer(run);
        // A Send list adds nothing to the history; the others enter every queued file, also
        // after a failed, interrupted or closing send.
        if (run != Run::SendList)
            for (int i = 0; i < queue.Count; ++i)
                UpdateHistory(m_state.config, 0, 0, queue.Entries[i].Name);
    }
    pressButton(CmdSend, false);
    pressButton(CmdSendList, false);
}

// Every queued file is looked at before the port opens: a line the send would have to cut or
// a character the machine would read as another one stops the send with the file and line
// named, and a binary file is sent only when the user says so (No is the default).
bool FrameWindow::queuedFilesSendable() {
    const QString title = QString::fromUtf8(m_state.product[ProductName]);
    for (int i = 0; i < m_state.queue.Count; ++i) {
        const char* name = m_state.queue.Entries[i].Name;
        SendFileCheck check = CheckSendFile(name, m_state.machine);
        if (check.fault == SendFileFault::Binary) {
            QMessageBox box(QMessageBox::Warning, title,
                            QString::fromUtf8(DescribeSendFileCheck(
                                check, name, m_state.machine.line, m_state.language)),
                            QMessageBox::Yes | QMessageBox::No, this);
            box.setObjectName(QStringLiteral("sendBinaryBox"));
            box.setDefaultButton(QMessageBox::No);
            if (box.exec() != QMessageBox::Yes)
                return false;
            check = CheckSendFile(name, m_state.machine, true);
        }
        if (check.fault == SendFileFault::LineTooLong || check.fault == SendFileFault::NotCarried) {
            const std::string text =
                DescribeSendFileCheck(check, name, m_state.machine.line, m_state.language);
            logPrint(LogText, "\f");
            logPrint(LogText, text);
            logPrint(LogText, "");
            logPrint(LogText, std::string("==== ") + m_state.text(IDS_SEND_REFUSED) + " ====");
            QMessageBox box(QMessageBox::Warning, title, QString::fromUtf8(text), QMessageBox::Ok,
                            this);
            box.setObjectName(QStringLiteral("sendRefusedBox"));
            box.exec();
            return false;
        }
    }
    return true;
}

void FrameWindow::runRestartCommand() {
    SendQueueEntry chosen{};
    if (m_files.selectNcFiles(this, true,
                              QString::fromUtf8(m_state.text(IDS_TITLE_SELECT_SEND_FILE)),
                              m_state.machine, &chosen, 1) < 1)
        return;
    std::string where;
    RestartPlace place;
    if (!m_files.chooseRestart(this, chosen.Name, where) || !ParseRestartPlace(where, place))
        return;
    std::FILE* program = std::fopen(chosen.Name, "rb");
    if (program == nullptr)
        return;
    const RestartPlan plan = PlanRestart(program, place);
    if (!plan.allowed) {
        std::fclose(program);
        logPrint(LogText, plan.refusal);
        return;
    }
    // The restarted program goes out as a file of its own, under the program's own name in a
    // private folder, through the same send as any program.
    const QString folderPattern = QDir::tempPath() + QStringLiteral("/corvane-restart-XXXXXX");
    QByteArray folder = folderPattern.toLocal8Bit();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::fclose(program);
        return;
    }
    const std::string path =
        folder.toStdString() + "/" +
        QFileInfo(QString::fromLocal8Bit(chosen.Name)).fileName().toStdString();
    std::FILE* out = path.size() < sizeof chosen.Name ? std::fopen(path.c_str(), "wb") : nullptr;
    bool written = out != nullptr && WriteRestartProgram(program, plan, out);
    if (out != nullptr && std::fclose(out) != 0)
        written = false;
    std::fclose(program);
    if (written) {
        SendQueue& queue = m_state.queue;
        queue = SendQueue{};
        std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s", path.c_str());
        queue.Entries[0].Size = static_cast<uint32_t>(
            static_cast<uint64_t>(QFileInfo(QString::fromStdString(path)).size()) & 0xFFFFFFFFu);
        queue.Count = 1;
        pressButton(CmdSend, true);
        runTransfer(Run::Send);
        pressButton(CmdSend, false);
        UpdateHistory(m_state.config, 0, 0, chosen.Name);
    }
    ::unlink(path.c_str());
    ::rmdir(folder.constData());
}

void FrameWindow::runTransfer(Run run) {
    m_state.transfer.InterruptRequest = 0;
    m_state.transfer.TransferBusy = true;
    m_run = run;
    updateActionStates();
    // Greying a button lets it up; the button of the running transfer shows it pressed all the
    // same.
    const int ownButton = run == Run::Receive                          ? CmdReceive
                          : run == Run::SendList                       ? CmdSendList
                          : run == Run::QueueSend && m_queuedCount > 1 ? CmdSendList
                                                                       : CmdSend;
    pressButton(ownButton, true);
    // The engine writes the four parts from now on; they must be seen, whatever menu help
    // the bar was left in.
    m_statusParts->SetStatusText(-2, QString());

    TransferContext ctx{m_state.machine,      m_state.config, m_state.queue,
                        m_state.transfer,     *m_host,        DefaultLineOpener(LineOptions{}),
                        m_state.notifyWindow, nullptr};
    if (run == Run::Receive) {
        const std::string target = m_state.queue.Entries[0].Name;
        const TargetBefore before = readTargetBefore(target);
        if (ReceiveNcFile(ctx, target.c_str()) == ReceiveDone)
            if (const std::string verdict = targetVerdict(*m_host, before, target);
                !verdict.empty())
                m_host->logPrint(LogText, verdict);
    } else {
        SendNcData(ctx);
    }

    m_run = Run::None;
    m_state.transfer.TransferBusy = false;
    // A question about stopping a transfer that has ended asks about nothing any more.
    if (m_stopQuestion != nullptr) {
        m_stopQuestion->disconnect(this);
        m_stopQuestion->deleteLater();
        m_stopQuestion = nullptr;
    }
    if (m_state.transfer.InterruptRequest == 2) {
        // Closing was asked for while the engine ran: give the user a moment to read the
        // closing line, without freezing the window, and accept nothing more meanwhile.
        m_closePending = true;
        QTimer::singleShot(m_closeDelayMs, this, [this] {
            m_closing = true;
            close();
        });
    }
    updateActionStates();
}

void FrameWindow::toggleBar(int id) {
    int32_t* hidden = id == CmdToolBar     ? &m_state.config.ToolBar
                      : id == CmdStatusBar ? &m_state.config.StatusBar
                                           : &m_state.config.MenuBar;
    *hidden = *hidden == 0 ? 1 : 0;
    const bool show = *hidden == 0;
    if (id == CmdToolBar)
        m_toolBar->setVisible(show);
    else if (id == CmdStatusBar)
        statusBar()->setVisible(show);
    else
        menuBar()->setVisible(show);
    updateActionStates();
}

void FrameWindow::applyBarSettings() {
    m_toolBar->setVisible(m_state.config.ToolBar == 0);
    statusBar()->setVisible(m_state.config.StatusBar == 0);
    menuBar()->setVisible(m_state.config.MenuBar == 0);
    updateActionStates();
}

void FrameWindow::openHiddenMenuBar() {
    if (m_state.config.MenuBar == 0 || menuBar()->actions().isEmpty())
        return;
    m_menuBarOpenedByKey = true;
    menuBar()->setVisible(true);
    menuBar()->setActiveAction(menuBar()->actions().first());
}

void FrameWindow::hideMenuBarAgain() {
    if (!m_menuBarOpenedByKey)
        return;
    m_menuBarOpenedByKey = false;
    if (m_state.config.MenuBar != 0)
        menuBar()->setVisible(false);
}

// A manual that cannot be shown is told, with where it was looked for. The notice does not
// block: the manual may be asked for during a transfer.
void FrameWindow::openHelp() {
    TellManualNotShown(
        this, QString::fromUtf8(m_state.product[ProductName]), m_state.language,
        m_state.helpFilePath,
        WexShowHelp(m_state.helpFilePath, HelpContents, 0, m_dialogServices.openManual));
}

void FrameWindow::openMachineFile() {
    FileDialogRequest request;
    request.title = QString::fromUtf8(m_state.text(IDS_TITLE_SELECT_MACHINE_FILE));
    request.folder = QString::fromLocal8Bit(m_state.config.McnFile);
    request.nameFilters << QString::fromUtf8(m_state.text(IDS_FILTER_MACHINE_FILES))
                        << QString::fromUtf8(m_state.text(IDS_FILTER_ALL_FILES));
    const QStringList chosen = runFileDialog(this, request);
    const QByteArray path = chosen.isEmpty() ? QByteArray() : chosen.front().toLocal8Bit();
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof m_state.config.McnFile)
        return;
    if (!TakeMachineFile(m_state, this, path.toStdString()))
        return;
    std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s", path.constData());
    UpdateHistory(m_state.config, 1, 0, path.constData());
    QTimer::singleShot(0, this, [this] { dispatchCommand(CmdMachineProperty); });
}

void FrameWindow::runNcHistoryItem(int index) {
    if (index < 0 || index >= HistorySlots || m_state.config.NcFileHistory[index][0] == '\0')
        return;
    SendQueue& queue = m_state.queue;
    queue.Entries[0] = SendQueueEntry{};
    std::snprintf(queue.Entries[0].Name, sizeof queue.Entries[0].Name, "%s",
                  m_state.config.NcFileHistory[index]);
    queue.Entries[0].Size = fileSizeOf(queue.Entries[0].Name);
    queue.Count = 1;
    dispatchCommand(CmdQueueSend);
}

void FrameWindow::runMachineHistoryItem(int index) {
    if (index < 0 || index >= HistorySlots || m_state.config.McnFileHistory[index][0] == '\0')
        return;
    char path[HistoryPathSize];
    std::snprintf(path, sizeof path, "%s", m_state.config.McnFileHistory[index]);
    // A file gone from the disk stays in the history, so a drive that comes back makes
    // it usable again; choosing it now only says why it cannot be used.
    if (!TakeMachineFile(m_state, this, path))
        return;
    std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s", path);
    UpdateHistory(m_state.config, 1, 0, path);
    QTimer::singleShot(0, this, [this] { dispatchCommand(CmdMachineProperty); });
}

void FrameWindow::requestClose() {
    m_closing = true;
    close();
}

void FrameWindow::closeEvent(QCloseEvent* event) {
    // Any close while a transfer runs (close button, window manager, another program) only
    // asks the engine to stop; the window closes once it has.
    if (m_state.transfer.TransferBusy) {
        if (m_state.transfer.InterruptRequest != 2)
            askToStopAndClose();
        event->ignore();
        return;
    }
    recordWindowPlacement();
    event->accept();
}

// Closing the window or F12 during a transfer first asks, and keeps the transfer going until
// the answer is Yes. The question does not block: the engine runs on this thread, and a modal
// loop would hold the send up for as long as the question stood unanswered.
void FrameWindow::askToStopAndClose() {
    if (m_stopQuestion != nullptr) {
        m_stopQuestion->raise();
        m_stopQuestion->activateWindow();
        return;
    }
    const int textId = m_run == Run::Receive ? IDS_ASK_STOP_RECEIVING : IDS_ASK_STOP_SENDING;
    m_stopQuestion = new QMessageBox(
        QMessageBox::Question, QString::fromUtf8(m_state.product[ProductName]),
        QString::fromUtf8(m_state.text(textId)), QMessageBox::Yes | QMessageBox::No, this);
    m_stopQuestion->setObjectName(QStringLiteral("stopTransferBox"));
    m_stopQuestion->setDefaultButton(QMessageBox::No);
    m_stopQuestion->setEscapeButton(QMessageBox::No);
    m_stopQuestion->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_stopQuestion, &QMessageBox::finished, this, [this](int result) {
        m_stopQuestion = nullptr;
        if (result == QMessageBox::Yes && m_state.transfer.TransferBusy)
            m_state.transfer.InterruptRequest = 2;
    });
    m_stopQuestion->open();
}

void FrameWindow::recordWindowPlacement() {
    if (!isVisible())
        return;
    const Qt::WindowStates states = windowState();
    if (states & Qt::WindowMinimized) {
        m_state.config.WindowShow = 2;
        return;
    }
    if (states & Qt::WindowMaximized) {
        m_state.config.WindowShow = 3;
        return;
    }
    m_state.config.WindowShow = 10;
    // The frame's origin and the client size: what move() and resize() take back.
    const QPoint origin = pos();
    m_state.config.WindowPos =
        Rect{origin.x(), origin.y(), origin.x() + width(), origin.y() + height()};
}

void FrameWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
        recordWindowPlacement();
}

void FrameWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    recordWindowPlacement();
}

void FrameWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        composeTitle();
    else if (event->type() == QEvent::WindowStateChange)
        recordWindowPlacement();
}

// A menu opened and closed from the keyboard leaves the menu bar holding the keyboard, and it
// takes the next Escape for itself (to leave its keyboard mode). During a transfer that
// Escape is the user stopping the send: it interrupts as well.
bool FrameWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuBar() && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && m_state.transfer.TransferBusy &&
        QApplication::activePopupWidget() == nullptr && m_state.transfer.InterruptRequest == 0)
        m_state.transfer.InterruptRequest = 1;
    return QMainWindow::eventFilter(watched, event);
}

void FrameWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::NoModifier &&
        m_state.config.MenuBar != 0) {
        openHiddenMenuBar();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

// Alt pressed and released alone opens the hidden menu bar, as it would open a visible one.
void FrameWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Alt && !event->isAutoRepeat() && m_state.config.MenuBar != 0) {
        openHiddenMenuBar();
        return;
    }
    QMainWindow::keyReleaseEvent(event);
}

void FrameWindow::setFrameTitle(int direction, const char* file) {
    if (direction == DirectionSend)
        m_titleSending = true;
    else if (direction == DirectionReceive)
        m_titleSending = false;
    if (file != nullptr)
        m_titleFile = file;
    composeTitle();
}

void FrameWindow::composeTitle() {
    const ProductStrings& strings = m_state.product;
    const char* product = strings[ProductName];
    std::string title;
    if (!m_titleFile.empty()) {
        if (isActiveWindow()) {
            const std::string machine = WexSplitPath(m_state.config.McnFile, 12);
            title = !machine.empty() ? formatTexts(m_state.text(IDS_FMT_TITLE_THREE),
                                                   m_titleFile.c_str(), machine.c_str(), product)
                                     : formatTexts(m_state.text(IDS_FMT_TITLE_TWO),
                                                   m_titleFile.c_str(), product);
        } else {
            const std::string shortName = WexSplitPath(m_titleFile, 12);
            title = formatTexts(m_state.text(IDS_FMT_TITLE_TWO), shortName.c_str(), product);
        }
        title += ' ';
        title += m_state.text(m_titleSending ? IDS_TITLE_SENDING : IDS_TITLE_RECEIVING);
    } else {
        title = formatTexts(m_state.text(IDS_FMT_TITLE_IDLE), product, strings[ProductVersion],
                            strings[ProductNotice], strings[ProductMaker]);
    }
    setWindowTitle(QString::fromLocal8Bit(title.c_str()));
}

void FrameWindow::logPrint(int colour, const std::string& text) {
    m_logPane->logPrint(colour, text);
}

void FrameWindow::logShowFlow(const std::string& text) {
    m_logPane->logShowFlow(text);
}

void FrameWindow::setStatusText(int part, const std::string& text) {
    m_statusParts->SetStatusText(part, text);
}

void FrameWindow::progressShow(bool visible) {
    m_progress->setVisible(visible);
}

void FrameWindow::progressRange(uint32_t total) {
    m_progressScale = total > 0x7FFFFFFFu ? 1024 : 1;
    m_progress->setRange(0, static_cast<int>(total / m_progressScale));
}

void FrameWindow::progressPos(uint32_t position) {
    m_progress->setValue(
        std::min(static_cast<int>(position / m_progressScale), m_progress->maximum()));
}

} // namespace corvane::gui
