#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>

#include "NcFolder.h"
#include "transfer/SendListDialog.h"

using corvane::EditSendList;
using corvane::FileChooser;
using corvane::Language;
using corvane::SendListDialog;
using corvane::SendQueue;
using corvane::test::NcFolder;
using corvane::test::ScriptedDialog;

namespace {

struct Buttons {
    bool add, remove, up, down, ok;
};

Buttons buttonsOf(const SendListDialog& dialog) {
    auto enabled = [&](const char* name) {
        auto* button = dialog.findChild<QPushButton*>(name);
        return button != nullptr && button->isEnabled();
    };
    return {enabled("addButton"), enabled("removeButton"), enabled("upButton"),
            enabled("downButton"), enabled("okButton")};
}

QString describe(const Buttons& b) {
    return QString("add=%1 remove=%2 up=%3 down=%4 ok=%5")
        .arg(b.add)
        .arg(b.remove)
        .arg(b.up)
        .arg(b.down)
        .arg(b.ok);
}

void click(SendListDialog& dialog, const char* name) {
    QTest::mouseClick(dialog.findChild<QPushButton*>(name), Qt::LeftButton);
}

QStringList listedNames(const SendListDialog& dialog) {
    QStringList names;
    for (int i = 0; i < dialog.queue().Count; ++i) {
        names << QDir(dialog.queue().Entries[i].Name).dirName();
    }
    return names;
}

QTreeWidget* listOf(const SendListDialog& dialog) {
    return dialog.findChild<QTreeWidget*>("fileList");
}

} // namespace

class SendListDialogTest : public QObject {
    Q_OBJECT

private slots:
    void opensTheFileSelectionAtOnceAndCancelLeavesOnlyAdd();
    void buttonsFollowTheSelection();
    void removingTheLastEntryMovesTheSelectionUp();
    void addStopsAtTheCapacity();
    void clickingARowSelectsIt();
    void columnsShowDateTimeAndSize_data();
    void columnsShowDateTimeAndSize();
    void columnsShareTheListWidth();
    void okHandsBackTheEditedList();
    void cancelLeavesTheQueue();
    void screenshots_data();
    void screenshots();

private:
    NcFolder m_folder;
    QStringList makeFiles(int count) {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            paths << m_folder.make(QString("O%1.nc").arg(i + 1, 4, 10, QChar('0')), 100 + i,
                                   QDateTime(QDate(2024, 5, 17), QTime(7, 30)));
        }
        return paths;
    }
};

void SendListDialogTest::opensTheFileSelectionAtOnceAndCancelLeavesOnlyAdd() {
    ScriptedDialog files; // no answer: the user cancels the file selection
    SendListDialog dialog(files.chooser(), "/srv/nc/", "nc", 32);
    dialog.show();
    QTRY_COMPARE(files.calls(), 1);
    QCOMPARE(files.lastOwner(), &dialog);
    QCOMPARE(files.lastRequest().title, QString("Selection of the send file"));
    QCOMPARE(files.lastRequest().folder, QString("/srv/nc/"));
    QVERIFY(files.lastRequest().multiple);
    QCOMPARE(dialog.queue().Count, 0);
    QCOMPARE(dialog.selection(), -1);
    const Buttons b = buttonsOf(dialog);
    QVERIFY2(b.add && !b.remove && !b.up && !b.down && !b.ok, qPrintable(describe(b)));

    // Showing it again (after a minimise, say) does not open the selection a second time.
    dialog.hide();
    dialog.show();
    QTest::qWait(0);
    QCOMPARE(files.calls(), 1);
}

