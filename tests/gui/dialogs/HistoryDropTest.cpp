// The history popups under the Send and Machine buttons and files dropped on the frame.

#include <cstring>
#include <iterator>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "app/FrameWindow.h"
#include "app/HistoryMenus.h"
#include "common/AppState.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/SteppingClock.h"

#include "gui/dialogs/DialogTestSupport.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::readFile;
using corvane::testing::SteppingClock;
using corvane::testing::writeFile;

namespace {

struct Item {
    QString text;
    int id;
    bool enabled;
    bool separator;
};

std::vector<Item> itemsOf(const QMenu& menu) {
    std::vector<Item> items;
    for (QAction* action : menu.actions())
        items.push_back(
            {action->text(), action->data().toInt(), action->isEnabled(), action->isSeparator()});
    return items;
}

enum class DropStep { EnterOnly, DropOnly, Both };

// Drops `paths` on `target` as a file manager would, and tells whether the window took the
// steps sent: the drag entering (where the cursor shows a refusal) and the drop itself.
bool drop(QWidget& target, const QStringList& paths, DropStep steps = DropStep::Both) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.push_back(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    const QPoint where = target.rect().center();
    bool accepted = true;
    if (steps != DropStep::DropOnly) {
        QDragEnterEvent enter(where, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&target, &enter);
        accepted = accepted && enter.isAccepted();
    }
    if (steps != DropStep::EnterOnly) {
        QDropEvent event(QPointF(where), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // The application hands a drop only to the widget that took the drag; a drop alone
        // goes to the window directly.
        if (steps == DropStep::DropOnly)
            static_cast<QObject&>(target).event(&event);
        else
            QApplication::sendEvent(&target, &event);
        accepted = accepted && event.isAccepted();
    }
    return accepted;
}

} // namespace

class HistoryDropTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    NoFileQuestions m_files;
    SteppingClock m_clock;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // A machine that punches ASCII into a file, with no leaders or codes around the data
    // other than DC2 and DC4.
    static MachineDef fileMachine() {
        MachineDef machine;
        MachineDefSetDefaults(machine.line, machine.config);
        machine.line.OutCode = 2;
        machine.line.HandShake = 0;
        machine.config.OutofFile = 1;
        machine.config.HeadLf = 0;
        machine.config.LfCode = 0;
        machine.config.ErCode = 0;
        machine.config.SendDelay = 0;
        return machine;
    }

    QMenu* popup(FrameWindow& frame, int buttonId) {
        auto* button =
            frame.toolBar()->findChild<QToolButton*>(QStringLiteral("button%1").arg(buttonId));
        return button != nullptr ? button->menu() : nullptr;
    }

    // Opens the popup as the arrow does, and closes it again.
    std::vector<Item> openPopup(FrameWindow& frame, int buttonId) {
        QMenu* menu = popup(frame, buttonId);
        if (menu == nullptr)
            return {};
        menu->popup(frame.mapToGlobal(QPoint(10, 40)));
        std::vector<Item> items = itemsOf(*menu);
        menu->hide();
        return items;
    }

private slots:
    void init() {
        m_state = AppState{};
        LoadProductStrings(m_state.language, "", m_state.product);
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        m_files = NoFileQuestions{};
    }

    void twelveFilesAreNumberedOneToNineThenZero() {
        for (int i = 12; i >= 1; --i)
            UpdateHistory(m_state.config, 0, 0,
                          QStringLiteral("/shop/cell %1/O%2.nc")
                              .arg(i)
                              .arg(1000 + i)
                              .toLocal8Bit()
                              .constData());
        FrameWindow frame(m_state, m_files);
        frame.show();

        const std::vector<Item> items = openPopup(frame, 3000);

        QCOMPARE(items.size(), size_t(14));
        for (int i = 0; i < 12; ++i) {
            const int number = i < 9 ? i + 1 : 0;
            QCOMPARE(
                items[i].text,
                QStringLiteral("&%1 O%2.nc\t/shop/cell %3").arg(number).arg(1001 + i).arg(i + 1));
            QCOMPARE(items[i].id, 2101 + i);
            QVERIFY(items[i].enabled);
        }
        QVERIFY(items[12].separator);
        QCOMPARE(items[13].text, QStringLiteral("New &open...\tCtrl+O"));
        QCOMPARE(items[13].id, 3000);
    }

