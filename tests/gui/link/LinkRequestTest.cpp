// Requests from other programs against a real frame: the status queries, the hand-over's
// accept and refuse rules (busy, modal dialog, malformed), the commands, the notices to a
// caller's socket, and the listening socket itself.

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/Application.h"
#include "app/CommandLineHelp.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "app/HandOverRecord.h"
#include "app/InstanceLink.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "settings/MachineDef.h"
#include "support/GuiTestFiles.h"
#include "support/MessageBoxAnswers.h"
#include "support/SteppingClock.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::MessageBoxAnswers;
using corvane::testing::readFile;
using corvane::testing::saveScreenshot;
using corvane::testing::SteppingClock;
using corvane::testing::writeFile;

namespace {

using Bytes = std::vector<uint8_t>;

// Only the device file is ever asked for here; `duringTransfer` runs while the engine waits
// for that answer, i.e. with the transfer under way.
class DeviceFileAnswer : public FileQuestions {
public:
    QString deviceFile;
    std::function<void()> duringTransfer;
    int transfers = 0;

    int selectNcFiles(QWidget*, bool, const QString&, MachineDef&, SendQueueEntry*, int) override {
        return 0;
    }
    int editSendList(QWidget*, MachineDef&, SendQueue&) override { return 0; }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string& path) override {
        ++transfers;
        if (duringTransfer)
            duringTransfer();
        path = deviceFile.toStdString();
        return !deviceFile.isEmpty();
    }
};

Bytes word(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

uint32_t wordAt(const QByteArray& bytes, int at) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
    return value;
}

// The record as another program lays it out: flags, window, machine path at 8, file at 268.
Bytes record(uint32_t flags, uint32_t window, const QString& machine, const QString& file,
             size_t size = 528) {
    Bytes bytes(size, 0);
    const Bytes head = word(flags);
    const Bytes win = word(window);
    std::copy(head.begin(), head.end(), bytes.begin());
    std::copy(win.begin(), win.end(), bytes.begin() + 4);
    const QByteArray m = machine.toLocal8Bit();
    const QByteArray f = file.toLocal8Bit();
    std::copy(m.begin(), m.end(), bytes.begin() + 8);
    std::copy(f.begin(), f.end(), bytes.begin() + 268);
    return bytes;
}

Bytes pathBytes(const QString& path) {
    const QByteArray text = path.toLocal8Bit();
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// A running window as a second start sees it: a socket that answers the record with
// `recordAnswer` and every other request with 1, and keeps what it was asked, in order.
class FakeRunningWindow {
public:
    struct Request {
        uint32_t kind;
        Bytes body;
    };

    FakeRunningWindow(const QString& path, int32_t recordAnswer) : m_answer(recordAnswer) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                  ::listen(m_fd, 1) == 0;
        if (m_bound)
            m_thread = std::thread([this] { serve(); });
    }
    ~FakeRunningWindow() {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        if (m_thread.joinable())
            m_thread.join();
    }
    bool bound() const { return m_bound; }
    // Waits for the second start's connection to end, then hands over what it asked.
    std::vector<Request> requests() {
        if (m_thread.joinable())
            m_thread.join();
        return m_requests;
    }

private:
    bool readAll(int fd, uint8_t* to, size_t size) {
        while (size > 0) {
            const ssize_t got = ::read(fd, to, size);
            if (got <= 0)
                return false;
            to += got;
            size -= size_t(got);
        }
        return true;
    }
    void serve() {
        const int peer = ::accept(m_fd, nullptr, nullptr);
        if (peer < 0)
            return;
        uint8_t head[8];
        while (readAll(peer, head, 8)) {
            const uint32_t kind = head[0] | head[1] << 8 | head[2] << 16 | uint32_t(head[3]) << 24;
            const uint32_t size = head[4] | head[5] << 8 | head[6] << 16 | uint32_t(head[7]) << 24;
            Bytes body(size);
            if (size > 4096 || !readAll(peer, body.data(), size))
                break;
            m_requests.push_back({kind, body});
            const Bytes answer = word(uint32_t(kind == 0xC0000002 ? m_answer : 1));
            if (::write(peer, answer.data(), answer.size()) != 4)
                break;
        }
        ::close(peer);
    }

    int32_t m_answer;
    int m_fd = -1;
    bool m_bound = false;
    std::thread m_thread;
    std::vector<Request> m_requests;
};