void SendListDialogTest::buttonsFollowTheSelection() {
    ScriptedDialog files;
    files.answer(makeFiles(3));
    SendListDialog dialog(files.chooser(), "", "nc", 32);
    dialog.add();
    QCOMPARE(listedNames(dialog), (QStringList{"O0001.nc", "O0002.nc", "O0003.nc"}));

    struct Step {
        const char* press; // nullptr: the state right after adding
        int selection;
        QStringList order;
        Buttons buttons;
    };
    const QStringList abc{"O0001.nc", "O0002.nc", "O0003.nc"};
    const Step steps[] = {
        {nullptr, 2, abc, {true, true, true, false, true}},
        {"downButton", 2, abc, {true, true, true, false, true}}, // disabled: nothing
        {"upButton", 1, {"O0001.nc", "O0003.nc", "O0002.nc"}, {true, true, true, true, true}},
        {"upButton", 0, {"O0003.nc", "O0001.nc", "O0002.nc"}, {true, true, false, true, true}},
        {"upButton", 0, {"O0003.nc", "O0001.nc", "O0002.nc"}, {true, true, false, true, true}},
        {"downButton", 1, {"O0001.nc", "O0003.nc", "O0002.nc"}, {true, true, true, true, true}},
        {"removeButton", 1, {"O0001.nc", "O0002.nc"}, {true, true, true, false, true}},
        {"removeButton", 0, {"O0001.nc"}, {true, true, false, false, true}},
        {"removeButton", -1, {}, {true, false, false, false, false}},
    };
    for (const Step& step : steps) {
        if (step.press) {
            click(dialog, step.press);
        }
        const QString where = QString("after %1").arg(step.press ? step.press : "add");
        QVERIFY2(dialog.selection() == step.selection, qPrintable(where));
        QVERIFY2(listedNames(dialog) == step.order, qPrintable(where));
        const Buttons b = buttonsOf(dialog);
        QVERIFY2(b.add == step.buttons.add && b.remove == step.buttons.remove &&
                     b.up == step.buttons.up && b.down == step.buttons.down &&
                     b.ok == step.buttons.ok,
                 qPrintable(where + ": " + describe(b)));
        // The list shows the same selection the buttons act on.
        QTreeWidget* list = listOf(dialog);
        QCOMPARE(list->topLevelItemCount(), step.order.size());
        if (step.selection >= 0) {
            QVERIFY(list->topLevelItem(step.selection)->isSelected());
        }
    }
}

void SendListDialogTest::removingTheLastEntryMovesTheSelectionUp() {
    ScriptedDialog files;
    files.answer(makeFiles(3));
    SendListDialog dialog(files.chooser(), "", "nc", 32);
    dialog.add();
    QCOMPARE(dialog.selection(), 2);
    click(dialog, "removeButton");
    QCOMPARE(listedNames(dialog), (QStringList{"O0001.nc", "O0002.nc"}));
    QCOMPARE(dialog.selection(), 1);
    QVERIFY(listOf(dialog)->topLevelItem(1)->isSelected());
    QCOMPARE(dialog.queue().Entries[2].Name[0], '\0');
}

void SendListDialogTest::addStopsAtTheCapacity() {
    const QStringList forty = makeFiles(40);
    ScriptedDialog files;
    files.answer(forty.mid(0, 30));
    files.answer(forty.mid(30, 5));
    SendListDialog dialog(files.chooser(), "", "nc", 32);
    dialog.add();
    QCOMPARE(dialog.queue().Count, 30);
    QVERIFY(buttonsOf(dialog).add);

    click(dialog, "addButton");
    QCOMPARE(dialog.queue().Count, 32);
    QCOMPARE(QString(dialog.queue().Entries[31].Name), forty[31]);
    QCOMPARE(dialog.selection(), 31);
    QVERIFY(!buttonsOf(dialog).add);

    click(dialog, "addButton"); // disabled: no file dialog
    QCOMPARE(files.calls(), 2);

    // One removed makes room for one more.
    click(dialog, "removeButton");
    QVERIFY(buttonsOf(dialog).add);

    // A dialog given room for 40 still holds no more than the queue's 32.
    ScriptedDialog many;
    many.answer(forty);
    SendListDialog wide(many.chooser(), "", "nc", 40);
    wide.add();
    QCOMPARE(wide.queue().Count, 32);
    QVERIFY(!buttonsOf(wide).add);
}

