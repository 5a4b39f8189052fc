// Machine files chosen in the window: the machine history, "MDF=" and the hand-over read a
// file as the whole machine, and one that cannot be read is told and changes nothing.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/Application.h"
#include "app/FrameWindow.h"
#include "app/HandOverRecord.h"
#include "app/InstanceLink.h"
#include "common/AppState.h"
#include "gui/dialogs/DialogTestSupport.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/MessageBoxAnswers.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::MessageBoxAnswers;
using corvane::testing::readFile;
using corvane::testing::writeFile;

namespace {

// A machine far from the defaults: leaders, LF only, comments kept, other DC codes.
MachineDef unusualMachine() {
    MachineDef m;
    MachineDefSetDefaults(m.line, m.config);
    m.line.HandShake = 1;
    m.line.PtpStart = 0x92;
    qstrncpy(m.line.PortName, "/dev/ttyUSB7", sizeof m.line.PortName);
    m.config.PtpNull[0] = 20;
    m.config.LfCode = 0;
    m.config.Comment = 1;
    m.config.ErCode = 3;
    m.config.PtrTimeOut = 9000;
    return m;
}

} // namespace

class MachineFileTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    NoFileQuestions m_files;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QByteArray local(const char* name) const { return file(name).toLocal8Bit(); }

private slots:
    void init() {
        m_state = AppState{};
        LoadProductStrings(m_state.language, "", m_state.product);
        m_state.machine = unusualMachine();
        qstrncpy(m_state.config.McnFile, local("CURRENT.MDF").constData(), 260);
    }

    // A file holding only a port and a baud rate is that port and baud rate on the defaults,
    // not on the machine loaded before it.
    void historyMachineTakesTheDefaultsForWhatItLacks() {
        writeFile(file("PORT.MDF"), "[MCN_RS232C]\nPortName=/dev/ttyS3\nBaudRate=7\n");
        UpdateHistory(m_state.config, 1, 0, local("PORT.MDF").constData());
        FrameWindow frame(m_state, m_files);
        MessageBoxAnswers answers;
        frame.dispatchCommand(2201);

        MachineDef expected;
        MachineDefSetDefaults(expected.line, expected.config);
        expected.line.BaudRate = 7;
        qstrncpy(expected.line.PortName, "/dev/ttyS3", sizeof expected.line.PortName);
        QVERIFY(MachineDefSame(expected, m_state.machine));
        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFile), file("PORT.MDF"));
        // The machine sheet opens on it, as before.
        QTRY_COMPARE(answers.dialogs(), QStringList{QStringLiteral("dialog114")});
        QCOMPARE(answers.count(), 0);
    }

    // A history entry whose file is gone, or holds no machine definition: the user reads why,
    // the machine and its file stay, and no sheet opens on a machine that was not loaded.
    void machineFileThatCannotBeReadIsToldAndChangesNothing_data() {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<QString>("reason");
        QByteArray noise;
        for (int i = 0; i < 512; ++i)
            noise += char((i * 151 + 7) % 256);
        QTest::newRow("deleted") << QByteArray() << QStringLiteral("no such file");
        QTest::newRow("random bytes") << noise << QStringLiteral("not a machine definition");
        QTest::newRow("an NC program")
            << QByteArray("%\nO1000\nG00X0\n%\n") << QStringLiteral("not a machine definition");
    }

    void machineFileThatCannotBeReadIsToldAndChangesNothing() {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QFile::remove(file("OLD.MDF"));
        if (!content.isEmpty())
            writeFile(file("OLD.MDF"), content);
        UpdateHistory(m_state.config, 1, 0, local("OLD.MDF").constData());
        FrameWindow frame(m_state, m_files);
        MessageBoxAnswers answers;
        if (content.isEmpty()) {
            QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
            answers.shootNextBox(
                QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-en-machine-file-not-read.png"));
        }
        frame.dispatchCommand(2201);
        QTest::qWait(50);

        QCOMPARE(answers.names(), QStringList{QStringLiteral("machineFileNotReadBox")});
        QVERIFY2(answers.texts().front().contains(file("OLD.MDF")), qPrintable(answers.texts()[0]));
        QVERIFY2(answers.texts().front().contains(reason), qPrintable(answers.texts()[0]));
        QVERIFY(answers.dialogs().isEmpty());
        QVERIFY(MachineDefSame(unusualMachine(), m_state.machine));
        QCOMPARE(QString::fromLocal8Bit(m_state.config.McnFile), file("CURRENT.MDF"));
        // Nothing was written into the file either.
        QCOMPARE(QFile::exists(file("OLD.MDF")), !content.isEmpty());
        if (!content.isEmpty())
            QCOMPARE(readFile(file("OLD.MDF")), content);
    }

    // "MDF=" naming a file that is not there: told at start-up, the configured machine stays,
    // and the files named with it are not sent with that other machine.
    void commandLineMachineThatCannotBeReadStopsItsFiles() {
        writeFile(file("corvane.cfg"), "[MCN_RS232C]\nOutCode=1\n");
        writeFile(file("A.NC"), "G01X1\n");
        MessageBoxAnswers answers;
        CorvaneApp app(file("corvane").toStdString(),
                       {"/US", "/CREATE", ("/CFG=" + file("corvane.cfg")).toStdString(),
                        ("/MDF=" + file("NONE.MDF")).toStdString(), file("A.NC").toStdString()});
        QVERIFY(app.start());
        QCOMPARE(answers.count(), 1);
        QVERIFY2(answers.texts().front().contains(file("NONE.MDF")),
                 qPrintable(answers.texts()[0]));
        QCOMPARE(app.state().queue.Count, 0);
        QCOMPARE(app.state().config.NcFileHistory[0][0], '\0'); // nothing was sent
        QVERIFY(!app.state().flags.MachineFromCommandLine);
        QCOMPARE(app.state().machine.line.OutCode, 1);
        app.frame()->dispatchCommand(3003);
    }

    // A hand-over naming a machine that cannot be read: the file is not sent with the
    // machine in use, and the user is told once the request has been answered.
    void handedOverMachineThatCannotBeReadKeepsItsFile() {
        writeFile(file("B.NC"), "G01X2\n");
        FrameWindow frame(m_state, m_files);
        LinkRequestHandler handler(frame, m_state);
        const auto record =
            EncodeHandOver(local("NONE.MDF").toStdString(), local("B.NC").toStdString(), 0);
        QVERIFY(record.has_value());
        MessageBoxAnswers answers;
        handler.handle(LinkKindHandOverRecord,
                       std::vector<uint8_t>(record->begin(), record->end()));
        QTRY_COMPARE(answers.count(), 1);
        QVERIFY2(answers.texts().front().contains(file("NONE.MDF")),
                 qPrintable(answers.texts()[0]));
        QCOMPARE(m_state.queue.Count, 0);
        QVERIFY(!m_state.flags.MachineFromCommandLine);
        QVERIFY(MachineDefSame(unusualMachine(), m_state.machine));
    }
};

QTEST_MAIN(MachineFileTest)
#include "MachineFileTest.moc"