    // Ctrl+O is Send; only the NC list's item may advertise it.
    void anEmptyHistoryShowsOnlyTheOpenItem_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("openId");
        QTest::addColumn<QString>("openText");
        QTest::newRow("NC files") << 3000 << 3000 << QStringLiteral("New &open...\tCtrl+O");
        QTest::newRow("machines") << 3015 << 3014 << QStringLiteral("New &open...");
    }
    void anEmptyHistoryShowsOnlyTheOpenItem() {
        QFETCH(int, button);
        QFETCH(int, openId);
        QFETCH(QString, openText);
        FrameWindow frame(m_state, m_files);
        frame.show();
        const std::vector<Item> items = openPopup(frame, button);
        QCOMPARE(items.size(), size_t(1));
        QCOMPARE(items[0].text, openText);
        QCOMPARE(items[0].id, openId);
    }

    void theMachinePopupListsTheMachineHistoryWithItsOwnIds() {
        UpdateHistory(m_state.config, 1, 0, "/shop/MILL.MDF");
        UpdateHistory(m_state.config, 1, 0, "/shop/R&D/LATHE.MDF");
        FrameWindow frame(m_state, m_files);
        frame.show();
        const std::vector<Item> items = openPopup(frame, 3015);
        QCOMPARE(items.size(), size_t(4));
        // An ampersand in a path is shown, not taken as an access key.
        QCOMPARE(items[0].text, QStringLiteral("&1 LATHE.MDF\t/shop/R&&D"));
        QCOMPARE(items[0].id, 2201);
        QCOMPARE(items[1].text, QStringLiteral("&2 MILL.MDF\t/shop"));
        QCOMPARE(items[1].id, 2202);
        QCOMPARE(items[3].id, 3014);
    }

    // The keyboard reaches both histories through the File menu: the same items as the
    // arrows' popups, greyed while a transfer runs, dispatched when chosen.
    void fileMenuHoldsBothHistories() {
        UpdateHistory(m_state.config, 0, 0, "/shop/O1000.nc");
        UpdateHistory(m_state.config, 1, 0, "/shop/MILL.MDF");
        FrameWindow frame(m_state, m_files);
        frame.show();
        auto* fileMenu = frame.findChild<QMenu*>(QStringLiteral("menuFile"));
        auto* nc = frame.findChild<QMenu*>(QStringLiteral("menuRecentNcFiles"));
        auto* machines = frame.findChild<QMenu*>(QStringLiteral("menuRecentMachines"));
        QVERIFY(fileMenu && nc && machines);
        QVERIFY(fileMenu->actions().contains(nc->menuAction()));
        QVERIFY(fileMenu->actions().contains(machines->menuAction()));

        emit nc->aboutToShow();
        std::vector<Item> items = itemsOf(*nc);
        QCOMPARE(items.size(), size_t(3));
        QCOMPARE(items[0].text, QStringLiteral("&1 O1000.nc\t/shop"));
        QCOMPARE(items[0].id, 2101);
        QCOMPARE(items[2].id, 3000);
        emit machines->aboutToShow();
        items = itemsOf(*machines);
        QCOMPARE(items.size(), size_t(3));
        QCOMPARE(items[0].id, 2201);
        QCOMPARE(items[2].text, QStringLiteral("New &open..."));
        QCOMPARE(items[2].id, 3014);

        m_state.transfer.TransferBusy = true;
        emit nc->aboutToShow();
        for (const Item& item : itemsOf(*nc))
            QVERIFY(item.separator || !item.enabled);
        m_state.transfer.TransferBusy = false;

        // Choosing the machine loads it and opens the machine sheet on it.
        writeFile(file("LATHE.MDF"), "[MCN_RS232C]\nBaudRate=3\n");
        UpdateHistory(m_state.config, 1, 0, file("LATHE.MDF").toLocal8Bit().constData());
        emit machines->aboutToShow();
        machines->actions().first()->trigger();
        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFile), file("LATHE.MDF"));
        QCOMPARE(m_state.machine.line.BaudRate, 3);
    }

    void everyItemIsGreyedWhileATransferRuns() {
        UpdateHistory(m_state.config, 0, 0, "/shop/O1000.nc");
        UpdateHistory(m_state.config, 0, 0, "/shop/O2000.nc");
        QMenu menu;
        fillHistoryMenu(menu, HistoryKind::NcFiles, m_state.config, Language::English, false);
        const std::vector<Item> items = itemsOf(menu);
        QCOMPARE(items.size(), size_t(4));
        for (const Item& item : items)
            QVERIFY(item.separator || !item.enabled);

        // Through the frame: the popup opened while busy.
        FrameWindow frame(m_state, m_files);
        frame.show();
        m_state.transfer.TransferBusy = true;
        for (const Item& item : openPopup(frame, 3000))
            QVERIFY(item.separator || !item.enabled);
        m_state.transfer.TransferBusy = false;
    }

    void aHistoryItemSendsItsFile() {
        writeFile(file("O1000.nc"), "%\nO1000\nM30\n%\n");
        UpdateHistory(m_state.config, 0, 0, file("O1000.nc").toLocal8Bit().constData());
        UpdateHistory(m_state.config, 0, 0, "/shop/other.nc");
        m_state.machine = fileMachine();
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        QMenu* menu = popup(frame, 3000);
        menu->popup(frame.mapToGlobal(QPoint(10, 40)));
        QAction* second = menu->actions().at(1);
        QCOMPARE(second->data().toInt(), 2102);
        second->trigger();

        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12%\nO1000\nM30\n%\n\x14"));
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file("O1000.nc"));
    }

    void aMachineFileAndTwoNcFilesDroppedLoadTheMachineAndSendBoth() {
        writeFile(file("O2000.nc"), "%\nO2000\n%\n");
        writeFile(file("O1000.nc"), "%\nO1000\n%\n");
        const MachineDef cell = fileMachine();
        QCOMPARE(
            MachineDefWrite(file("CELL.MDF").toLocal8Bit().constData(), cell.line, cell.config), 1);
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();

        QVERIFY(drop(frame, {file("O2000.nc"), file("CELL.MDF"), file("O1000.nc")}));

        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFile), file("CELL.MDF"));
        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFileHistory[0]), file("CELL.MDF"));
        QCOMPARE(m_state.machine.config.OutofFile, 1);
        // The send follows once the drop is over, with the machine just loaded.
        QTRY_COMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12%\nO2000\n%\n%\nO1000\n%\n\x14"));
        QTRY_VERIFY(!m_state.transfer.TransferBusy);
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file("O1000.nc"));
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[1]), file("O2000.nc"));
    }

    void aMachineFileDroppedAloneSendsNothing() {
        const MachineDef cell = fileMachine();
        QCOMPARE(
            MachineDefWrite(file("ALONE.MDF").toLocal8Bit().constData(), cell.line, cell.config),
            1);
        m_files.deviceFile = file("NEVER.TAP");
        FrameWindow frame(m_state, m_files);
        frame.show();
        QVERIFY(drop(frame, {file("ALONE.MDF")}));
        QCoreApplication::processEvents();
        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFile), file("ALONE.MDF"));
        QCOMPARE(m_state.queue.Count, 0);
        QVERIFY(!QFileInfo::exists(file("NEVER.TAP")));
    }

    void aLinkDroppedIsFollowedToItsFile() {
        writeFile(file("O3000.nc"), "%\nO3000\n%\n");
        QVERIFY(QFile::link(file("O3000.nc"), file("latest program")));
        writeFile(file("program.desktop"), "[Desktop Entry]\nType=Link\nURL=" +
                                               QUrl::fromLocalFile(file("O3000.nc")).toEncoded() +
                                               "\n");
        m_state.machine = fileMachine();
        m_files.deviceFile = file("PUNCH.TAP");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();

        QVERIFY(drop(frame, {file("latest program"), file("program.desktop")}));

        QTRY_COMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12%\nO3000\n%\n%\nO3000\n%\n\x14"));
        QTRY_VERIFY(!m_state.transfer.TransferBusy);
        // The history names the file itself, once.
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]),
                 QFileInfo(file("O3000.nc")).canonicalFilePath());
        QCOMPARE(m_state.config.NcFileHistory[1][0], '\0');
    }

    void aDropIsRefusedWhileATransferRuns() {
        writeFile(file("O4000.nc"), "%\n");
        const MachineDef cell = fileMachine();
        QCOMPARE(
            MachineDefWrite(file("BUSY.MDF").toLocal8Bit().constData(), cell.line, cell.config), 1);
        FrameWindow frame(m_state, m_files);
        frame.show();
        m_state.queue.Count = 1;
        std::strcpy(m_state.queue.Entries[0].Name, "/shop/running.nc");
        m_state.transfer.TransferBusy = true;

        QVERIFY(!drop(frame, {file("BUSY.MDF"), file("O4000.nc")}, DropStep::EnterOnly));
        // A drop that arrives all the same is refused as well.
        QVERIFY(!drop(frame, {file("BUSY.MDF"), file("O4000.nc")}, DropStep::DropOnly));
        QCoreApplication::processEvents();

        QCOMPARE(m_state.config.McnFile[0], '\0');
        QCOMPARE(m_state.queue.Count, 1);
        QCOMPARE(QString(m_state.queue.Entries[0].Name), QStringLiteral("/shop/running.nc"));
        m_state.transfer.TransferBusy = false;
    }

    void screenshots_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("english") << int(Language::English) << "history-en.png";
        QTest::newRow("japanese") << int(Language::Japanese) << "history-ja.png";
    }
    void screenshots() {
        QFETCH(int, language);
        QFETCH(QString, file);
        m_state.language = Language(language);
        const char* paths[] = {
            "/srv/nc/customers/hartmann/flange-series-2024/op20/O1002_FLANGE_OP20.nc",
            "/srv/nc/customers/hartmann/flange-series-2024/op10/O1001_FLANGE_OP10.nc",
            "/home/machinist/programs/O2040.NC",
            "/mnt/shopfloor/archive/2017/fixtures/plate/O7777_FIXTURE_PLATE_ROUGHING.nc",
            "/home/machinist/programs/O0001.nc",
            "/home/machinist/programs/O0002.nc",
            "/home/machinist/programs/O0003.nc",
            "/home/machinist/programs/O0004.nc",
            "/home/machinist/programs/O0005.nc",
            "/home/machinist/programs/O0006.nc",
            "/home/machinist/programs/O0007.nc",
        };
        for (auto it = std::rbegin(paths); it != std::rend(paths); ++it)
            UpdateHistory(m_state.config, 0, 0, *it);
        QMenu menu;
        fillHistoryMenu(menu, HistoryKind::NcFiles, m_state.config, m_state.language, true);
        menu.popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        menu.setActiveAction(menu.actions().at(0));
        saveScreenshot(menu, file);
        menu.hide();
    }
};

QTEST_MAIN(HistoryDropTest)
#include "HistoryDropTest.moc"
