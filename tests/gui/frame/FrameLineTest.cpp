// The window against the simulated machine over a pseudo-terminal: a send that the machine
// holds with DC3/DC1 and a receive of a punched program, driven by the window's own commands
// and checked at the machine's end and in the target file. The screenshots of a send in
// progress, of the wait for the machine's DC1 and of the Japanese window come from here.

#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "app/StatusParts.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "settings/AppConfig.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/SimProcess.h"
#include "support/SteppingClock.h"
#include "transfer/TransferState.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::readFile;
using corvane::testing::saveScreenshot;
using corvane::testing::SimProcess;
using corvane::testing::SteppingClock;
using corvane::testing::writeFile;

namespace {

class AnsweringQuestions : public FileQuestions {
public:
    QString ncFile;

    int selectNcFiles(QWidget*, bool open, const QString&, MachineDef&, SendQueueEntry* entries,
                      int) override {
        entries[0] = SendQueueEntry{};
        qstrncpy(entries[0].Name, ncFile.toLocal8Bit().constData(), sizeof entries[0].Name);
        if (open)
            entries[0].Size = static_cast<uint32_t>(QFileInfo(ncFile).size());
        return 1;
    }
    int editSendList(QWidget*, MachineDef&, SendQueue&) override { return 0; }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string&) override { return false; }
};

// ISO with Xon/Xoff, waiting for the machine's DC1 before the data, CR LF line ends, five
// nulls before the program and three after it.
const char* const IsoMachine = "[MCN_RS232C]\n"
                               "BaudRate=5\nDataLen=0\nParity=2\nStop=1\nHandShake=1\nOutCode=0\n"
                               "PtrStart=17\nPtrStop=19\nPtpStart=18\nPtpStop=20\n"
                               "[MCN_Config]\n"
                               "OutofFile=0\nXoff=1\nErCode=3\nLfCode=1\nComment=0\nHeadLf=1\n"
                               "PtpNull=5;3;0\nPtpSpace=0;0;0\nSendDelay=0\n"
                               "PtrBegin=1\nPtrEof=3\nRecvSpace=2\nPtrTimeOut=5000\n";

// A pocketing program long enough for the machine's small buffer to fill many times.
QByteArray pocketProgram(int passes) {
    QByteArray text = "O1234\nG21G90G17G40G80\nT2M06\nG00X0.Y0.S2400M03\nG43H02Z5.M08\n";
    for (int pass = 1; pass <= passes; ++pass) {
        text += "G01Z-" + QByteArray::number(pass * 0.5, 'f', 1) + "F120.\n";
        text += "X40.F450.\nY25.\nX0.\nY0.\n";
    }
    text += "G00Z50.M09\nM05\nM30\n";
    return text;
}

// What the machine gets for `program`: DC2, the nulls, the % marks around the lines with
// CR LF, DC4.
QByteArray onTheWire(const QByteArray& program) {
    QByteArray lines = program;
    lines.replace("\n", "\r\n");
    return QByteArray("\x12\0\0\0\0\0%\r\n", 9) + lines + QByteArray("%\0\0\0\x14", 5);
}

} // namespace

class FrameLineTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    AnsweringQuestions m_files;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    void useMachine(const SimProcess& sim, Language language) {
        m_state = AppState{};
        m_state.language = language;
        LoadProductStrings(language, "", m_state.product);
        // A first run's settings: no configuration file yet.
        LoadConfig(file("none.cfg").toLocal8Bit().constData(), 0, m_state.config, m_state.machine,
                   ConfigEnvironment{});
        writeFile(file("ISO.MDF"), IsoMachine);
        QVERIFY(MachineDefRead(file("ISO.MDF").toLocal8Bit().constData(), m_state.machine.line,
                               m_state.machine.config) != 0);
        qstrncpy(m_state.machine.line.PortName, sim.device().c_str(),
                 sizeof m_state.machine.line.PortName);
        qstrncpy(m_state.config.McnFile, file("ISO.MDF").toLocal8Bit().constData(),
                 sizeof m_state.config.McnFile);
    }

