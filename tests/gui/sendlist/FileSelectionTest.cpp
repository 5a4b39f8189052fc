#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstring>

#include "NcFolder.h"
#include "settings/MachineDef.h"
#include "transfer/FileSelection.h"

using corvane::FileDialogRequest;
using corvane::Language;
using corvane::MachineDef;
using corvane::SelectNcFiles;
using corvane::SendQueue;
using corvane::SendQueueEntry;
using corvane::test::NcFolder;
using corvane::test::ScriptedDialog;

class FileSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void openFillsEntriesInTheChosenOrderAndRemembersTheFolder();
    void requestFollowsModeAndCapacity_data();
    void requestFollowsModeAndCapacity();
    void filtersFollowTheDefaultExtension_data();
    void filtersFollowTheDefaultExtension();
    void filesBeyondTheCapacityAreDropped();
    void cancelAddsNothingAndKeepsTheFolder();
    void saveAcceptsAFileThatDoesNotExistYet();
    void deviceFileIsOpenedForReceiveAndSavedForSend();
    void fileDialogOpensWideAndKeepsTheSizeItWasGiven();
    void fileDialogColumnsFitItsWidth();
};

void FileSelectionTest::openFillsEntriesInTheChosenOrderAndRemembersTheFolder() {
    NcFolder folder;
    const QDateTime written(QDate(2017, 3, 5), QTime(12, 5));
    const QString b = folder.make("O0002.nc", 1200000, written);
    const QString a = folder.make("O0001.NC", 17, written);
    ScriptedDialog dialog;
    dialog.answer({b, a});

    SendQueue queue;
    char defDir[520] = "/srv/nc/";
    QCOMPARE(
        SelectNcFiles(dialog.chooser(), nullptr, true, "Pick", defDir, "nc", queue.Entries, 32), 2);
    QCOMPARE(QString(queue.Entries[0].Name), b);
    QCOMPARE(queue.Entries[0].Size, 1200000u);
    QCOMPARE(QString(queue.Entries[1].Name), a);
    QCOMPARE(queue.Entries[1].Size, 17u);
    // Windows file time: 100-ns ticks since 1601.
    const quint64 expected =
        116444736000000000ull + quint64(written.toSecsSinceEpoch()) * 10000000ull;
    QCOMPARE(queue.Entries[0].WriteTime, expected);

    QCOMPARE(dialog.lastRequest().folder, QString("/srv/nc/"));
    QCOMPARE(QString(defDir), folder.folder());

    // The next selection opens where the last one ended.
    SelectNcFiles(dialog.chooser(), nullptr, true, "Pick", defDir, "nc", queue.Entries, 32);
    QCOMPARE(dialog.lastRequest().folder, folder.folder());
}

void FileSelectionTest::requestFollowsModeAndCapacity_data() {
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<bool>("multiple");
    QTest::newRow("send: open, many") << true << 32 << true;
    QTest::newRow("send list, two places left") << true << 2 << true;
    QTest::newRow("open, one") << true << 1 << false;
    QTest::newRow("receive: save, one") << false << 1 << false;
    QTest::newRow("save never multiple") << false << 32 << false;
}

void FileSelectionTest::requestFollowsModeAndCapacity() {
    QFETCH(bool, open);
    QFETCH(int, capacity);
    QFETCH(bool, multiple);
    ScriptedDialog dialog;
    SendQueue queue;
    char defDir[520] = "";
    SelectNcFiles(dialog.chooser(), nullptr, open, "Title", defDir, "nc", queue.Entries, capacity);
    QCOMPARE(dialog.calls(), 1);
    const FileDialogRequest& request = dialog.lastRequest();
    QCOMPARE(request.open, open);
    QCOMPARE(request.multiple, multiple);
    QCOMPARE(request.title, QString("Title"));
    QCOMPARE(request.folder, QString()); // no folder yet: the dialog's own choice
    QCOMPARE(request.defaultSuffix, QString("nc"));
}