void SendListDialogTest::clickingARowSelectsIt() {
    ScriptedDialog files;
    files.answer(makeFiles(4));
    SendListDialog dialog(files.chooser(), "", "nc", 32);
    dialog.show();
    QTRY_COMPARE(dialog.queue().Count, 4);
    QTreeWidget* list = listOf(dialog);

    const QRect second = list->visualItemRect(list->topLevelItem(1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(dialog.selection(), 1);
    Buttons b = buttonsOf(dialog);
    QVERIFY2(b.up && b.down, qPrintable(describe(b)));

    const QRect first = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first.center());
    QCOMPARE(dialog.selection(), 0);
    QVERIFY(!buttonsOf(dialog).up);

    // Below the rows: the choice stays, and stays visible.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(10, list->viewport()->height() - 3));
    QCOMPARE(dialog.selection(), 0);
    QVERIFY(list->topLevelItem(0)->isSelected());

    // Keyboard moves the selection too.
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(dialog.selection(), 1);
}

void SendListDialogTest::columnsShowDateTimeAndSize_data() {
    QTest::addColumn<QDateTime>("written");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("japanese");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("afternoon") << QDateTime(QDate(2017, 3, 5), QTime(12, 5)) << qint64(1200000)
                               << false << "2017/03/05"
                               << "PM 00:05"
                               << "1,200,000";
    QTest::newRow("last century") << QDateTime(QDate(1999, 12, 31), QTime(9, 30)) << qint64(999)
                                  << false << "99/12/31"
                                  << "AM 09:30"
                                  << "999";
    QTest::newRow("evening") << QDateTime(QDate(2008, 10, 1), QTime(23, 59)) << qint64(1000)
                             << false << "2008/10/01"
                             << "PM 11:59"
                             << "1,000";
    QTest::newRow("japanese") << QDateTime(QDate(2017, 3, 5), QTime(12, 5)) << qint64(0) << true
                              << "2017/03/05"
                              << "午後 00:05"
                              << "0";
    QTest::newRow("past 2 GiB") << QDateTime(QDate(2020, 1, 2), QTime(0, 0)) << qint64(3000000000)
                                << false << "2020/01/02"
                                << "AM 00:00"
                                << "3,000,000,000";
}

void SendListDialogTest::columnsShowDateTimeAndSize() {
    QFETCH(QDateTime, written);
    QFETCH(qint64, size);
    QFETCH(bool, japanese);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, sizeText);
    const QString path = m_folder.make("column.nc", size, written);
    ScriptedDialog files;
    files.answer({path});
    SendListDialog dialog(files.chooser(japanese ? Language::Japanese : Language::English), "",
                          "nc", 32);
    dialog.add();
    QTreeWidgetItem* item = listOf(dialog)->topLevelItem(0);
    QVERIFY(item);
    QCOMPARE(item->text(0), path);
    QCOMPARE(item->text(1), date);
    QCOMPARE(item->text(2), time);
    QCOMPARE(item->text(3), sizeText);
    QCOMPARE(item->textAlignment(3) & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
    QCOMPARE(item->textAlignment(0) & Qt::AlignHorizontal_Mask, 0); // default: left
}

void SendListDialogTest::columnsShareTheListWidth() {
    ScriptedDialog files;
    SendListDialog dialog(files.chooser(), "", "nc", 32);
    dialog.show();
    QTRY_COMPARE(files.calls(), 1);
    QTreeWidget* list = listOf(dialog);
    const QStringList headers{list->headerItem()->text(0), list->headerItem()->text(1),
                              list->headerItem()->text(2), list->headerItem()->text(3)};
    QCOMPARE(headers, (QStringList{"name", "date", "time", "size"}));
    QVERIFY(!list->header()->sectionsClickable()); // the headers do not sort
    const int width = list->viewport()->width();
    QCOMPARE(list->columnWidth(0), width * 55 / 100);
    QCOMPARE(list->columnWidth(1), width * 15 / 100);
    QCOMPARE(list->columnWidth(2), width * 15 / 100);
    QCOMPARE(list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2) +
                 list->columnWidth(3),
             width);
    dialog.resize(dialog.width() + 200, dialog.height());
    QTRY_COMPARE(list->columnWidth(0), list->viewport()->width() * 55 / 100);
}