private slots:
    void sendIsHeldByTheMachineAndArrivesWhole() {
        const QByteArray program = pocketProgram(12);
        writeFile(file("POCKET.NC"), program);
        SimProcess sim;
        // The machine lets the host wait for its DC1 a while, then executes slower than the
        // line delivers, so its 48-character buffer holds the line again and again.
        QVERIFY2(sim.start({"read", "--record", file("machine.bin").toStdString(), "--wait-ms",
                            "800", "--cps", "500", "--buffer", "48", "--high", "32", "--low", "8",
                            "--exit-after-ms", "60000"}),
                 sim.errors().c_str());
        useMachine(sim, Language::English);
        m_files.ncFile = file("POCKET.NC");

        FrameWindow frame(m_state, m_files);
        SteppingClock clock;
        frame.host().setClock(&clock);
        frame.resize(760, 440);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        bool sawWait = false;
        bool sawProgress = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!sawWait && frame.logPane()->flowVisible()) {
                sawWait = true;
                saveScreenshot(frame, QStringLiteral("frame-waiting-for-dc1"));
            }
            const QProgressBar* bar = frame.progressBar();
            if (!sawProgress && bar->isVisible() && bar->value() > bar->maximum() / 3) {
                sawProgress = true;
                saveScreenshot(frame, QStringLiteral("frame-sending-progress"));
            }
        });
        watch.start(20);
        frame.dispatchCommand(3000);
        watch.stop();

        QVERIFY(sim.wait(15000).has_value());
        QCOMPARE(readFile(file("machine.bin")), onTheWire(program));
        QVERIFY2(sim.output().find("alarms 0") != std::string::npos, sim.output().c_str());
        QVERIFY2(sim.output().find("holds 0,") == std::string::npos, sim.output().c_str());
        QVERIFY(sawWait);
        QVERIFY(sawProgress);
        QVERIFY(!m_state.transfer.TransferBusy);
        QVERIFY(!frame.progressBar()->isVisible());
        bool completed = false;
        for (int row = 0; row < frame.logPane()->heldCount(); ++row)
            completed |=
                frame.logPane()->rowText(row).startsWith(QStringLiteral("==== Completed Send ["));
        QVERIFY(completed);
    }

    // A USB adapter pulled during the send: the error is shown, the send ends as interrupted
    // and the window is ready for the next command.
    // The same send to a machine behind a device server in raw mode: a thread of the test
    // plays the server, says DC1 once connected and keeps every byte until the window closes.
    void sendReachesAMachineOnTheNetwork() {
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        QVERIFY(::listen(listener, 1) == 0);
        QByteArray received;
        std::thread server([&] {
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                return;
            ::send(client, "\x11", 1, MSG_NOSIGNAL);
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(client, buffer, sizeof buffer, 0)) > 0)
                received.append(buffer, static_cast<int>(n));
            ::close(client);
        });

        const QByteArray program = pocketProgram(2);
        writeFile(file("POCKET.NC"), program);
        m_state = AppState{};
        LoadProductStrings(Language::English, "", m_state.product);
        LoadConfig(file("none.cfg").toLocal8Bit().constData(), 0, m_state.config, m_state.machine,
                   ConfigEnvironment{});
        writeFile(file("ISO.MDF"), IsoMachine);
        QVERIFY(MachineDefRead(file("ISO.MDF").toLocal8Bit().constData(), m_state.machine.line,
                               m_state.machine.config) != 0);
        const std::string port = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        qstrncpy(m_state.machine.line.PortName, port.c_str(), sizeof m_state.machine.line.PortName);
        m_files.ncFile = file("POCKET.NC");

        FrameWindow frame(m_state, m_files);
        SteppingClock clock;
        frame.host().setClock(&clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.dispatchCommand(3000);
        server.join();
        ::close(listener);
        QCOMPARE(received, onTheWire(program));
        const LogPane& log = *frame.logPane();
        QVERIFY(log.rowText(log.heldCount() - 1).startsWith(QStringLiteral("==== Completed Send")));
    }

    void machineThatVanishesEndsTheSendAndTheWindowStaysUsable() {
        QByteArray program;
        for (int i = 0; i < 300; ++i)
            program += "G01X" + QByteArray::number(i) + ".Y10.F300.\n";
        writeFile(file("LONG.NC"), program);
        SimProcess sim;
        QVERIFY2(sim.start({"read", "--record", file("machine.bin").toStdString(), "--cps", "400",
                            "--buffer", "64", "--exit-after-ms", "60000"}),
                 sim.errors().c_str());
        useMachine(sim, Language::English);
        m_files.ncFile = file("LONG.NC");

        FrameWindow frame(m_state, m_files);
        SteppingClock clock;
        frame.host().setClock(&clock);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        QString message;
        bool killed = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!killed && QFileInfo(file("machine.bin")).size() > 200) {
                killed = true;
                sim.kill();
            }
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                message = box->text();
                box->accept();
            }
        });
        watch.start(20);
        frame.dispatchCommand(3000);
        watch.stop();

        QCOMPARE(message, QStringLiteral("The connection to the port was lost."));
        const LogPane& log = *frame.logPane();
        QCOMPARE(log.rowText(log.heldCount() - 1), QStringLiteral("==== Interrupted Send ===="));
        QVERIFY(!m_state.transfer.TransferBusy);
        QVERIFY(!m_state.transfer.TransferRunning);
        QVERIFY(frame.action(3000)->isEnabled());
        QVERIFY(!frame.action(3013)->isEnabled());
        QVERIFY(!frame.progressBar()->isVisible());
    }

    // A receive over a program that is already there, stopped with Esc half-way through a
    // program of realistic length on the real clock: the old program is still there, and
    // what arrived is in RECV.NC.part, as the log says.
    void interruptedReceiveKeepsTheOldProgram() {
        const QByteArray program = "%\n" + pocketProgram(400) + "%\n";
        QVERIFY(program.size() > 15000);
        writeFile(file("PUNCH.NC"), program);
        const QByteArray old = "%\r\nO0001 (OLD)\r\nM30\r\n%\r\n";
        writeFile(file("RECV.NC"), old);
        QFile::remove(file("RECV.NC.part"));
        SimProcess sim;
        QVERIFY2(sim.start({"punch", "--program", file("PUNCH.NC").toStdString(), "--code", "iso",
                            "--line-end", "crlf", "--parity", "even", "--cps", "2000",
                            "--exit-after-ms", "60000"}),
                 sim.errors().c_str());
        useMachine(sim, Language::English);
        m_files.ncFile = file("RECV.NC");
        FrameWindow frame(m_state, m_files);
        frame.show();
        bool oldWhileReceiving = false;
        QTimer::singleShot(1500, &frame, [&] {
            oldWhileReceiving = readFile(file("RECV.NC")) == old;
            QTest::keyClick(&frame, Qt::Key_Escape);
        });
        frame.dispatchCommand(3002);

        QVERIFY(oldWhileReceiving);
        QCOMPARE(readFile(file("RECV.NC")), old);
        const QByteArray arrived = readFile(file("RECV.NC.part"));
        QVERIFY2(arrived.size() > 100 && arrived.size() < program.size(),
                 QByteArray::number(arrived.size()).constData());
        QByteArray stored = program;
        stored.replace("\n", "\r\n");
        QVERIFY(stored.startsWith(arrived));
        const QString last = frame.logPane()->rowText(frame.logPane()->heldCount() - 1);
        QVERIFY2(last.contains(QStringLiteral("RECV.NC.part")), qPrintable(last));
    }

    // In Japanese, so the screenshot shows the Japanese window with a finished receive.
    void receiveStoresThePunchedProgram() {
        const QByteArray program = "%\nO0001 (BRACKET)\nG21 G90 G54\nG00 X0 Y0 S1200 M03\n"
                                   "G01 X-12.5 Y30. F250.\nM30\n%\n";
        writeFile(file("PUNCH.NC"), program);
        SimProcess sim;
        QVERIFY2(sim.start({"punch", "--program", file("PUNCH.NC").toStdString(), "--code", "iso",
                            "--line-end", "crlf", "--parity", "even", "--leader", "20", "--cps",
                            "2000", "--exit-after-ms", "60000"}),
                 sim.errors().c_str());
        useMachine(sim, Language::Japanese);
        m_files.ncFile = file("RECV.NC");

        // The real clock: the receive measures its time-out while the machine punches.
        FrameWindow frame(m_state, m_files);
        frame.resize(760, 440);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.dispatchCommand(3002);

        QByteArray stored = program;
        stored.replace("\n", "\r\n");
        QCOMPARE(readFile(file("RECV.NC")), stored);
        QVERIFY(frame.logPane()->heldCount() >= 7);
        QCOMPARE(frame.logPane()->rowText(1), QStringLiteral("00001: %"));
        QVERIFY(frame.windowTitle().startsWith(QStringLiteral("Corvane ")));
        saveScreenshot(frame, QStringLiteral("frame-japanese-after-receive"));
    }

    // A receive into a file that held an earlier version of the program says in the log
    // whether the control changed it; the verdict follows the receive's own closing lines.
    void receiveOverAnEarlierVersionSaysWhatChanged() {
        const QByteArray program =
            "%\nO0001 (BRACKET)\nG21 G90 G54\nG01 X-12.5 Y30. F250.\nM30\n%\n";
        writeFile(file("PUNCH.NC"), program);
        const struct {
            QByteArray before; // empty: no file there
            QString verdict;
        } cases[] = {
            {"", QStringLiteral("COMPARE [ a new file ]")},
            {program, QStringLiteral("COMPARE [ identical to the file it replaced ]")},
            {"%\nO0001 (BRACKET)\nG21 G90 G54\nG01 X-12.5 Y35. F250.\nM30\n%\n",
             QStringLiteral("COMPARE [ differs; changed lines: 1, first line: 4 ]")},
        };
        for (const auto& c : cases) {
            QFile::remove(file("RECV2.NC"));
            if (!c.before.isEmpty())
                writeFile(file("RECV2.NC"), c.before);
            SimProcess sim;
            QVERIFY2(sim.start({"punch", "--program", file("PUNCH.NC").toStdString(), "--code",
                                "iso", "--line-end", "crlf", "--parity", "even", "--cps", "2000",
                                "--exit-after-ms", "60000"}),
                     sim.errors().c_str());
            useMachine(sim, Language::English);
            m_files.ncFile = file("RECV2.NC");
            FrameWindow frame(m_state, m_files);
            frame.resize(760, 440);
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));
            frame.dispatchCommand(3002);

            QStringList rows;
            for (int i = 0; i < frame.logPane()->heldCount(); ++i)
                rows << frame.logPane()->rowText(i);
            QVERIFY2(!rows.isEmpty() && rows.last() == c.verdict,
                     qPrintable(rows.join(QLatin1Char('|'))));
        }
    }
};

QTEST_MAIN(FrameLineTest)
#include "FrameLineTest.moc"