void FileSelectionTest::filtersFollowTheDefaultExtension_data() {
    QTest::addColumn<QString>("defExt");
    QTest::addColumn<bool>("japanese");
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("nc") << "nc" << false << QStringList{"NC file (*.nc *.NC)", "All files (*)"}
                        << "nc";
    QTest::newRow("upper case") << "MIN" << false
                                << QStringList{"NC file (*.MIN *.min)", "All files (*)"} << "MIN";
    QTest::newRow("empty") << "" << false << QStringList{"All files (*)"} << "";
    QTest::newRow("star") << "*" << false << QStringList{"All files (*)"} << "";
    QTest::newRow("star dot star") << "*.*" << false << QStringList{"All files (*)"} << "";
    QTest::newRow("japanese") << "nc" << true
                              << QStringList{"NCファイル (*.nc *.NC)", "すべてのファイル (*)"}
                              << "nc";
}

void FileSelectionTest::filtersFollowTheDefaultExtension() {
    QFETCH(QString, defExt);
    QFETCH(bool, japanese);
    QFETCH(QStringList, filters);
    QFETCH(QString, suffix);
    ScriptedDialog dialog;
    SendQueueEntry entry;
    char defDir[520] = "";
    const QByteArray ext = defExt.toUtf8();
    SelectNcFiles(dialog.chooser(japanese ? Language::Japanese : Language::English), nullptr, false,
                  "T", defDir, ext.constData(), &entry, 1);
    QCOMPARE(dialog.lastRequest().nameFilters, filters);
    QCOMPARE(dialog.lastRequest().defaultSuffix, suffix);
}

void FileSelectionTest::filesBeyondTheCapacityAreDropped() {
    NcFolder folder;
    QStringList forty;
    for (int i = 0; i < 40; ++i) {
        forty << folder.make(QString("P%1.nc").arg(i, 2, 10, QChar('0')), i,
                             QDateTime::currentDateTime());
    }
    ScriptedDialog dialog;
    dialog.answer(forty);
    dialog.answer(forty);
    SendQueue queue;
    char defDir[520] = "";
    QCOMPARE(SelectNcFiles(dialog.chooser(), nullptr, true, "T", defDir, "nc", queue.Entries, 32),
             32);
    QCOMPARE(QString(queue.Entries[31].Name), forty[31]);

    std::strcpy(queue.Entries[2].Name, "after the room given");
    QCOMPARE(SelectNcFiles(dialog.chooser(), nullptr, true, "T", defDir, "nc", queue.Entries, 2),
             2);
    QCOMPARE(QString(queue.Entries[1].Name), forty[1]);
    QCOMPARE(QString(queue.Entries[2].Name), QString("after the room given"));
}

void FileSelectionTest::cancelAddsNothingAndKeepsTheFolder() {
    ScriptedDialog dialog; // no answer prepared: cancelled
    SendQueueEntry entries[2];
    std::strcpy(entries[0].Name, "/old/first.nc");
    entries[0].Size = 5;
    std::strcpy(entries[1].Name, "/old/second.nc");
    char defDir[520] = "/srv/nc/";
    QCOMPARE(SelectNcFiles(dialog.chooser(), nullptr, true, "T", defDir, "nc", entries, 2), 0);
    QCOMPARE(entries[0].Name[0], '\0');
    QCOMPARE(entries[0].Size, 0u);
    QCOMPARE(QString(entries[1].Name), QString("/old/second.nc"));
    QCOMPARE(QString(defDir), QString("/srv/nc/"));

    QCOMPARE(SelectNcFiles(dialog.chooser(), nullptr, true, "T", defDir, "nc", entries, 0), 0);
    QCOMPARE(dialog.calls(), 1); // no room: no dialog
}

void FileSelectionTest::saveAcceptsAFileThatDoesNotExistYet() {
    NcFolder folder;
    ScriptedDialog dialog;
    dialog.answer({folder.path("received.nc")});
    SendQueueEntry entry;
    char defDir[520] = "";
    QCOMPARE(SelectNcFiles(dialog.chooser(), nullptr, false, "T", defDir, "nc", &entry, 1), 1);
    QCOMPARE(QString(entry.Name), folder.path("received.nc"));
    QCOMPARE(entry.Size, 0u);
    QCOMPARE(entry.WriteTime, 0ull);
    QCOMPARE(QString(defDir), folder.folder());
}