void SendListDialogTest::okHandsBackTheEditedList() {
    const QStringList paths = makeFiles(3);
    ScriptedDialog files;
    files.answer(paths);
    FileChooser chooser = files.chooser();
    const auto answer = chooser.run;
    // The file dialog answers, then the user moves the last file up and confirms.
    chooser.run = [answer](QWidget* owner, const corvane::FileDialogRequest& request) {
        QTimer::singleShot(0, owner, [owner] {
            auto* dialog = static_cast<SendListDialog*>(owner);
            click(*dialog, "upButton");
            click(*dialog, "okButton");
        });
        return answer(owner, request);
    };

    SendQueue queue;
    queue.Count = 2;
    std::strcpy(queue.Entries[0].Name, "/old/a.nc");
    std::strcpy(queue.Entries[1].Name, "/old/b.nc");
    std::strcpy(queue.Entries[2].Name, "/old/c.nc");
    char defDir[520] = "/srv/nc/";
    QCOMPARE(EditSendList(nullptr, chooser, defDir, "nc", queue), 3);
    QCOMPARE(queue.Count, 3);
    QCOMPARE(QString(queue.Entries[0].Name), paths[0]);
    QCOMPARE(QString(queue.Entries[1].Name), paths[2]);
    QCOMPARE(QString(queue.Entries[2].Name), paths[1]);
    QCOMPARE(queue.Entries[1].Size, 102u);
    QCOMPARE(queue.Entries[3].Name[0], '\0');
    QCOMPARE(QString(defDir), m_folder.folder());
}

void SendListDialogTest::cancelLeavesTheQueue() {
    ScriptedDialog files;
    files.answer(makeFiles(2));
    FileChooser chooser = files.chooser();
    const auto answer = chooser.run;
    chooser.run = [answer](QWidget* owner, const corvane::FileDialogRequest& request) {
        QTimer::singleShot(
            0, owner, [owner] { click(*static_cast<SendListDialog*>(owner), "cancelButton"); });
        return answer(owner, request);
    };

    SendQueue queue;
    queue.Count = 1;
    std::strcpy(queue.Entries[0].Name, "/old/a.nc");
    queue.Entries[0].Size = 42;
    char defDir[520] = "/srv/nc/";
    QCOMPARE(EditSendList(nullptr, chooser, defDir, "nc", queue), 0);
    QCOMPARE(queue.Count, 1);
    QCOMPARE(QString(queue.Entries[0].Name), QString("/old/a.nc"));
    QCOMPARE(queue.Entries[0].Size, 42u);
    QCOMPARE(queue.Entries[1].Name[0], '\0');
    // The folder the user went to is remembered even so.
    QCOMPARE(QString(defDir), m_folder.folder());

    QCOMPARE(EditSendList(nullptr, chooser, defDir, "nc", queue, 0), -1);
    QCOMPARE(files.calls(), 1);
}

void SendListDialogTest::screenshots_data() {
    QTest::addColumn<bool>("japanese");
    QTest::addColumn<QString>("file");
    QTest::newRow("english") << false << "sendlist-en.png";
    QTest::newRow("japanese") << true << "sendlist-ja.png";
}

void SendListDialogTest::screenshots() {
    QFETCH(bool, japanese);
    QFETCH(QString, file);
    NcFolder shop;
    const QStringList paths{
        shop.make("O1001_FLANGE_OP10.nc", 48213, QDateTime(QDate(2024, 4, 8), QTime(7, 42))),
        shop.make("O1002_FLANGE_OP20.nc", 1204877, QDateTime(QDate(2024, 4, 8), QTime(13, 5))),
        shop.make("O2040.NC", 912, QDateTime(QDate(1999, 12, 31), QTime(9, 30))),
        shop.make("O7777_FIXTURE_PLATE_ROUGHING.nc", 3311064,
                  QDateTime(QDate(2017, 3, 5), QTime(12, 5))),
    };
    ScriptedDialog files;
    files.answer(paths);
    SendListDialog dialog(files.chooser(japanese ? Language::Japanese : Language::English), "",
                          "nc", 32);
    dialog.show();
    QTRY_COMPARE(dialog.queue().Count, 4);
    click(dialog, "upButton"); // a selection in the middle: every button enabled
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const QString dir = QStringLiteral(CORVANE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(dialog.grab().save(dir + "/" + file));
}

QTEST_MAIN(SendListDialogTest)
#include "SendListDialogTest.moc"
