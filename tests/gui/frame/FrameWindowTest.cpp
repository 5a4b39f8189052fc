// The frame window driven as a user drives it: commands by id and by key, the enabled states
// while a transfer runs, the title, the bars, and a whole send into a device file.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWindow>

#include "app/Application.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "app/StatusParts.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/SteppingClock.h"
#include "support/StringIds.h"
#include "transfer/RestartDialog.h"
#include "transfer/TransferHost.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::readFile;
using corvane::testing::saveScreenshot;
using corvane::testing::SteppingClock;
using corvane::testing::writeFile;

namespace {

// The file questions answered in advance; `duringTransfer` runs inside the engine when it
// asks for the device file, i.e. while the transfer is under way.
class AnsweringQuestions : public FileQuestions {
public:
    std::vector<QString> ncFiles;
    QString deviceFile;
    std::function<void()> duringTransfer;
    int ncQuestions = 0;
    int listQuestions = 0;
    bool lastOpen = true;

    int selectNcFiles(QWidget*, bool open, const QString&, MachineDef&, SendQueueEntry* entries,
                      int capacity) override {
        ++ncQuestions;
        lastOpen = open;
        int count = 0;
        for (const QString& file : ncFiles) {
            if (count >= capacity)
                break;
            entries[count] = SendQueueEntry{};
            qstrncpy(entries[count].Name, file.toLocal8Bit().constData(), sizeof entries[0].Name);
            entries[count].Size = static_cast<uint32_t>(QFileInfo(file).size());
            ++count;
        }
        return count;
    }
    int editSendList(QWidget* parent, MachineDef& machine, SendQueue& queue) override {
        ++listQuestions;
        return selectNcFiles(parent, true, QString(), machine, queue.Entries, 32);
    }
    std::string restartWhere; // the answer to Restart from...; empty = cancel
    int restartQuestions = 0;
    std::string restartProgram;
    bool chooseRestart(QWidget*, const std::string& program, std::string& where) override {
        ++restartQuestions;
        restartProgram = program;
        where = restartWhere;
        return !where.empty();
    }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string& path) override {
        if (duringTransfer)
            duringTransfer();
        if (deviceFile.isEmpty())
            return false;
        path = deviceFile.toStdString();
        return true;
    }
};

// The commands whose enabled state a transfer changes, from the tool bar and the menu.
const int kTableIds[] = {3000, 3001, 3002, 3009, 3010, 3013, 3015};

} // namespace

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

class FrameWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    AnsweringQuestions m_files;
    SteppingClock m_clock;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // An ASCII machine that punches into a file: no leaders, no codes around the data.
    void fileMachine() {
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        m_state.machine.line.OutCode = 2;
        m_state.machine.line.HandShake = 0;
        m_state.machine.config.OutofFile = 1;
        m_state.machine.config.HeadLf = 0;
        m_state.machine.config.LfCode = 0;
        m_state.machine.config.ErCode = 0;
        m_state.machine.config.SendDelay = 0;
    }

    std::map<int, bool> enabledStates(FrameWindow& frame) {
        std::map<int, bool> states;
        for (int id : kTableIds)
            states[id] = frame.action(id)->isEnabled();
        return states;
    }