void FileSelectionTest::deviceFileIsOpenedForReceiveAndSavedForSend() {
    NcFolder folder;
    const QString device = folder.make("tape.dat", 3, QDateTime::currentDateTime());
    for (bool receive : {true, false}) {
        ScriptedDialog dialog;
        dialog.answer({device});
        MachineDef machine;
        std::strcpy(machine.config.DefExt, "dat");
        std::string path;
        QVERIFY(corvane::selectDeviceFile(dialog.chooser(), nullptr, receive, machine, path));
        QCOMPARE(QString::fromStdString(path), device);
        QCOMPARE(dialog.lastRequest().open, receive);
        QCOMPARE(dialog.lastRequest().multiple, false);
        QCOMPARE(dialog.lastRequest().title, QString("Selection of device file"));
        QCOMPARE(QString(machine.config.DefDir), folder.folder());

        ScriptedDialog cancelled;
        QVERIFY(!corvane::selectDeviceFile(cancelled.chooser(), nullptr, receive, machine, path));
    }
}

QTEST_MAIN(FileSelectionTest)
// The real dialog, over a window as small as the default frame: it opens wider than its
// owner, with room for its columns, and the next one opens at the size the user gave it.
void FileSelectionTest::fileDialogOpensWideAndKeepsTheSizeItWasGiven() {
    QWidget frame;
    frame.resize(320, 200);
    frame.show();
    QSize first;
    QSize second;
    auto closeWhenShown = [](QSize* seen, QSize giveIt) {
        QTimer::singleShot(0, [seen, giveIt] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                if (dialog == nullptr || !dialog->isVisible())
                    continue;
                *seen = dialog->size();
                if (giveIt.isValid())
                    dialog->resize(giveIt);
                dialog->reject();
            }
        });
    };
    FileDialogRequest request;
    request.title = QStringLiteral("Selection of the send file");
    closeWhenShown(&first, QSize(901, 602));
    QVERIFY(corvane::runFileDialog(&frame, request).isEmpty());
    QVERIFY2(first.width() >= 700 && first.height() >= 440,
             qPrintable(QStringLiteral("%1x%2").arg(first.width()).arg(first.height())));
    closeWhenShown(&second, QSize());
    corvane::runFileDialog(&frame, request);
    QCOMPARE(second, QSize(901, 602));
}

// The real dialog at 1200 pixels and at the width it opens with: the size, type and date
// columns show their whole text, the name takes the rest, and nothing runs past the view.
void FileSelectionTest::fileDialogColumnsFitItsWidth() {
    QTemporaryDir dir;
    for (const char* name : {"O1234 ROUGHING OF THE LEFT FLANGE.NC", "B.NC", "C.NC"}) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(123456, 'G'));
    }
    QWidget frame;
    frame.resize(320, 200);
    frame.show();
    for (const int width : {1200, 0}) {
        QStringList problems;
        QTimer::singleShot(0, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(widget);
                if (dialog == nullptr || !dialog->isVisible())
                    continue;
                if (width > 0)
                    dialog->resize(width, 700);
                auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
                if (tree == nullptr) {
                    problems << QStringLiteral("no detail view");
                    dialog->reject();
                    return;
                }
                // The folder is read in the background; wait for its rows.
                QTRY_VERIFY(tree->model()->rowCount(tree->rootIndex()) >= 3);
                QCoreApplication::processEvents();
                QHeaderView* header = tree->header();
                int total = 0;
                for (int column = 0; column < header->count(); ++column) {
                    if (header->isSectionHidden(column))
                        continue;
                    total += header->sectionSize(column);
                    if (column == 0)
                        continue;
                    const int needed =
                        std::max(static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(column),
                                 header->sectionSizeHint(column));
                    if (header->sectionSize(column) < needed)
                        problems << QStringLiteral("column %1: %2 < %3")
                                        .arg(column)
                                        .arg(header->sectionSize(column))
                                        .arg(needed);
                }
                if (width == 1200) {
                    QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
                    dialog->grab().save(
                        QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-en-file-dialog-1200.png"));
                }
                if (total > tree->viewport()->width())
                    problems << QStringLiteral("columns %1 > view %2")
                                    .arg(total)
                                    .arg(tree->viewport()->width());
                dialog->reject();
            }
        });
        FileDialogRequest request;
        request.folder = dir.path();
        request.title = QStringLiteral("Selection of the send file");
        corvane::runFileDialog(&frame, request);
        QVERIFY2(problems.isEmpty(), qPrintable(QString::number(width) + QLatin1Char(' ') +
                                                problems.join(QStringLiteral("; "))));
    }
}

#include "FileSelectionTest.moc"