// An ASCII machine that punches into a file, bare: DC2, the data, DC4.
const char* const PunchMachine = "[MCN_RS232C]\nOutCode=2\nHandShake=0\n"
                                 "[MCN_Config]\nOutofFile=1\nHeadLf=0\nLfCode=0\nErCode=0\n"
                                 "SendDelay=0\nPtpNull=0;0;0\nPtpSpace=0;0;0\n";

} // namespace

class LinkRequestTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;
    DeviceFileAnswer m_files;
    SteppingClock m_clock;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    void queueFile(const QString& path) {
        m_state.queue = SendQueue{};
        qstrncpy(m_state.queue.Entries[0].Name, path.toLocal8Bit().constData(), 260);
        m_state.queue.Entries[0].Size = uint32_t(QFileInfo(path).size());
        m_state.queue.Count = 1;
    }

    // Runs a queue send of A.NC into PUNCH.TAP, with `during` called inside the transfer.
    void sendWhile(FrameWindow& frame, const std::function<void()>& during) {
        queueFile(file("A.NC"));
        m_files.duringTransfer = during;
        frame.dispatchCommand(5000);
        m_files.duringTransfer = nullptr;
    }

private slots:
    void init() {
        m_state = AppState{};
        LoadProductStrings(m_state.language, "", m_state.product);
        m_files = DeviceFileAnswer{};
        m_files.deviceFile = file("PUNCH.TAP");
        QFile::remove(file("PUNCH.TAP"));
        writeFile(file("A.NC"), "G01X1\n");
        writeFile(file("B.NC"), "G01X2\nG01Y3\n");
        writeFile(file("PUNCH.MDF"), PunchMachine);
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        MachineDefRead(file("PUNCH.MDF").toLocal8Bit().constData(), m_state.machine.line,
                       m_state.machine.config);
    }

    void statusQueriesAnswerAsTheTableSays_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("idleAnswer");
        QTest::addColumn<int>("runningAnswer");
        QTest::addColumn<int>("interruptAfterRun");
        auto w = [](uint32_t v) {
            const Bytes b = word(v);
            return QByteArray(reinterpret_cast<const char*>(b.data()), 4);
        };
        QTest::newRow("0 idle?") << w(0) << 1 << 0 << 0;
        QTest::newRow("1 alive") << w(1) << 1 << 1 << 0;
        QTest::newRow("2 interrupt") << w(2) << 1 << 1 << 1;
        QTest::newRow("3 clear log") << w(3) << 1 << 1 << 0;
        QTest::newRow("4 unknown") << w(4) << 0 << 0 << 0;
        QTest::newRow("0x5FE unknown") << w(0x5FE) << 0 << 0 << 0;
        QTest::newRow("short body") << QByteArray("\0\0", 2) << 0 << 0 << 0;
        QTest::newRow("long body") << QByteArray(8, '\0') << 0 << 0 << 0;
    }

    void statusQueriesAnswerAsTheTableSays() {
        QFETCH(QByteArray, body);
        const Bytes data(body.begin(), body.end());
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        LinkRequestHandler handler(frame, m_state);

        // Idle: nothing is posted, not even the interrupt.
        frame.logPrint(0, "before");
        QTEST(int(handler.handle(0x05FE, data)), "idleAnswer");
        QCoreApplication::processEvents();
        QCOMPARE(m_state.transfer.InterruptRequest, 0);
        QCOMPARE(m_files.transfers, 0);
        const bool clears = data == word(3);
        QCOMPARE(frame.logPane()->heldCount(), clears ? 0 : 1);

        int running = -1;
        int heldAfterQuery = -1;
        sendWhile(frame, [&] {
            frame.logPrint(0, "during");
            running = handler.handle(0x05FE, data);
            heldAfterQuery = frame.logPane()->heldCount();
        });
        QTEST(running, "runningAnswer");
        QTEST(m_state.transfer.InterruptRequest, "interruptAfterRun");
        if (clears)
            QCOMPARE(heldAfterQuery, 0);
        // An interrupted send leaves the machine with nothing of the file.
        const bool interrupted = m_state.transfer.InterruptRequest == 1;
        QCOMPARE(readFile(file("PUNCH.TAP")).contains("G01X1"), !interrupted);
    }

    // While a transfer runs the window only comes to the front: the queue and the machine of
    // the running send stay as they are, and no second send follows.
    void handOverIsRefusedWhileATransferRuns() {
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        LinkRequestHandler handler(frame, m_state);
        int recordAnswer = -1;
        int shortAnswer = -1;
        QString queuedDuring;
        sendWhile(frame, [&] {
            recordAnswer =
                handler.handle(0xC0000002, record(3, 0, file("PUNCH.MDF"), file("B.NC")));
            shortAnswer = handler.handle(0xC0000001, pathBytes(file("B.NC")));
            queuedDuring = QString::fromLocal8Bit(m_state.queue.Entries[0].Name);
        });
        QCOMPARE(recordAnswer, 0);
        QCOMPARE(shortAnswer, 0);
        QCOMPARE(queuedDuring, file("A.NC"));
        QVERIFY(!m_state.flags.MachineFromCommandLine);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(m_files.transfers, 1);
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\n\x14"));
    }

    void handOverIsRefusedWhileAModalDialogIsOpen() {
        FrameWindow frame(m_state, m_files);
        frame.show();
        LinkRequestHandler handler(frame, m_state);
        QDialog dialog(&frame);
        dialog.setModal(true);
        dialog.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);

        QCOMPARE(handler.handle(0xC0000002, record(2, 0, QString(), file("B.NC"))), 0);
        QCOMPARE(handler.handle(0xC0000001, pathBytes(file("B.NC"))), 0);
        QCOMPARE(m_state.queue.Count, 0);
        QCoreApplication::processEvents();
        QCOMPARE(m_files.transfers, 0);
        // The status queries are still answered.
        QCOMPARE(handler.handle(0x05FE, word(0)), 1);

        dialog.close();
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(handler.handle(0xC0000001, pathBytes(file("B.NC"))), 1);
        QTRY_COMPARE(m_files.transfers, 1);
    }

    // The machine is for this run only: McnFile keeps naming the configured file, which the
    // exit restores, and the definition is not written over it.
    void recordWithMachineAndFileLoadsQueuesAndSends() {
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config); // a serial machine
        qstrncpy(m_state.config.McnFile, "/shop/OLD.MDF", 260);
        qstrncpy(m_state.SavedMcnFile, "/shop/OLD.MDF", 260);
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.showMinimized();
        LinkRequestHandler handler(frame, m_state);

        QCOMPARE(
            handler.handle(0xC0000002, record(1 | 2 | 4, 0xBEEF, file("PUNCH.MDF"), file("B.NC"))),
            0);
        QVERIFY(!frame.isMinimized());
        QCOMPARE(m_state.machine.config.OutofFile, 1);
        QCOMPARE(m_state.machine.line.OutCode, 2);
        QCOMPARE(QString::fromLatin1(m_state.config.McnFile), QStringLiteral("/shop/OLD.MDF"));
        QVERIFY(m_state.flags.MachineFromCommandLine);
        QCOMPARE(m_state.notifyWindow, 0xBEEFu);
        QCOMPARE(m_state.queue.Count, 1);
        QCOMPARE(QString::fromLocal8Bit(m_state.queue.Entries[0].Name), file("B.NC"));
        QCOMPARE(m_state.queue.Entries[0].Size, 12u);
        // Posted: nothing has run inside the request.
        QCOMPARE(m_files.transfers, 0);
        QTRY_COMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X2\nG01Y3\n\x14"));
        QCOMPARE(m_files.transfers, 1);
        QCOMPARE(QString::fromLocal8Bit(m_state.config.NcFileHistory[0]), file("B.NC"));
    }

    // A machine chosen in the window before the hand-over is the one kept at exit.
    void handedOverMachineKeepsTheMachineChosenUpToThen() {
        qstrncpy(m_state.config.McnFile, "/shop/CHOSEN.MDF", 260);
        qstrncpy(m_state.SavedMcnFile, "/shop/START.MDF", 260);
        FrameWindow frame(m_state, m_files);
        LinkRequestHandler handler(frame, m_state);
        QCOMPARE(handler.handle(0xC0000002, record(1, 0, file("PUNCH.MDF"), QString())), 0);
        QVERIFY(m_state.flags.MachineFromCommandLine);
        QCOMPARE(QString::fromLatin1(m_state.SavedMcnFile), QStringLiteral("/shop/CHOSEN.MDF"));
    }

    void handOverCasesThatChangeNothing_data() {
        QTest::addColumn<uint>("kind");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("activates");
        auto q = [](const Bytes& b) {
            return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
        };
        const QString missing = file("NONE.NC");
        Bytes noTerminator = record(2, 0, QString(), QString());
        std::fill(noTerminator.begin() + 268, noTerminator.end(), 'x');
        QTest::newRow("527 bytes")
            << 0xC0000002u << q(record(2, 0, {}, file("B.NC"), 527)) << 0 << false;
        QTest::newRow("flags 0") << 0xC0000002u << q(record(0, 0, file("PUNCH.MDF"), file("B.NC")))
                                 << 0 << true;
        QTest::newRow("file path without terminator")
            << 0xC0000002u << q(noTerminator) << 0 << false;
        QTest::newRow("file not found") << 0xC0000002u << q(record(2, 0, {}, missing)) << 0 << true;
        QTest::newRow("machine not found")
            << 0xC0000002u << q(record(1, 0, file("NONE.MDF"), {})) << 0 << true;
        QTest::newRow("file is a folder")
            << 0xC0000002u << q(record(2, 0, {}, m_dir.path())) << 0 << true;
        QTest::newRow("short form, not found: still 1")
            << 0xC0000001u << q(pathBytes(missing)) << 1 << false;
        QTest::newRow("short form without terminator")
            << 0xC0000001u << QByteArray("/tmp/B.NC") << 0 << false;
        QTest::newRow("empty") << 0xC0000002u << QByteArray() << 0 << false;
        QTest::newRow("unknown kind") << 0xC0000003u << q(pathBytes(file("B.NC"))) << 0 << false;
        QTest::newRow("command 3000") << 0x0111u << q(word(3000)) << 0 << false;
        QTest::newRow("command, short body") << 0x0111u << QByteArray("\x88\x13", 2) << 0 << false;
    }

    void handOverCasesThatChangeNothing() {
        QFETCH(uint, kind);
        QFETCH(QByteArray, body);
        const Bytes data(body.begin(), body.end());
        FrameWindow frame(m_state, m_files);
        LinkRequestHandler handler(frame, m_state);
        const MachineConfig before = m_state.machine.config;
        MessageBoxAnswers answers; // a machine file that is not there is told
        QTEST(int(handler.handle(kind, data)), "answer");
        QCoreApplication::processEvents();
        QCOMPARE(m_state.queue.Count, 0);
        QVERIFY(!m_state.flags.MachineFromCommandLine);
        QCOMPARE(m_state.notifyWindow, 0u);
        QCOMPARE(m_state.machine.config.PtrTimeOut, before.PtrTimeOut);
        QCOMPARE(m_files.transfers, 0);
        QTEST(frame.isVisible(), "activates");
    }

    void commandsFromOutsideArePosted() {
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        frame.show();
        LinkRequestHandler handler(frame, m_state);
        queueFile(file("A.NC"));
        QCOMPARE(handler.handle(0x0111, word(5000)), 1);
        QCOMPARE(m_files.transfers, 0);
        QTRY_COMPARE(m_files.transfers, 1);
        QCOMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\n\x14"));

        QCOMPARE(handler.handle(0x0111, word(5001)), 1);
        QVERIFY(frame.isVisible());
        QTRY_VERIFY(!frame.isVisible());
    }

    // The caller named in a hand-over hears the send; once it has gone, the next send runs
    // just the same.
    void noticesReachTheCallerAndItsDepartureIsHarmless() {
        m_state.linkFolder = m_dir.path().toStdString();
        QLocalServer listener;
        QVERIFY(listener.listen(m_dir.filePath(QStringLiteral("corvane-notify-0000abcd"))));
        QByteArray heard;
        QList<QLocalSocket*> peers;
        connect(&listener, &QLocalServer::newConnection, this, [&] {
            while (QLocalSocket* peer = listener.nextPendingConnection()) {
                peers.append(peer);
                connect(peer, &QLocalSocket::readyRead, this,
                        [&heard, peer] { heard += peer->readAll(); });
            }
        });
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        LinkRequestHandler handler(frame, m_state);
        QCOMPARE(handler.handle(0xC0000002, record(2 | 4, 0xABCD, {}, file("B.NC"))), 0);
        QTRY_COMPARE(heard.size(), 12 * 5);
        std::vector<std::pair<uint32_t, uint32_t>> notices;
        for (int at = 0; at < heard.size(); at += 12) {
            QCOMPARE(wordAt(heard, at), 0x5FEu);
            notices.emplace_back(wordAt(heard, at + 4), wordAt(heard, at + 8));
        }
        const std::vector<std::pair<uint32_t, uint32_t>> expected = {
            {10, 12}, {11, 6}, {11, 12}, {12, 0}, {1, 0}};
        QCOMPARE(notices, expected);

        listener.close();
        qDeleteAll(peers);
        QFile::remove(file("PUNCH.TAP"));
        QCOMPARE(handler.handle(0xC0000001, pathBytes(file("A.NC"))), 1);
        QTRY_COMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\n\x14"));
    }

    // "NOTIFY=" names a caller only while it listens; the started window listens itself and
    // takes its socket away again at exit.
    void startUpKeepsOnlyANotifyTargetThatListens() {
        const QString run = m_dir.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(run + QStringLiteral("/corvane")));
        QFile::setPermissions(run + QStringLiteral("/corvane"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
        writeFile(file("corvane.cfg"), "[CFG_Setting]\nOneInstance=1\n");
        QLocalServer listener;
        QVERIFY(listener.listen(run + QStringLiteral("/corvane/corvane-notify-0000beef")));
        const QString server = run + QStringLiteral("/corvane/CVN_FrameClass");

        for (const char* id : {"beef", "dead"}) {
            CorvaneApp app(file("corvane").toStdString(),
                           {"-US", ("-CFG=" + file("corvane.cfg")).toStdString(),
                            std::string("-NOTIFY=") + id});
            QVERIFY(app.start());
            QCOMPARE(app.state().notifyWindow, id == std::string("beef") ? 0xBEEFu : 0u);
            QVERIFY(QFileInfo::exists(server));
            app.frame()->dispatchCommand(3003);
            app.finish();
            QVERIFY(!QFileInfo::exists(server));
        }
        if (savedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }

    // Several files handed over form one list: the record opens it (answer 1), each further
    // file joins it, and 5000 sends them all in one send, in order.
    void handedOverListIsSentAsOneSend() {
        writeFile(file("C.NC"), "M30\n");
        FrameWindow frame(m_state, m_files);
        frame.host().setClock(&m_clock);
        LinkRequestHandler handler(frame, m_state);
        queueFile(file("B.NC")); // an earlier send's queue must not go out again
        QCOMPARE(handler.handle(0xC0000002, record(1 | 2 | 8, 0, file("PUNCH.MDF"), file("A.NC"))),
                 1);
        QCOMPARE(handler.handle(0xC0000003, pathBytes(file("B.NC"))), 1);
        QCOMPARE(handler.handle(0xC0000003, pathBytes(file("GONE.NC"))), 0);
        QCOMPARE(handler.handle(0xC0000003, pathBytes(file("C.NC"))), 1);
        QCOMPARE(m_files.transfers, 0); // nothing before the command
        QCOMPARE(m_state.queue.Count, 3);
        QCOMPARE(handler.handle(0x0111, word(5000)), 1);
        QTRY_COMPARE(readFile(file("PUNCH.TAP")), QByteArray("\x12G01X1\nG01X2\nG01Y3\nM30\n\x14"));
        QCOMPARE(m_files.transfers, 1);
        // The list is closed: a late file joins nothing.
        QCOMPARE(handler.handle(0xC0000003, pathBytes(file("A.NC"))), 0);
    }

    // A list whose machine cannot be read is not opened: its files are sent with no machine.
    void listForAMachineThatCannotBeReadStaysEmpty() {
        FrameWindow frame(m_state, m_files);
        LinkRequestHandler handler(frame, m_state);
        MessageBoxAnswers answers;
        queueFile(file("B.NC"));
        QCOMPARE(handler.handle(0xC0000002, record(1 | 2 | 8, 0, file("NONE.MDF"), file("A.NC"))),
                 0);
        QCOMPARE(handler.handle(0xC0000003, pathBytes(file("B.NC"))), 0);
        QCOMPARE(m_state.queue.Count, 0);
        QTRY_COMPARE(answers.count(), 1);
    }

    // A second start with several files hands every one of them over, as a list; a window
    // that does not open the list (answer 0) is sent nothing more.
    void secondStartHandsOverEveryFile_data() {
        QTest::addColumn<int>("recordAnswer");
        QTest::newRow("list opened") << 1;
        QTest::newRow("list refused") << 0;
    }

    void secondStartHandsOverEveryFile() {
        QFETCH(int, recordAnswer);
        writeFile(file("C.NC"), "M30\n");
        const QString run = m_dir.filePath(QStringLiteral("run2"));
        QVERIFY(QDir().mkpath(run + QStringLiteral("/corvane")));
        QFile::setPermissions(run + QStringLiteral("/corvane"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(run + QStringLiteral("/corvane/CVN_FrameClass"));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", run.toLocal8Bit());
        writeFile(file("corvane.cfg"), "[CFG_Setting]\nOneInstance=1\n");
        std::vector<FakeRunningWindow::Request> asked;
        {
            FakeRunningWindow window(run + QStringLiteral("/corvane/CVN_FrameClass"), recordAnswer);
            QVERIFY(window.bound());
            CorvaneApp app(file("corvane").toStdString(),
                           {"-US", ("-CFG=" + file("corvane.cfg")).toStdString(),
                            file("A.NC").toStdString(), file("B.NC").toStdString(),
                            file("C.NC").toStdString()});
            QVERIFY(!app.start()); // handed over
            app.finish();
            asked = window.requests();
        }
        if (savedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", savedRuntime);

        QVERIFY(!asked.empty());
        QCOMPARE(asked[0].kind, 0xC0000002u);
        const auto decoded =
            DecodeHandOver(asked[0].kind, asked[0].body.data(), asked[0].body.size());
        QVERIFY(decoded.has_value());
        QVERIFY(decoded->flags & 8);
        QCOMPARE(QString::fromLocal8Bit(decoded->filePath.c_str()), file("A.NC"));
        if (recordAnswer == 0) {
            QCOMPARE(asked.size(), size_t(1));
            return;
        }
        QCOMPARE(asked.size(), size_t(4));
        QCOMPARE(asked[1].kind, 0xC0000003u);
        QCOMPARE(asked[1].body, pathBytes(file("B.NC")));
        QCOMPARE(asked[2].body, pathBytes(file("C.NC")));
        QCOMPARE(asked[3].kind, 0x0111u);
        QCOMPARE(asked[3].body, word(5000));
    }

    // Help and version in every form the usage promises: any case, "-", "--" or "/".
    void helpAndVersionAnswerInEveryForm() {
        for (const char* form : {"--help", "-help", "-HELP", "/help", "-h", "/H", "/?", "-?"}) {
            const auto answer = CommandLineAnswer({"-US", form});
            QVERIFY2(answer && answer->rfind("usage: corvane", 0) == 0, form);
        }
        for (const char* form : {"--version", "-version", "/VERSION", "-Version"}) {
            const auto answer = CommandLineAnswer({form, "A.NC"});
            QVERIFY2(answer && answer->rfind("corvane ", 0) == 0 &&
                         answer->find("usage") == std::string::npos,
                     form);
        }
        for (const char* other : {"-hh", "help", "/home/ann/PART.NC", "-MDF=/m/H.MDF", "-"})
            QVERIFY2(!CommandLineAnswer({other}), other);
    }

    // "-ASK" names the files, the machine they would go to and its port.
    void askBeforeSendNamesTheMachineAndItsPort() {
        writeFile(file("corvane.cfg"), "[CFG_Setting]\nOneInstance=0\n");
        writeFile(file("LATHE.MDF"), "[MCN_RS232C]\nPortName=/dev/ttyUSB3\n");
        MessageBoxAnswers answers(QMessageBox::No);
        answers.shootNextBox(
            QStringLiteral(CORVANE_SCREENSHOT_DIR "/window-en-ask-names-machine.png"));
        QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
        CorvaneApp app(file("corvane").toStdString(),
                       {"-US", "-CREATE", ("-CFG=" + file("corvane.cfg")).toStdString(),
                        ("-MDF=" + file("LATHE.MDF")).toStdString(), "-ASK",
                        file("A.NC").toStdString(), file("B.NC").toStdString()});
        QVERIFY(app.start());
        QCOMPARE(answers.count(), 1);
        const QString text = answers.texts().front();
        QVERIFY2(text.contains(file("A.NC")) && text.contains(file("B.NC")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Machine: ") + file("LATHE.MDF")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Port: /dev/ttyUSB3")), qPrintable(text));
        QCOMPARE(app.state().queue.Count, 0);
        app.frame()->dispatchCommand(3003);
        app.finish();
    }

    // The listening socket: a socket file nobody answers on is taken over, requests are
    // answered in order, a second server leaves a live one alone, and a peer that announces
    // an oversized request is cut off.
    void serverTakesOverAStaleSocketAndAnswersInOrder() {
        const QString path = m_dir.filePath(QStringLiteral("CVN_FrameClass"));
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd); // the file stays, nobody listens
        }
        QVERIFY(QFileInfo::exists(path));
        FrameWindow frame(m_state, m_files);
        LinkRequestHandler handler(frame, m_state);
        InstanceServer server(handler);
        std::string error;
        QCOMPARE(server.listen(path.toStdString(), &error), InstanceServer::Listen::Listening);

        InstanceServer second(handler);
        QCOMPARE(second.listen(path.toStdString(), &error), InstanceServer::Listen::InUse);

        QLocalSocket client;
        client.connectToServer(path);
        QVERIFY(client.waitForConnected(2000));
        QByteArray requests;
        auto add = [&](uint32_t kind, const Bytes& body) {
            for (const Bytes& part : {word(kind), word(uint32_t(body.size())), body})
                requests.append(reinterpret_cast<const char*>(part.data()), int(part.size()));
        };
        add(0x05FE, word(1));
        add(0x05FE, word(7));
        add(0x0111, word(3000));
        // Sent in two pieces, cut inside the header.
        client.write(requests.left(5));
        client.flush();
        QCoreApplication::processEvents(); // the server may see the first piece on its own
        client.write(requests.mid(5));
        QTRY_COMPARE(client.bytesAvailable(), qint64(12));
        const QByteArray answers = client.readAll();
        QCOMPARE(wordAt(answers, 0), 1u);
        QCOMPARE(wordAt(answers, 4), 0u);
        QCOMPARE(wordAt(answers, 8), 0u);

        QLocalSocket rogue;
        rogue.connectToServer(path);
        QVERIFY(rogue.waitForConnected(2000));
        const Bytes header = word(0xC0000002);
        const Bytes huge = word(100000);
        rogue.write(reinterpret_cast<const char*>(header.data()), 4);
        rogue.write(reinterpret_cast<const char*>(huge.data()), 4);
        QTRY_COMPARE(rogue.state(), QLocalSocket::UnconnectedState);
    }
};

QTEST_MAIN(LinkRequestTest)
#include "LinkRequestTest.moc"