private slots:
    void init() {
        m_state = AppState{};
        LoadProductStrings(m_state.language, "", m_state.product);
        m_files = AnsweringQuestions{};
        fileMachine();
    }

    void commandsByKeyReachTheirCommand_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("toolBar");
        QTest::addColumn<int>("statusBar");
        QTest::addColumn<int>("menuBar");
        QTest::addColumn<int>("ncQuestions");
        QTest::addColumn<bool>("openAsked");
        QTest::newRow("Shift+F2 hides the tool bar")
            << int(Qt::Key_F2) << int(Qt::ShiftModifier) << 1 << 0 << 0 << 0 << true;
        QTest::newRow("F2 alone does nothing") << int(Qt::Key_F2) << 0 << 0 << 0 << 0 << 0 << true;
        QTest::newRow("Shift+F3 hides the status bar")
            << int(Qt::Key_F3) << int(Qt::ShiftModifier) << 0 << 1 << 0 << 0 << true;
        QTest::newRow("F3 alone does nothing") << int(Qt::Key_F3) << 0 << 0 << 0 << 0 << 0 << true;
        QTest::newRow("Shift+F1 hides the menu bar")
            << int(Qt::Key_F1) << int(Qt::ShiftModifier) << 0 << 0 << 1 << 0 << true;
        QTest::newRow("F1 opens help, not a bar")
            << int(Qt::Key_F1) << 0 << 0 << 0 << 0 << 0 << true;
        QTest::newRow("Ctrl+O asks for files to send")
            << int(Qt::Key_O) << int(Qt::ControlModifier) << 0 << 0 << 0 << 1 << true;
        QTest::newRow("F5 asks for files to send")
            << int(Qt::Key_F5) << 0 << 0 << 0 << 0 << 1 << true;
        QTest::newRow("F6 asks for a file to receive into")
            << int(Qt::Key_F6) << 0 << 0 << 0 << 0 << 1 << false;
    }

    void commandsByKeyReachTheirCommand() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTest::keyClick(&frame, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTEST(int(m_state.config.ToolBar), "toolBar");
        QTEST(int(m_state.config.StatusBar), "statusBar");
        QTEST(int(m_state.config.MenuBar), "menuBar");
        QTEST(m_files.ncQuestions, "ncQuestions");
        if (m_files.ncQuestions > 0)
            QTEST(m_files.lastOpen, "openAsked");
        QVERIFY(frame.isVisible());
    }

    void exitByKeyAndByIdClosesWhenIdle() {
        for (int way = 0; way < 3; ++way) {
            FrameWindow frame(m_state, m_files);
            frame.host().setClock(&m_clock);
            frame.host().setClock(&m_clock);
            frame.show();
            QVERIFY(QTest::qWaitForWindowActive(&frame));
            if (way == 0)
                QTest::keyClick(&frame, Qt::Key_F12);
            else
                frame.dispatchCommand(way == 1 ? 3003 : 5001);
            QVERIFY2(!frame.isVisible(), way == 0 ? "F12" : way == 1 ? "3003" : "5001");
        }
    }

    void barTogglesHideAndShowAgain_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("tool bar") << 3004;
        QTest::newRow("status bar") << 3005;
        QTest::newRow("menu bar") << 40033;
    }

    void barTogglesHideAndShowAgain() {
        QFETCH(int, id);
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QWidget* bar = id == 3004   ? static_cast<QWidget*>(frame.toolBar())
                       : id == 3005 ? static_cast<QWidget*>(frame.statusBar())
                                    : static_cast<QWidget*>(frame.menuBar());
        const int32_t& setting = id == 3004   ? m_state.config.ToolBar
                                 : id == 3005 ? m_state.config.StatusBar
                                              : m_state.config.MenuBar;
        QVERIFY(frame.action(id)->isChecked());
        const int logTop = frame.logPane()->mapTo(&frame, QPoint(0, 0)).y();
        const int logHeight = frame.logPane()->height();

        frame.dispatchCommand(id);
        QCOMPARE(setting, 1);
        QVERIFY(!bar->isVisible());
        QVERIFY(!frame.action(id)->isChecked());
        QTRY_VERIFY(frame.logPane()->height() > logHeight); // the pane takes the room
        if (id != 3005)
            QVERIFY(frame.logPane()->mapTo(&frame, QPoint(0, 0)).y() < logTop);

        frame.dispatchCommand(id);
        QCOMPARE(setting, 0);
        QVERIFY(bar->isVisible());
        QVERIFY(frame.action(id)->isChecked());
        QTRY_COMPARE(frame.logPane()->height(), logHeight);
    }

    void hiddenMenuBarStillOpensFromTheKeyboard() {
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        frame.dispatchCommand(40033);
        QVERIFY(!frame.menuBar()->isVisible());
        QTest::keyClick(&frame, Qt::Key_F10);
        QVERIFY(frame.menuBar()->isVisible());
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                          : static_cast<QWidget*>(frame.menuBar()),
                        Qt::Key_Escape);
        QTRY_VERIFY(!frame.menuBar()->isVisible());
        QCOMPARE(m_state.config.MenuBar, 1);
    }

    void titleHasItsThreeForms() {
        std::snprintf(m_state.config.McnFile, sizeof m_state.config.McnFile, "%s",
                      "/shop/machines/LATHE2.MDF");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        const QString idle = frame.windowTitle();
        QVERIFY2(idle.startsWith(QStringLiteral("Corvane Version ")), qPrintable(idle));
        QVERIFY2(
            idle.endsWith(QStringLiteral("  Copyright (C) The Corvane developers Corvane Project")),
            qPrintable(idle));

        // Not shown, so not active: the file's short name only.
        frame.setFrameTitle(DirectionSend, "/work/parts/A100.NC");
        QCOMPARE(frame.windowTitle(), QStringLiteral("A100.NC - Corvane Sending..."));
        frame.setFrameTitle(DirectionReceive, "/work/parts/R7.NC");
        QCOMPARE(frame.windowTitle(), QStringLiteral("R7.NC - Corvane Receiving..."));

        // Active: the full path, the machine file's short name and the product.
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QTRY_COMPARE(frame.windowTitle(),
                     QStringLiteral("/work/parts/R7.NC - LATHE2.MDF - Corvane Receiving..."));
        // Direction 0 keeps the direction; an empty file is the idle title again.
        frame.setFrameTitle(0, nullptr);
        QCOMPARE(frame.windowTitle(),
                 QStringLiteral("/work/parts/R7.NC - LATHE2.MDF - Corvane Receiving..."));
        m_state.config.McnFile[0] = '\0';
        frame.setFrameTitle(DirectionSend, "/work/parts/A100.NC");
        QCOMPARE(frame.windowTitle(), QStringLiteral("/work/parts/A100.NC - Corvane Sending..."));
        frame.setFrameTitle(0, "");
        QCOMPARE(frame.windowTitle(), idle);
    }

    // Restart from...: the place chosen goes out exactly as a plain Send of the restarted text.
    void restartFromSendsLikeAPlainSendOfTheRestartedText() {
        writeFile(file("P.NC"), "%\nO0001\nG21 G90 G54\nT1 M06\nG00 X1. Y2. S900 M03\n"
                                "G43 H1 Z5.\nN50 G01 Z-1. F80.\nG00 Z50.\nM30\n%\n");
        m_files.ncFiles = {file("P.NC")};
        m_files.restartWhere = "N50";
        m_files.deviceFile = file("RESTART.TAP");
        {
            FrameWindow frame(m_state, m_files);
            frame.host().setClock(&m_clock);
            frame.dispatchCommand(3016);
        }
        QCOMPARE(m_files.restartQuestions, 1);
        QCOMPARE(QString::fromStdString(m_files.restartProgram), file("P.NC"));

        writeFile(file("R.NC"), "%\nO0001\n(RESTART AT N50 LINE 7)\nG21 G54 G40 G80\nT1 M06\n"
                                "S900 M03\nG90 G00 X1. Y2.\nG90 G00 G43 H1 Z5.\nG90 G00\n"
                                "N50 G01 Z-1. F80.\nG00 Z50.\nM30\n%\n");
        m_files.ncFiles = {file("R.NC")};
        m_files.deviceFile = file("PLAIN.TAP");
        {
            FrameWindow frame(m_state, m_files);
            frame.host().setClock(&m_clock);
            frame.dispatchCommand(3000);
        }
        QVERIFY(readFile(file("PLAIN.TAP")).contains("G90 G00 G43 H1 Z5."));
        QCOMPARE(readFile(file("RESTART.TAP")), readFile(file("PLAIN.TAP")));

        // Cancelled: nothing is sent.
        m_files.ncFiles = {file("P.NC")};
        m_files.restartWhere.clear();
        m_files.deviceFile = file("NONE.TAP");
        {
            FrameWindow frame(m_state, m_files);
            frame.dispatchCommand(3016);
        }
        QVERIFY(!QFileInfo::exists(file("NONE.TAP")));
    }

    // The dialog lists the tool changes, previews the header of the place chosen and offers
    // Send only where the planner allows a restart.
    void restartDialogOffersSendOnlyForAnAllowedPlace() {
        writeFile(file("P.NC"), "%\nO0001\nG21 G90 G54\n(ROUGH)\nT1 M06\nG00 X0 Y0 S900 M03\n"
                                "G43 H1 Z5.\nG41 D1 G01 X5. F100.\nN30 Y20.\nG40 G00 X0\n"
                                "T2 M06 (DRILL)\nM30\n%\n");
        RestartDialog dialog(file("P.NC").toStdString(), m_state.language);
        QCOMPARE(dialog.toolChanges()->count(), 2);
        QVERIFY(dialog.toolChanges()->item(0)->text().contains(QStringLiteral("ROUGH")));
        dialog.toolChanges()->setCurrentRow(1);
        QCOMPARE(dialog.placeEdit()->text(), QStringLiteral("T2"));
        QVERIFY(
            dialog.preview()->toPlainText().contains(QStringLiteral("(RESTART AT T2 LINE 11)")));
        QVERIFY(dialog.sendButton()->isEnabled());
        QCOMPARE(dialog.place(), std::string("T2"));

        dialog.placeEdit()->setText(QStringLiteral("N30"));
        QVERIFY(!dialog.sendButton()->isEnabled());
        QVERIFY(dialog.preview()->toPlainText().contains(QStringLiteral("cutter compensation")));

        dialog.placeEdit()->setText(QStringLiteral("X9"));
        QVERIFY(!dialog.sendButton()->isEnabled());
        saveScreenshot(dialog, "restart-dialog");
    }

    void sendThroughTheWindowPunchesTheExactBytes() {
        writeFile(file("A.NC"), "%\nO0001\nG00X1.5\nM30\n%\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.resize(720, 420);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        saveScreenshot(frame, "frame-idle");

        std::map<int, bool> during;
        bool pressed = false;
        bool progressShown = false;
        QString title;
        m_files.duringTransfer = [&] {
            during = enabledStates(frame);
            pressed = frame.isButtonPressed(3000);
            QVERIFY(m_state.transfer.TransferBusy);
            // Refused while busy: the bars stay as they are, no second question is asked.
            frame.dispatchCommand(3004);
            frame.dispatchCommand(3000);
        };
        // The bar shows once the line is open, while the data goes out.
        connect(frame.progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (value > 0 && frame.progressBar()->isVisible()) {
                progressShown = true;
                title = frame.windowTitle();
                if (!QFileInfo::exists(QStringLiteral(CORVANE_SCREENSHOT_DIR "/frame-sending.png")))
                    saveScreenshot(frame, "frame-sending");
            }
        });
        QTest::keyClick(&frame, Qt::Key_O, Qt::ControlModifier);

        // DC2 before the data and DC4 after it, as on a serial line; nothing else around it.
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12%\nO0001\nG00X1.5\nM30\n%\n\x14"));
        // Only what acts during a send: Interrupt, and the manual. Send itself does nothing
        // then (its button stays pressed, greyed).
        const std::map<int, bool> duringSend = {{3000, false}, {3001, false}, {3002, false},
                                                {3009, false}, {3010, true},  {3013, true},
                                                {3015, false}};
        QCOMPARE(during, duringSend);
        QVERIFY(pressed);
        QVERIFY(progressShown);
        QCOMPARE(title, file("A.NC") + QStringLiteral(" - Corvane Sending..."));
        QCOMPARE(m_state.config.ToolBar, 0);
        QCOMPARE(m_files.ncQuestions, 1);

        // Idle again: every command but Interrupt, the button released, the history updated.
        const std::map<int, bool> idle = {{3000, true}, {3001, true},  {3002, true}, {3009, true},
                                          {3010, true}, {3013, false}, {3015, true}};
        QCOMPARE(enabledStates(frame), idle);
        QVERIFY(!frame.isButtonPressed(3000));
        QVERIFY(!frame.progressBar()->isVisible());
        QVERIFY(!m_state.transfer.TransferBusy);
        QVERIFY(!m_state.transfer.TransferRunning);
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file("A.NC"));
        QVERIFY(frame.windowTitle().startsWith(QStringLiteral("Corvane Version ")));
        saveScreenshot(frame, "frame-after-send");
    }

    void queueSendPressesTheButtonOfItsCount_data() {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("pressedId");
        QTest::addColumn<bool>("sendEnabled");
        QTest::addColumn<bool>("listEnabled");
        QTest::newRow("one file: Send") << 1 << 3000 << false << false;
        QTest::newRow("two files: Send list") << 2 << 3001 << false << false;
    }

    void queueSendPressesTheButtonOfItsCount() {
        QFETCH(int, files);
        QFETCH(int, pressedId);
        writeFile(file("A.NC"), "G01X1\n");
        writeFile(file("B.NC"), "G01X2\n");
        m_files.deviceFile = file("PUNCH.TAP");
        const char* names[] = {"A.NC", "B.NC"};
        for (int i = 0; i < files; ++i)
            qstrncpy(m_state.queue.Entries[i].Name, file(names[i]).toLocal8Bit().constData(), 260);
        m_state.queue.Count = files;
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        bool pressed = false;
        std::map<int, bool> during;
        m_files.duringTransfer = [&] {
            pressed = frame.isButtonPressed(pressedId);
            during = enabledStates(frame);
        };
        frame.dispatchCommand(5000);
        QVERIFY(pressed);
        QTEST(during[3000], "sendEnabled");
        QTEST(during[3001], "listEnabled");
        QCOMPARE(during[3002], false);
        QCOMPARE(during[3013], true);
        QVERIFY(!frame.isButtonPressed(3000));
        QVERIFY(!frame.isButtonPressed(3001));
        QCOMPARE(m_files.ncQuestions, 0);
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file(names[files - 1]));
    }

    void emptyQueueSendDoesNothing() {
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.dispatchCommand(5000);
        QCOMPARE(m_files.ncQuestions, 0);
        QCOMPARE(m_state.config.NcFileHistory[0][0], '\0');
    }

    // Exit and the close button while a transfer runs ask first; Yes (and another program's
    // 5001, which no one can answer) only asks the engine to stop; the window closes after the
    // engine has returned, and the file of the stopped send still enters the history.
    void closeDuringATransferWaitsForTheEngine_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("F12") << 0;
        QTest::newRow("close button") << 1;
        QTest::newRow("5001") << 2;
    }

    void closeDuringATransferWaitsForTheEngine() {
        QFETCH(int, way);
        writeFile(file("A.NC"), "G01X1\nG01X2\nG01X3\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.setCloseDelay(0);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        bool stillOpen = false;
        m_files.duringTransfer = [&] {
            if (way == 0)
                QTest::keyClick(&frame, Qt::Key_F12);
            else if (way == 1)
                frame.close();
            else
                frame.dispatchCommand(5001);
            if (way != 2) {
                auto* box = frame.findChild<QMessageBox*>(QStringLiteral("stopTransferBox"));
                QVERIFY(box != nullptr && box->isVisible());
                QCOMPARE(m_state.transfer.InterruptRequest, 0); // not before the answer
                box->button(QMessageBox::Yes)->click();
            }
            stillOpen = frame.isVisible();
        };
        frame.dispatchCommand(3000);
        QVERIFY(stillOpen);
        QCOMPARE(m_state.transfer.InterruptRequest, 2);
        QVERIFY(readFile(file("PUNCH.TAP")).isEmpty());
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file("A.NC"));
        // Nothing is accepted while the close is pending.
        frame.dispatchCommand(3004);
        QCOMPARE(m_state.config.ToolBar, 0);
        QTRY_VERIFY(!frame.isVisible());
    }

    // A device file takes blocks far faster than a screen repaints: the pane repaints once a
    // tick, not once a line, and still holds the newest lines, every one, in order.
    void linesFasterThanTheScreenAllShowInOrderWithFewRepaints() {
        constexpr int Blocks = 2000;
        QByteArray program;
        for (int i = 1; i <= Blocks; ++i)
            program += "N" + QByteArray::number(i * 10) + "G01X" + QByteArray::number(i) + "\n";
        writeFile(file("A.NC"), program);
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.resize(720, 420);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        PaintCounter paints;
        frame.logPane()->installEventFilter(&paints);

        frame.dispatchCommand(3000);
        QCoreApplication::processEvents();

        QCOMPARE(readFile(file("PUNCH.TAP")), "\x12" + program + "\x14");
        const LogPane* pane = frame.logPane();
        QVERIFY(pane->heldCount() > 5);
        int expected = -1; // the block number the next echo row must carry
        int echoes = 0;
        for (int row = 0; row < pane->heldCount(); ++row) {
            const QString text = pane->rowText(row);
            if (text.size() < 7 || text.mid(5, 2) != QStringLiteral(": ") || !text[0].isDigit())
                continue;
            const int number = text.left(5).toInt();
            if (expected >= 0)
                QCOMPARE(number, expected);
            QCOMPARE(text.mid(7), QStringLiteral("N%1G01X%2").arg(number * 10).arg(number));
            expected = number + 1;
            ++echoes;
        }
        QCOMPARE(expected, Blocks + 1);
        QVERIFY(echoes > 3);
        QVERIFY2(paints.count < Blocks / 10, qPrintable(QString::number(paints.count)));
    }

    // The question keeps the send going: No, Escape on the question, or no answer at all
    // until the send has ended. The send is not held up while the question stands.
    void closeDuringASendKeepsSendingUnlessTheAnswerIsYes_data() {
        QTest::addColumn<int>("answer"); // 0 No, 1 Escape, 2 none
        QTest::addColumn<int>("language");
        QTest::newRow("No") << 0 << 0;
        QTest::newRow("Escape") << 1 << 1;
        QTest::newRow("no answer") << 2 << 0;
    }

    void closeDuringASendKeepsSendingUnlessTheAnswerIsYes() {
        QFETCH(int, answer);
        QFETCH(int, language);
        m_state.language = language == 0 ? Language::English : Language::Japanese;
        LoadProductStrings(m_state.language, "", m_state.product);
        writeFile(file("A.NC"), "G01X1\nG01X2\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.setCloseDelay(0);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        QString text;
        bool defaultNo = false;
        m_files.duringTransfer = [&] {
            frame.close();
            auto* box = frame.findChild<QMessageBox*>(QStringLiteral("stopTransferBox"));
            QVERIFY(box != nullptr && box->isVisible());
            text = box->text();
            defaultNo = box->standardButton(box->defaultButton()) == QMessageBox::No;
            if (answer == 0 && language == 0) {
                QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
                box->grab().save(
                    QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-en-stop-sending.png"));
            } else if (language == 1) {
                box->grab().save(
                    QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-ja-stop-sending.png"));
            }
            if (answer == 0)
                box->button(QMessageBox::No)->click();
            else if (answer == 1)
                QTest::keyClick(box, Qt::Key_Escape);
        };
        frame.dispatchCommand(3000);
        QVERIFY(defaultNo);
        QVERIFY2(text.contains(QString::fromUtf8(m_state.text(IDS_ASK_STOP_SENDING))),
                 qPrintable(text));
        QCOMPARE(m_state.transfer.InterruptRequest, 0);
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\nG01X2\n\x14"));
        QTest::qWait(20);
        QVERIFY(frame.isVisible());
        // The question of a send that has ended is gone.
        QTRY_VERIFY(frame.findChild<QMessageBox*>(QStringLiteral("stopTransferBox")) == nullptr);
    }

    // Interrupt is in the File menu, enabled only while a transfer runs.
    void interruptIsInTheFileMenuOnlyDuringATransfer() {
        FrameWindow frame(m_state, m_files);
        auto* fileMenu = frame.findChild<QMenu*>(QStringLiteral("menuFile"));
        QVERIFY(fileMenu != nullptr);
        QVERIFY(fileMenu->actions().contains(frame.action(3013)));
        QCOMPARE(frame.action(3013)->shortcut(), QKeySequence(Qt::Key_Escape));
        QVERIFY(!frame.action(3013)->isEnabled());
    }

    // A menu opened and closed from the keyboard during a send leaves the menu bar holding the
    // keyboard; the next Escape still stops the send.
    void escapeStopsASendAfterAMenuWasOpenedAndClosedByKey() {
        writeFile(file("A.NC"), "G01X1\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        bool menuOpened = false;
        int afterMenuClosed = -1;
        m_files.duringTransfer = [&] {
            QWindow* window = frame.windowHandle();
            QTest::keyClick(window, Qt::Key_F, Qt::AltModifier);
            QCoreApplication::processEvents();
            menuOpened = qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr;
            QTest::keyClick(window, Qt::Key_Escape); // closes the menu
            QCoreApplication::processEvents();
            afterMenuClosed = m_state.transfer.InterruptRequest;
            QTest::keyClick(window, Qt::Key_Escape); // the user's interrupt
            QCoreApplication::processEvents();
        };
        frame.dispatchCommand(3000);
        QVERIFY(menuOpened);
        QCOMPARE(afterMenuClosed, 0); // closing the menu is not yet an interrupt
        QCOMPARE(m_state.transfer.InterruptRequest, 1);
        QVERIFY(readFile(file("PUNCH.TAP")).isEmpty());
    }

    // The log pane's menu repeats commands that do nothing during a transfer: it shows them
    // greyed, and does not hold the transfer up while it is open.
    void logPaneMenuIsGreyedDuringATransfer() {
        writeFile(file("A.NC"), "G01X1\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QList<bool> enabled;
        m_files.duringTransfer = [&] {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                    frame.logPane()->mapToGlobal(QPoint(0, 0)));
            QApplication::sendEvent(frame.logPane(), &event);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* action : menu->actions())
                if (!action->isSeparator())
                    enabled << action->isEnabled();
            menu->close();
        };
        frame.dispatchCommand(3000);
        QCOMPARE(enabled, QList<bool>(7, false));
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\n\x14"));
    }

    // F1 with no program to show the manual, or no manual at all, says so (with the path),
    // instead of doing nothing.
    void helpThatCannotOpenSaysSo_data() {
        QTest::addColumn<bool>("installed");
        QTest::newRow("no program for it") << true;
        QTest::newRow("not installed") << false;
    }

    void helpThatCannotOpenSaysSo() {
        QFETCH(bool, installed);
        writeFile(file("index.html"), "<html></html>");
        m_state.helpFilePath =
            (installed ? file("index.html") : file("gone/index.html")).toStdString();
        FrameWindow frame(m_state, m_files);
        int asked = 0;
        frame.dialogServices().openManual = [&](const QUrl&) {
            ++asked;
            return false;
        };
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTest::keyClick(&frame, Qt::Key_F1);
        auto* box = frame.findChild<QMessageBox*>(QStringLiteral("helpNotShownBox"));
        QVERIFY(box != nullptr);
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(asked, installed ? 1 : 0);
        const int id = installed ? IDS_HELP_NOT_OPENED : IDS_HELP_NOT_INSTALLED;
        QVERIFY2(box->text().startsWith(QString::fromUtf8(m_state.text(id))),
                 qPrintable(box->text()));
        QVERIFY2(box->text().contains(QString::fromStdString(m_state.helpFilePath)),
                 qPrintable(box->text()));
        if (installed) {
            QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
            box->grab().save(
                QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-en-help-not-opened.png"));
        }
        box->close();
    }

    // The manual opens during a transfer, and the transfer goes on.
    void helpOpensDuringATransfer() {
        writeFile(file("index.html"), "<html></html>");
        m_state.helpFilePath = file("index.html").toStdString();
        writeFile(file("A.NC"), "G01X1\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        QList<QUrl> pages;
        frame.dialogServices().openManual = [&](const QUrl& page) {
            pages << page;
            return true;
        };
        bool helpEnabled = false;
        m_files.duringTransfer = [&] {
            helpEnabled = frame.action(3010)->isEnabled();
            frame.action(3010)->trigger();
        };
        frame.dispatchCommand(3000);
        QVERIFY(helpEnabled);
        QCOMPARE(pages, QList<QUrl>{QUrl::fromLocalFile(file("index.html"))});
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\n\x14"));
    }

    void interruptStopsTheSendAndTheWindowStays() {
        writeFile(file("A.NC"), "G01X1\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        m_files.duringTransfer = [&] { frame.action(3013)->trigger(); };
        frame.dispatchCommand(3000);
        QCOMPARE(m_state.transfer.InterruptRequest, 1);
        QVERIFY(readFile(file("PUNCH.TAP")).isEmpty());
        QVERIFY(frame.isVisible());
        QVERIFY(!frame.action(3013)->isEnabled());
    }

    void menuHelpShowsTheHintOfTheHighlightedCommand() {
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        auto* fileMenu = frame.findChild<QMenu*>(QStringLiteral("menuFile"));
        QVERIFY(fileMenu != nullptr);
        fileMenu->popup(frame.mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(fileMenu->isVisible());
        QVERIFY(frame.statusParts()->simpleMode());
        emit fileMenu->hovered(frame.action(3002));
        QCOMPARE(frame.statusParts()->simpleText(),
                 QStringLiteral("Receive an NC program from the machine into a file"));
        fileMenu->hide();
        QTRY_VERIFY(!frame.statusParts()->simpleMode());
    }

    // Resting the pointer on a tool button whose command is also in a menu makes that menu
    // report the action hovered; the bar must not take that for menu help. And whatever
    // state the bar is in, a transfer shows its four parts.
    void toolButtonHoverAndTransfersKeepTheStatusPartsShown() {
        writeFile(file("A.NC"), "G01X1\n");
        m_files.ncFiles = {file("A.NC")};
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        for (int id : {3000, 3001, 3002, 3015, 3009, 3010})
            frame.action(id)->hover();
        QVERIFY(!frame.statusParts()->simpleMode());

        frame.statusParts()->SetStatusText(-1, QStringLiteral("a hint left behind"));
        bool simpleDuringTransfer = true;
        m_files.duringTransfer = [&] { simpleDuringTransfer = frame.statusParts()->simpleMode(); };
        frame.dispatchCommand(3000);
        QVERIFY(!simpleDuringTransfer);
    }

    // A machine named on the command line is used for the run only: at exit McnFile is put
    // back and the configuration is written without it.
    void startUpAndExitKeepACommandLineMachineOutOfTheConfiguration() {
        writeFile(file("corvane.cfg"), "");
        writeFile(file("MILL.MDF"), "[MCN_RS232C]\nOutCode=2\n");
        CorvaneApp app(file("corvane").toStdString(),
                       {"/TOPMOST", "/US", ("/MDF=" + file("MILL.MDF")).toStdString()});
        QVERIFY(app.start());
        QVERIFY(app.frame() != nullptr);
        QVERIFY(app.frame()->isVisible());
        QVERIFY(app.frame()->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(app.state().machine.line.OutCode, 2);
        QCOMPARE(QString::fromLocal8Bit(app.state().config.McnFile), file("MILL.MDF"));
        QCOMPARE(app.state().configFilePath, file("corvane.cfg").toStdString());
        app.frame()->dispatchCommand(3003);
        QVERIFY(!app.frame()->isVisible());
        QCOMPARE(app.finish(), 1);
        const QByteArray saved = readFile(file("corvane.cfg"));
        QVERIFY2(saved.contains("WindowPos"), saved.constData());
        QVERIFY2(!saved.contains("MILL.MDF"), saved.constData());
        QCOMPARE(app.state().config.McnFile[0], '\0');
    }

    // Qt's own texts follow the window's language: a Japanese window has Japanese buttons in
    // its questions, an English one English buttons.
    void standardButtonsFollowTheWindowsLanguage_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("yes");
        QTest::newRow("Japanese") << QStringLiteral("/JP") << QStringLiteral("はい(&Y)");
        QTest::newRow("English") << QStringLiteral("/US") << QStringLiteral("&Yes");
    }

    void standardButtonsFollowTheWindowsLanguage() {
        QFETCH(QString, language);
        QFETCH(QString, yes);
        writeFile(file("corvane.cfg"), "");
        {
            CorvaneApp app(file("corvane").toStdString(),
                           {language.toStdString(), ("/CFG=" + file("corvane.cfg")).toStdString()});
            QVERIFY(app.start());
            QMessageBox box(QMessageBox::Question, QString(), QString(),
                            QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box.button(QMessageBox::Yes)->text(), yes);
            app.frame()->dispatchCommand(3003);
        }
        // The translation goes with the application object.
        QMessageBox after(QMessageBox::Question, QString(), QString(), QMessageBox::Yes);
        QCOMPARE(after.button(QMessageBox::Yes)->text(), QStringLiteral("&Yes"));
    }

    // A configuration that cannot be written at exit: the user is told why, and nothing that
    // stands in its way is touched.
    void configurationThatCannotBeSavedIsReported() {
        writeFile(file("blocker"), "not a folder");
        writeFile(file("corvane.cfg"), "");
        CorvaneApp app(file("corvane").toStdString(),
                       {"/US", ("/CFG=" + file("corvane.cfg")).toStdString()});
        QVERIFY(app.start());
        app.state().configFilePath = file("blocker/corvane.cfg").toStdString();
        app.frame()->dispatchCommand(3003);

        QString message;
        QTimer::singleShot(0, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                message = box->text();
                box->accept();
            }
        });
        QCOMPARE(app.finish(), 0);
        QVERIFY2(message.contains(file("blocker")), qPrintable(message));
        QCOMPARE(readFile(file("blocker")), QByteArray("not a folder"));
    }
};

QTEST_MAIN(FrameWindowTest)
#include "FrameWindowTest.moc"
