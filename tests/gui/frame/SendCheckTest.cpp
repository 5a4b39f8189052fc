// The look a send takes at its files before the port opens: a line the send would cut, a
// character the machine's code cannot carry and a binary file are told with the file and line,
// and nothing reaches the machine unless the user says so (binary files only).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "gui/dialogs/DialogTestSupport.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/MessageBoxAnswers.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::MessageBoxAnswers;
using corvane::testing::readFile;
using corvane::testing::writeFile;

class SendCheckTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    NoFileQuestions m_files;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // An ISO machine that punches into a file, with nothing around the data.
    void punchMachine() {
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        m_state.machine.line.HandShake = 0;
        m_state.machine.line.PtpStart = 0;
        m_state.machine.line.PtpStop = 0;
        m_state.machine.config.OutofFile = 1;
        m_state.machine.config.HeadLf = 0;
        m_state.machine.config.LfCode = 0;
        m_state.machine.config.ErCode = 0;
        m_state.machine.config.Comment = 1;
        m_files.deviceFile = file("PUNCH.TAP");
    }

    void queue(const char* name) {
        m_state.queue = SendQueue{};
        qstrncpy(m_state.queue.Entries[0].Name, file(name).toLocal8Bit().constData(),
                 sizeof m_state.queue.Entries[0].Name);
        m_state.queue.Entries[0].Size = static_cast<uint32_t>(QFileInfo(file(name)).size());
        m_state.queue.Count = 1;
    }

    static QString logText(FrameWindow& frame) {
        QStringList rows;
        for (int i = 0; i < frame.logPane()->keptCount(); ++i)
            rows << frame.logPane()->rowText(i);
        return rows.join(QLatin1Char('\n'));
    }

    static QString shot(const char* name) {
        QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
        return QStringLiteral(CORVANE_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    }

private slots:
    void init() {
        m_state = AppState{};
        LoadProductStrings(m_state.language, "", m_state.product);
        m_files = NoFileQuestions{};
        punchMachine();
        QFile::remove(file("PUNCH.TAP"));
    }

    void refusedFileIsNamedAndNothingGoesOut_data() {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("named");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("screenshot");
        const QByteArray longLine = "G01" + QByteArray(600, '1');
        QTest::newRow("a line of 603 characters")
            << ("%\nO0001\n" + longLine + "\nM30\n%\n")
            << QStringLiteral("A.NC, line 3: the line is 603 characters long") << 0
            << QStringLiteral("window-en-send-line-too-long");
        QTest::newRow("a Japanese comment in UTF-8")
            << QByteArray("%\nG01X1. (\xE5\x8A\xA0\xE5\xB7\xA5)\nM30\n%\n")
            << QStringLiteral("A.NC, line 2, column 9") << 0
            << QStringLiteral("window-en-send-not-carried");
        QTest::newRow("a Japanese comment in Shift-JIS")
            << QByteArray("%\nG01X1. (\x89\xC1\x8D\x48)\nM30\n%\n")
            << QStringLiteral("A.NC の 2 行目 9 桁目") << 1
            << QStringLiteral("window-ja-send-not-carried");
    }

    void refusedFileIsNamedAndNothingGoesOut() {
        QFETCH(QByteArray, program);
        QFETCH(QString, named);
        QFETCH(int, language);
        QFETCH(QString, screenshot);
        m_state.language = language == 0 ? Language::English : Language::Japanese;
        LoadProductStrings(m_state.language, "", m_state.product);
        writeFile(file("A.NC"), program);
        queue("A.NC");
        FrameWindow frame(m_state, m_files);
        MessageBoxAnswers answers;
        answers.shootNextBox(shot(screenshot.toLatin1().constData()));
        frame.dispatchCommand(5000);

        QCOMPARE(answers.names(), QStringList{QStringLiteral("sendRefusedBox")});
        QVERIFY2(answers.texts().front().contains(named), qPrintable(answers.texts().front()));
        QVERIFY(!QFile::exists(file("PUNCH.TAP")));
        // The log keeps the reason too (its row may be cut at the pane's width).
        QVERIFY2(logText(frame).contains(named.section(QLatin1Char(':'), 0, 0)),
                 qPrintable(logText(frame)));
        QVERIFY(!m_state.transfer.TransferBusy);
        // The file counts as not sent: it does not enter the history.
        QCOMPARE(m_state.config.NcFileHistory[0][0], '\0');
    }

    // The same program with the comment left out by the machine goes out: only what reaches
    // the control is held to its code.
    void strippedCommentIsNoHarm() {
        m_state.machine.config.Comment = 0;
        writeFile(file("A.NC"), "%\nG01X1. (\xE5\x8A\xA0\xE5\xB7\xA5)\nM30\n%\n");
        queue("A.NC");
        FrameWindow frame(m_state, m_files);
        MessageBoxAnswers answers;
        frame.dispatchCommand(5000);
        QCOMPARE(answers.count(), 0);
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("%\nG01X1. \nM30\n%\n"));
    }

    // A binary file is asked about, No first; only Yes sends it.
    void binaryFileIsSentOnlyWhenTheUserSaysSo() {
        m_state.machine.line.OutCode = 2;
        m_state.machine.line.DataLen = 1;
        writeFile(file("B.NC"), QByteArray("G01X1.\nG02\0\0X2.\n", 16));
        queue("B.NC");
        FrameWindow frame(m_state, m_files);
        {
            MessageBoxAnswers answers(QMessageBox::No);
            answers.shootNextBox(shot("window-en-send-binary"));
            frame.dispatchCommand(5000);
            QCOMPARE(answers.names(), QStringList{QStringLiteral("sendBinaryBox")});
            QCOMPARE(answers.defaults().front(), QMessageBox::No);
            QVERIFY2(answers.texts().front().contains(QStringLiteral("B.NC, line 2")),
                     qPrintable(answers.texts().front()));
            QVERIFY(!QFile::exists(file("PUNCH.TAP")));
        }
        queue("B.NC");
        MessageBoxAnswers answers(QMessageBox::Yes);
        frame.dispatchCommand(5000);
        QCOMPARE(answers.count(), 1);
        QVERIFY(QFile::exists(file("PUNCH.TAP")));
    }

    // Every file of a list is looked at before the first goes out.
    void laterFileOfAListStopsTheWholeList() {
        writeFile(file("A.NC"), "%\nG01X1.\n");
        writeFile(file("C.NC"), "G01X1. (\xE5\x8A\xA0)\n%\n");
        queue("A.NC");
        qstrncpy(m_state.queue.Entries[1].Name, file("C.NC").toLocal8Bit().constData(),
                 sizeof m_state.queue.Entries[1].Name);
        m_state.queue.Count = 2;
        FrameWindow frame(m_state, m_files);
        MessageBoxAnswers answers;
        frame.dispatchCommand(5000);
        QCOMPARE(answers.count(), 1);
        QVERIFY2(answers.texts().front().contains(QStringLiteral("C.NC, line 1")),
                 qPrintable(answers.texts().front()));
        QVERIFY(!QFile::exists(file("PUNCH.TAP")));
    }
};

QTEST_MAIN(SendCheckTest)
#include "SendCheckTest.moc"
