// The machine property sheet driven through its widgets: what the live definition, McnFile,
// the machine history and the files hold after Open, Save, OK and Cancel; the device and
// code rules of the first page; the port check; the ranges of every field. Screenshots of
// every page in English and Japanese go to the screenshot folder for review.

#include <arpa/inet.h>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "settings/MachineDef.h"
#include "settings/MachinePropertySheet.h"
#include "settings/ShowMachineProperty.h"
#include "support/GuiTestFiles.h"
#include "transfer/LineSettings.h"

using namespace corvane;
using namespace corvane::gui;
using corvane::testing::readFile;
using corvane::testing::saveScreenshot;
using corvane::testing::writeFile;
using Sheet = MachinePropertySheet;

namespace {

constexpr int kComm = 0;
constexpr int kSend = 1;
constexpr int kReceive = 2;
constexpr int kOptions = 3;

template <class T> T* ctl(Sheet& sheet, int page, int id) {
    T* widget = sheet.page(page)->findChild<T*>(QStringLiteral("ctl%1").arg(id));
    if (!widget)
        qFatal("no control %d of type %s on page %d", id, T::staticMetaObject.className(), page);
    return widget;
}

QPushButton* button(Sheet& sheet, int id) {
    return sheet.findChild<QPushButton*>(QStringLiteral("ctl%1").arg(id));
}

void click(Sheet& sheet, int id) {
    QTest::mouseClick(button(sheet, id), Qt::LeftButton);
}

struct Question {
    QString caption;
    QString text;
    QString detail;
};

// Everything the sheet asks, answered from scripts; every showing of the sheet runs the next
// step, and a sheet without a step left is cancelled, so a test cannot hang on a modal loop.
struct Script {
    std::deque<std::function<void(Sheet&)>> steps;
    std::deque<QStringList> fileAnswers;
    std::vector<FileDialogRequest> fileRequests;
    std::deque<bool> questionAnswers;
    std::vector<Question> questions;
    std::vector<QString> notices;
    std::vector<std::string> devicesOpened;
    std::function<OpenedLine(const MachineDef&)> opener; // null: the real open
    std::vector<std::string> ports{"/dev/serial/by-id/usb-FTDI_A9-if00-port0", "/dev/ttyUSB0"};
    int showings = 0;

    MachineSheetHooks hooks() {
        MachineSheetHooks h;
        h.fileDialog = [this](QWidget*, const FileDialogRequest& request) {
            fileRequests.push_back(request);
            if (fileAnswers.empty())
                return QStringList{};
            QStringList answer = fileAnswers.front();
            fileAnswers.pop_front();
            return answer;
        };
        h.ask = [this](QWidget*, const QString& caption, const QString& text,
                       const QString& detail) {
            questions.push_back({caption, text, detail});
            if (questionAnswers.empty())
                return false;
            const bool yes = questionAnswers.front();
            questionAnswers.pop_front();
            return yes;
        };
        h.tell = [this](QWidget*, const QString&, const QString& text) { notices.push_back(text); };
        h.listPorts = [this] { return ports; };
        h.openPort = [this](const MachineDef& machine) {
            devicesOpened.push_back(SerialDeviceName(machine.line));
            return opener ? opener(machine) : openSheetPort(machine);
        };
        h.onShown = [this](Sheet& sheet) {
            ++showings;
            if (steps.empty()) {
                sheet.reject();
                return;
            }
            auto step = steps.front();
            steps.pop_front();
            step(sheet);
            // A step that left the sheet open (a refused OK) is closed here.
            if (sheet.isVisible())
                sheet.reject();
        };
        return h;
    }
};

// A port that opens.
class TestLineStub : public Line {
public:
    bool isFile() const override { return false; }
    bool holds(LineHolds&) override { return true; }
    bool writeByte(uint8_t, uint64_t) override { return true; }
    ReadResult readByte(uint64_t) override { return {}; }
    void holdUntilXon() override {}
    void waitForChange(uint64_t) override {}
    void drainOutput(uint64_t) override {}
    void purge() override {}
    void dropDtr() override {}
    void close() override {
        if (closed)
            ++*closed;
    }
    int* closed = nullptr; // counts the closes when set
};

OpenedLine opensFine(const MachineDef&) {
    OpenedLine opened;
    opened.line = std::make_unique<TestLineStub>();
    return opened;
}

OpenedLine refusedBusy(const MachineDef&) {
    OpenedLine opened;
    opened.error.kind = OpenFailure::Busy;
    opened.error.text = "Device or resource busy";
    return opened;
}

// The file questions of the frame; the sheet asks none of them.
class NoFileQuestions : public FileQuestions {
public:
    int selectNcFiles(QWidget*, bool, const QString&, MachineDef&, SendQueueEntry*, int) override {
        return 0;
    }
    int editSendList(QWidget*, MachineDef&, SendQueue&) override { return 0; }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string&) override { return false; }
};

} // namespace

class MachinePropertySheetTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AppState m_state;

    QString file(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void setMcnFile(const QString& path) {
        qstrncpy(m_state.config.McnFile, QFile::encodeName(path).constData(),
                 sizeof m_state.config.McnFile);
    }
    QString mcnFile() const { return QFile::decodeName(m_state.config.McnFile); }

private slots:
    void init() {
        m_state = AppState{};
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        m_state.configFilePath = file("corvane.cfg").toStdString();
        for (const QString& entry : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(m_dir.filePath(entry));
    }

    // Save writes the edits to the new file, makes it McnFile and the head of the machine
    // history, and shows the sheet again with the same values.
    void saveWritesTheEditsToTheNewFileAndShowsThemAgain() {
        setMcnFile(file("OLD.MDF"));
        Script script;
        script.fileAnswers.push_back({file("NEW.MDF")});
        QString secondTitle;
        int secondBaud = -1;
        int secondBase = -1;
        script.steps.push_back([](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 1239)->setCurrentIndex(7);
            ctl<QSpinBox>(sheet, kSend, 2111)->setValue(100);
            ctl<QLineEdit>(sheet, kSend, 2119)->setText("0D0A");
            click(sheet, Sheet::SaveId);
        });
        script.steps.push_back([&](Sheet& sheet) {
            secondTitle = sheet.windowTitle();
            secondBaud = ctl<QComboBox>(sheet, kComm, 1239)->currentIndex();
            secondBase = ctl<QSpinBox>(sheet, kSend, 2111)->value();
            click(sheet, Sheet::CancelId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(script.showings, 2);
        QCOMPARE(secondTitle, QString("NEW - Machine Property"));
        QCOMPARE(secondBaud, 7);
        QCOMPARE(secondBase, 100);
        QCOMPARE(mcnFile(), file("NEW.MDF"));
        QCOMPARE(m_state.machine.line.BaudRate, 7);
        QCOMPARE(m_state.machine.config.NnoBase, 100);
        QCOMPARE(QString(m_state.config.McnFileHistory[0]), file("NEW.MDF"));
        const QByteArray saved = readFile(file("NEW.MDF"));
        QVERIFY2(saved.contains("BaudRate=7"), saved.constData());
        QVERIFY2(saved.contains("NnoBase=100"), saved.constData());
        QVERIFY2(saved.contains("PtpUser0=0D0A"), saved.constData());
        QCOMPARE(readFile(file("OLD.MDF")), QByteArray("<missing>"));
        // The file dialog was a save dialog for machine files.
        QCOMPARE(script.fileRequests.size(), size_t(1));
        QVERIFY(!script.fileRequests[0].open);
        QCOMPARE(script.fileRequests[0].defaultSuffix, QString("MDF"));
        QVERIFY(script.fileRequests[0].nameFilters.front().contains("*.MDF"));
    }

    // Open loads the chosen file over a defaulted definition; edits made before it are lost,
    // Cancel afterwards keeps the opened definition and McnFile and drops only later edits.
    void openLoadsOverDefaultsAndCancelKeepsWhatWasOpened() {
        writeFile(file("LATHE.MDF"), "[MCN_RS232C]\nBaudRate=7\n");
        m_state.machine.line.OutCode = 2;
        m_state.machine.config.PtrTimeOut = 500;
        setMcnFile(file("MILL.MDF"));
        Script script;
        script.fileAnswers.push_back({file("LATHE.MDF")});
        int shownBaud = -1;
        int shownTimeOut = -1;
        script.steps.push_back([](Sheet& sheet) {
            ctl<QSpinBox>(sheet, kSend, 2111)->setValue(55);
            click(sheet, Sheet::OpenId);
        });
        script.steps.push_back([&](Sheet& sheet) {
            shownBaud = ctl<QComboBox>(sheet, kComm, 1239)->currentIndex();
            shownTimeOut = ctl<QSpinBox>(sheet, kReceive, 1251)->value();
            ctl<QComboBox>(sheet, kComm, 1239)->setCurrentIndex(3);
            click(sheet, Sheet::CancelId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(shownBaud, 7);
        QCOMPARE(shownTimeOut, 0);
        QCOMPARE(mcnFile(), file("LATHE.MDF"));
        QCOMPARE(m_state.machine.line.BaudRate, 7);
        QCOMPARE(m_state.machine.line.OutCode, 0);
        QCOMPARE(m_state.machine.config.PtrTimeOut, 0);
        QCOMPARE(m_state.machine.config.NnoBase, 0);
        QVERIFY(script.fileRequests[0].open);
        QCOMPARE(script.fileRequests[0].folder, m_dir.path() + "/");
        // Opening is not saving: nothing was written, the history is untouched.
        QCOMPARE(readFile(file("MILL.MDF")), QByteArray("<missing>"));
        QCOMPARE(m_state.config.McnFileHistory[0][0], '\0');
    }

    // A cancelled file dialog, or a file that cannot be read, keeps the sheet open and McnFile
    // as it was.
    void openThatChoosesNothingUsableKeepsTheSheetOpen() {
        setMcnFile(file("MILL.MDF"));
        m_state.machine.config.NnoIncr = 5;
        Script script;
        script.fileAnswers.push_back({});
        script.fileAnswers.push_back({file("MISSING.MDF")});
        bool openAfterCancel = false;
        bool openAfterMissing = false;
        script.steps.push_back([&](Sheet& sheet) {
            click(sheet, Sheet::OpenId);
            openAfterCancel = sheet.isVisible();
            click(sheet, Sheet::OpenId);
            openAfterMissing = sheet.isVisible();
            click(sheet, Sheet::CancelId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QVERIFY(openAfterCancel);
        QVERIFY(openAfterMissing);
        QCOMPARE(script.showings, 1);
        QCOMPARE(mcnFile(), file("MILL.MDF"));
        QCOMPARE(m_state.machine.config.NnoIncr, 5);
        QCOMPARE(script.notices.size(), size_t(1));
        QVERIFY(script.notices[0].contains("could not be read"));
        QVERIFY(script.notices[0].contains(file("MISSING.MDF")));
    }

    // A Save that cannot be written says why, and McnFile keeps naming the file that exists.
    void saveThatCannotBeWrittenTellsWhyAndKeepsMcnFile() {
        setMcnFile(file("MILL.MDF"));
        Script script;
        script.fileAnswers.push_back({file("no-such-folder/NEW.MDF")});
        script.steps.push_back([](Sheet& sheet) { click(sheet, Sheet::SaveId); });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(script.notices.size(), size_t(1));
        QVERIFY2(script.notices[0].contains("could not be written"), qPrintable(script.notices[0]));
        QVERIFY(script.notices[0].contains(file("no-such-folder/NEW.MDF")));
        QCOMPARE(mcnFile(), file("MILL.MDF"));
        QCOMPARE(m_state.config.McnFileHistory[0][0], '\0');
    }

    // OK without a machine file keeps the definition in the configuration file, as the exit
    // does, and adds nothing to the machine history.
    void okWithoutMachineFileWritesTheConfigurationFile() {
        writeFile(file("corvane.cfg"), "[Settings]\nEcho=0\n");
        Script script;
        script.steps.push_back([](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 1243)->setCurrentIndex(1);
            ctl<QSpinBox>(sheet, kReceive, 1251)->setValue(2500);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, 2, script.hooks()), 1);
        QCOMPARE(m_state.machine.config.OutofFile, 1);
        QCOMPARE(m_state.machine.config.PtrTimeOut, 2500);
        const QByteArray cfg = readFile(file("corvane.cfg"));
        QVERIFY2(cfg.contains("[Settings]") && cfg.contains("Echo=0"), cfg.constData());
        QVERIFY2(cfg.contains("[MCN_Config]") && cfg.contains("PtrTimeOut=2500"), cfg.constData());
        QCOMPARE(m_state.config.McnFileHistory[0][0], '\0');
        QCOMPARE(m_state.config.McnFile[0], '\0');
        QVERIFY(script.devicesOpened.empty()); // a device file is not a port to test
        QVERIFY(script.notices.empty());
    }

    // OK with a file of its own writes it and puts it at the head of the history.
    void okWritesTheMachineFileAndHeadsTheHistory() {
        setMcnFile(file("MILL.MDF"));
        qstrncpy(m_state.config.McnFileHistory[0], qPrintable(file("OTHER.MDF")), 260);
        Script script;
        int closes = 0;
        script.opener = [&closes](const MachineDef&) {
            auto line = std::make_unique<TestLineStub>();
            line->closed = &closes;
            OpenedLine opened;
            opened.line = std::move(line);
            return opened;
        };
        script.steps.push_back([](Sheet& sheet) {
            ctl<QCheckBox>(sheet, kSend, 2122)->setChecked(true);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 1);
        QVERIFY(script.questions.empty());
        QCOMPARE(closes, 1); // the port is not kept open behind the sheet
        QVERIFY(readFile(file("MILL.MDF")).contains("Comment=1"));
        QCOMPARE(QString(m_state.config.McnFileHistory[0]), file("MILL.MDF"));
        QCOMPARE(QString(m_state.config.McnFileHistory[1]), file("OTHER.MDF"));
    }

    // COM3 in use by another program: OK asks the "Open error" question with the number 3;
    // No keeps the sheet open, Yes takes the settings anyway.
    void okWithABusyNumberedPortAsksWithTheNumber() {
        setMcnFile(file("MILL.MDF"));
        Script script;
        script.opener = refusedBusy;
        script.questionAnswers = {false, true};
        bool openAfterNo = false;
        script.steps.push_back([&](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText("3");
            click(sheet, Sheet::OkId);
            openAfterNo = sheet.isVisible();
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 1);
        QVERIFY(openAfterNo);
        QCOMPARE(script.questions.size(), size_t(2));
        QCOMPARE(script.questions[0].caption, QString("Open error"));
        QCOMPARE(script.questions[0].text,
                 QString("Open the port number 3 specified was not possible\n"
                         "Do you close setting?"));
        QCOMPARE(script.questions[0].detail, QString("The port is in use by another program."));
        QCOMPARE(script.devicesOpened[0], std::string("/dev/ttyS2"));
        QCOMPARE(m_state.machine.line.PortNo, 2);
        QCOMPARE(m_state.machine.line.PortName[0], '\0');
    }

    // A device path that does not open is asked about by its path, with the reason the
    // transfer would give; a device that opens is not asked about.
    void okWithADevicePathChecksThatDevice() {
        setMcnFile(file("MILL.MDF"));
        const QString missing = file("ttyUSB9");
        Script script; // the real open
        script.questionAnswers = {false};
        script.steps.push_back([&](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText(missing);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(script.questions.size(), size_t(1));
        QCOMPARE(script.questions[0].text,
                 QString("Open the port %1 specified was not possible\nDo you close setting?")
                     .arg(missing));
        QCOMPARE(script.questions[0].detail,
                 QString("The port does not exist. Check the port of the machine definition."));
        QCOMPARE(m_state.machine.line.PortName[0], '\0'); // No, then Cancel: nothing live

        // A pseudo-terminal opens as a serial line does.
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0);
        QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
        const QString slave = QString::fromLatin1(ptsname(master));
        Script opening;
        opening.steps.push_back([&](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText(slave);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, opening.hooks()), 1);
        ::close(master);
        QVERIFY(opening.questions.empty());
        QCOMPARE(opening.devicesOpened, std::vector<std::string>{slave.toStdString()});
        QCOMPARE(QString(m_state.machine.line.PortName), slave);
    }

    // What the port box takes: a COM number empties PortName, a path keeps PortNo, anything
    // else is refused with a notice and leaves the sheet open.
    void portBoxTakesANumberOrAPath_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("portNo");
        QTest::addColumn<QString>("portName");
        QTest::newRow("number") << "5" << true << 4 << "";
        QTest::newRow("COM name") << "com12" << true << 11 << "";
        QTest::newRow("path") << "/dev/ttyUSB3" << true << 6 << "/dev/ttyUSB3";
        QTest::newRow("bare tty name") << "ttyACM0" << true << 6 << "/dev/ttyACM0";
        QTest::newRow("by-id from the list") << "/dev/serial/by-id/usb-FTDI_A9-if00-port0" << true
                                             << 6 << "/dev/serial/by-id/usb-FTDI_A9-if00-port0";
        QTest::newRow("raw device server")
            << " tcp://127.0.0.1:4001 " << true << 6 << "tcp://127.0.0.1:4001";
        QTest::newRow("rfc2217 on IPv6")
            << "RFC2217://[fd00::21]:3301" << true << 6 << "rfc2217://[fd00::21]:3301";
        QTest::newRow("server without port") << "tcp://127.0.0.1" << false << 6 << "/dev/old";
        QTest::newRow("port out of range") << "tcp://127.0.0.1:65536" << false << 6 << "/dev/old";
        QTest::newRow("blank in server") << "tcp://mill 3:4001" << false << 6 << "/dev/old";
        QTest::newRow("zero") << "0" << false << 6 << "/dev/old";
        QTest::newRow("too high") << "257" << false << 6 << "/dev/old";
        QTest::newRow("words") << "the usb one" << false << 6 << "/dev/old";
        QTest::newRow("empty") << "" << false << 6 << "/dev/old";
    }
    void portBoxTakesANumberOrAPath() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, portNo);
        QFETCH(QString, portName);
        m_state.machine.line.PortNo = 6;
        qstrncpy(m_state.machine.line.PortName, "/dev/old", 260);
        Script script;
        script.opener = opensFine;
        script.steps.push_back([&](Sheet& sheet) {
            QCOMPARE(ctl<QComboBox>(sheet, kComm, 2037)->currentText(), QString("/dev/old"));
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText(typed);
            click(sheet, Sheet::OkId);
        });
        const int result = ShowMachineProperty(m_state, nullptr, -1, script.hooks());
        QCOMPARE(result, accepted ? 1 : 2);
        QCOMPARE(script.notices.size(), size_t(accepted ? 0 : 1));
        QCOMPARE(m_state.machine.line.PortNo, portNo);
        QCOMPARE(QString(m_state.machine.line.PortName), portName);
    }

    // OK reaches a device server the way a transfer does, and words a failure the same way.
    void okConnectsToADeviceServer() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        const QString where = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
        QVERIFY(::listen(listener, 4) == 0);

        Script reached;
        reached.steps.push_back([&](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText("tcp://" + where);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, reached.hooks()), 1);
        QVERIFY(reached.questions.empty());
        QCOMPARE(QString(m_state.machine.line.PortName), "tcp://" + where);

        ::close(listener); // now nothing listens there
        Script refused;
        refused.steps.push_back([&](Sheet& sheet) {
            ctl<QComboBox>(sheet, kComm, 2037)->setEditText("rfc2217://" + where);
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, refused.hooks()), 2);
        QCOMPARE(refused.questions.size(), size_t(1));
        QCOMPARE(refused.questions[0].detail,
                 where + ": the connection was refused. Nothing listens on that port: check "
                         "that the device server runs and the port number.");
    }

    // The port box offers the devices found, and shows the number when no device is named.
    void portBoxListsTheDevicesFound() {
        m_state.machine.line.PortNo = 2;
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        auto* box = ctl<QComboBox>(sheet, kComm, 2037);
        QVERIFY(box->isEditable());
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QString("/dev/serial/by-id/usb-FTDI_A9-if00-port0"));
        QCOMPARE(box->itemText(1), QString("/dev/ttyUSB0"));
        QCOMPARE(box->currentText(), QString("3"));
    }

    // The code rules while the device is the serial port; ASCII opens with what the machine
    // file says and starts from 8 bit, no parity, when the user chooses it.
    void codeRulesLockTheFraming_data() {
        QTest::addColumn<int>("storedCode");
        QTest::addColumn<int>("chosenCode");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<bool>("editable");
        QTest::newRow("ISO on open") << 0 << -1 << 0 << 2 << false;
        QTest::newRow("EIA on open") << 1 << -1 << 1 << 0 << false;
        QTest::newRow("ASCII on open keeps 7 bit odd") << 2 << -1 << 0 << 1 << true;
        QTest::newRow("EIA chosen") << 0 << 1 << 1 << 0 << false;
        QTest::newRow("ISO chosen") << 2 << 0 << 0 << 2 << false;
        QTest::newRow("ASCII chosen") << 1 << 2 << 1 << 0 << true;
    }
    void codeRulesLockTheFraming() {
        QFETCH(int, storedCode);
        QFETCH(int, chosenCode);
        QFETCH(int, dataBits);
        QFETCH(int, parity);
        QFETCH(bool, editable);
        m_state.machine.line.OutCode = storedCode;
        m_state.machine.line.DataLen = 0;
        m_state.machine.line.Parity = 1;
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        if (chosenCode >= 0)
            ctl<QComboBox>(sheet, kComm, 1238)->setCurrentIndex(chosenCode);
        auto* dataBox = ctl<QComboBox>(sheet, kComm, 1240);
        auto* parityBox = ctl<QComboBox>(sheet, kComm, 1242);
        QCOMPARE(dataBox->currentIndex(), dataBits);
        QCOMPARE(parityBox->currentIndex(), parity);
        QCOMPARE(dataBox->currentText(), QString(dataBits == 0 ? "7 bit" : "8 bit"));
        QCOMPARE(dataBox->isEnabled(), editable);
        QCOMPARE(parityBox->isEnabled(), editable);
        QVERIFY(sheet.storeControls());
        QCOMPARE(copy.def.line.DataLen, dataBits);
        QCOMPARE(copy.def.line.Parity, parity);
    }

    // The File device disables the port, baud rate, framing and flow controls; code and DC
    // codes stay editable, and the serial port brings everything back with the code rules.
    void fileDeviceDisablesThePortControls() {
        m_state.machine.line.OutCode = 1; // EIA
        m_state.machine.config.OutofFile = 1;
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        const int portControls[] = {2037, 1239, 1240, 1241, 1242, 2034, 2035, 2036};
        const int alwaysEnabled[] = {1243, 1238, 2030, 2031, 2032, 2033};
        for (int id : portControls)
            QVERIFY2(!sheet.control(kComm, id)->isEnabled(), qPrintable(QString::number(id)));
        for (int id : alwaysEnabled)
            QVERIFY2(sheet.control(kComm, id)->isEnabled(), qPrintable(QString::number(id)));

        ctl<QComboBox>(sheet, kComm, 1243)->setCurrentIndex(0);
        for (int id : {2037, 1239, 1241, 2034, 2035, 2036})
            QVERIFY2(sheet.control(kComm, id)->isEnabled(), qPrintable(QString::number(id)));
        // EIA: data bits and parity follow the code and stay locked.
        QVERIFY(!sheet.control(kComm, 1240)->isEnabled());
        QCOMPARE(ctl<QComboBox>(sheet, kComm, 1240)->currentIndex(), 1);
        QCOMPARE(ctl<QComboBox>(sheet, kComm, 1242)->currentIndex(), 0);

        ctl<QComboBox>(sheet, kComm, 1243)->setCurrentIndex(1);
        QVERIFY(!sheet.control(kComm, 1240)->isEnabled());
        QVERIFY(!sheet.control(kComm, 2037)->isEnabled());
    }

    // Every number field refuses values outside its range, every text field text longer than
    // its buffer, and every list offers exactly its choices.
    void controlsEnforceTheRanges_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        const struct {
            const char* name;
            int page, id, min, max;
        } rows[] = {{"DC1", kComm, 2030, 0, 255},          {"DC2", kComm, 2032, 0, 255},
                    {"DC3", kComm, 2031, 0, 255},          {"DC4", kComm, 2033, 0, 255},
                    {"N base", kSend, 2111, 0, 10000000},  {"N incr", kSend, 2112, 0, 100000},
                    {"null before", kSend, 2113, 0, 1000}, {"null after", kSend, 2114, 0, 1000},
                    {"null middle", kSend, 2115, 0, 1000}, {"space before", kSend, 2116, 0, 1000},
                    {"space after", kSend, 2117, 0, 1000}, {"space middle", kSend, 2118, 0, 1000},
                    {"wait", kSend, 2127, 0, 1000},        {"timeout", kReceive, 1251, 0, 100000}};
        for (const auto& row : rows)
            QTest::newRow(row.name) << row.page << row.id << row.min << row.max;
    }
    void controlsEnforceTheRanges() {
        QFETCH(int, page);
        QFETCH(int, id);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        auto* spin = ctl<QSpinBox>(sheet, page, id);
        QCOMPARE(spin->minimum(), minimum);
        QCOMPARE(spin->maximum(), maximum);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::number(maximum) + "9");
        QCOMPARE(spin->value(), maximum);
        spin->selectAll();
        QTest::keyClicks(spin, "-5");
        QVERIFY(spin->value() >= minimum);
    }

    void textFieldsAndListsHaveTheirSizes() {
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        const struct {
            int page, id, maxLength;
        } texts[] = {{kSend, 2119, 255},    {kSend, 2120, 255},    {kSend, 2121, 255},
                     {kSend, 2129, 255},    {kSend, 2130, 255},    {kReceive, 1249, 255},
                     {kReceive, 1250, 255}, {kReceive, 2207, 255}, {kReceive, 2208, 255},
                     {kOptions, 1242, 259}};
        for (const auto& t : texts)
            QCOMPARE(ctl<QLineEdit>(sheet, t.page, t.id)->maxLength(), t.maxLength);

        const struct {
            int page, id, count;
            const char* first;
        } lists[] = {{kComm, 1243, 2, "COM Port"}, {kComm, 1238, 3, "ISO"},
                     {kComm, 1239, 8, "300"},      {kComm, 1240, 2, "7 bit"},
                     {kComm, 1241, 2, "1 bit"},    {kComm, 1242, 3, "None"},
                     {kSend, 1239, 4, "LF"},       {kSend, 1240, 4, "None"},
                     {kSend, 1241, 3, "None"},     {kReceive, 1242, 2, "None"},
                     {kReceive, 1241, 4, "None"},  {kReceive, 1240, 3, "Disable"}};
        for (const auto& l : lists) {
            auto* combo = ctl<QComboBox>(sheet, l.page, l.id);
            QCOMPARE(combo->count(), l.count);
            QCOMPARE(combo->itemText(0), QString(l.first));
            QVERIFY(!combo->isEditable());
        }
        QCOMPARE(ctl<QComboBox>(sheet, kComm, 1239)->itemText(7), QString("38400"));
        QCOMPARE(ctl<QComboBox>(sheet, kReceive, 1241)->itemText(3), QString("%+DC4"));
    }

    // Every field goes into the control it belongs to and comes back unchanged; the flow
    // boxes are the HandShake bits (others kept), the extension loses its dot.
    void everyFieldComesBackFromItsControl() {
        MachineDef& m = m_state.machine;
        m.line.PortNo = 7;
        m.line.BaudRate = 3;
        m.line.Stop = 0;
        m.line.HandShake = 0x8 | 1 | 4;
        m.line.OutCode = 2;
        m.line.DataLen = 1;
        m.line.Parity = 1;
        m.line.PtrStart = 1;
        m.line.PtrStop = 2;
        m.line.PtpStart = 3;
        m.line.PtpStop = 4;
        m.config.ErCode = 3;
        m.config.TVCheck = 2;
        m.config.LfCode = 3;
        m.config.Comment = 1;
        m.config.HeadLf = 0;
        m.config.NnoBase = 10000000;
        m.config.NnoIncr = 5;
        const int32_t nulls[3] = {5, 0, 2};
        const int32_t spaces[3] = {1, 2, 3};
        std::copy(nulls, nulls + 3, m.config.PtpNull);
        std::copy(spaces, spaces + 3, m.config.PtpSpace);
        m.config.SendSpace = 1;
        m.config.RecvSpace = 2;
        m.config.WordBreak = 1;
        m.config.PtrBegin = 1;
        m.config.PtrEof = 3;
        m.config.DeleteErCode = 1;
        m.config.SendDelay = 1000;
        m.config.PtrTimeOut = 100000;
        qstrncpy(m.config.PtrUser0, "12", 256);
        qstrncpy(m.config.PtrUser1, "13", 256);
        qstrncpy(m.config.PtpUser0, "0A0D", 256);
        qstrncpy(m.config.PtpUser1, "25", 256);
        qstrncpy(m.config.PtpUser2, "20", 256);
        qstrncpy(m.config.DefDir, "/srv/nc", 520);
        qstrncpy(m.config.DefExt, "nc", 260);
        m.config.Xoff = 1;
        m.config.OutofFile = 1;
        qstrncpy(m.config.SendSkipCode, "/1", 256);
        qstrncpy(m.config.SendSkipLine, "O9000", 256);
        qstrncpy(m.config.ReceiveSkipCode, "G04", 256);
        qstrncpy(m.config.ReceiveSkipLine, "M30", 256);
        const MachineDef before = m;

        Script script;
        std::vector<bool> flowShown;
        std::vector<QString> shown;
        script.steps.push_back([&](Sheet& sheet) {
            for (int id : {2034, 2035, 2036})
                flowShown.push_back(ctl<QCheckBox>(sheet, kComm, id)->isChecked());
            // The fields a round trip cannot tell apart: which element or code each shows.
            for (int id : {2030, 2031, 2032, 2033})
                shown.push_back(ctl<QSpinBox>(sheet, kComm, id)->text());
            for (int id : {2113, 2114, 2115, 2116, 2117, 2118})
                shown.push_back(ctl<QSpinBox>(sheet, kSend, id)->text());
            for (int id : {2119, 2120, 2121, 2129, 2130})
                shown.push_back(ctl<QLineEdit>(sheet, kSend, id)->text());
            for (int id : {1249, 1250, 2207, 2208})
                shown.push_back(ctl<QLineEdit>(sheet, kReceive, id)->text());
            shown.push_back(ctl<QComboBox>(sheet, kComm, 2037)->currentText());
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 1);
        QCOMPARE(flowShown, (std::vector<bool>{true, false, true}));
        const std::vector<QString> expected = {
            "1",    "2",   "3",  "4",                // DC1 DC3 DC2 DC4
            "5",    "0",   "2",  "1",  "2",     "3", // null and space: before after middle
            "0A0D", "20",  "25", "/1", "O9000",      // user codes before middle after
            "G04",  "M30", "12", "13",               // receive skip and user codes
            "8"};                                    // PortNo 7 is COM8
        QCOMPARE(shown, expected);
        QVERIFY(MachineDefWrite(qPrintable(file("before.ini")), before.line, before.config));
        QVERIFY(MachineDefWrite(qPrintable(file("after.ini")), m.line, m.config));
        QCOMPARE(readFile(file("after.ini")), readFile(file("before.ini")));

        Script edit;
        edit.steps.push_back([](Sheet& sheet) {
            ctl<QCheckBox>(sheet, kComm, 2034)->setChecked(false);
            ctl<QCheckBox>(sheet, kComm, 2035)->setChecked(true);
            ctl<QLineEdit>(sheet, kOptions, 1242)->setText("*.MIN");
            click(sheet, Sheet::OkId);
        });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, edit.hooks()), 1);
        QCOMPARE(m.line.HandShake, 0x8 | 2 | 4);
        QCOMPARE(QString(m.config.DefExt), QString("MIN"));
    }

    // The title names the machine file; the page asked for is the one shown first.
    void titleAndFirstPage() {
        setMcnFile("/srv/machines/Lathe LB.MDF");
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), 3);
        QCOMPARE(sheet.windowTitle(), QString("Lathe LB - Machine Property"));
        QCOMPARE(sheet.currentPage(), 3);
        QCOMPARE(sheet.tabs()->objectName(), QString("ctl1236"));
        QCOMPARE(sheet.tabs()->tabText(0), QString("Communication device"));
        QVERIFY(!button(sheet, Sheet::HelpId)->isEnabled()); // no manual here

        m_state.config.McnFile[0] = '\0';
        MachineSheetCopy other = MakeSheetCopy(m_state.machine);
        Sheet untitled(other, m_state, script.hooks(), -1);
        QCOMPARE(untitled.windowTitle(), QString("Machine Property"));
        QCOMPARE(untitled.currentPage(), 0);
    }

    // The frame's command 3015 runs the sheet with its tool button pressed.
    void frameCommandRunsTheSheet() {
        NoFileQuestions files;
        FrameWindow frame(m_state, files);
        frame.show();
        bool pressedWhileShown = false;
        QString shownTitle;
        QTimer::singleShot(0, &frame, [&] {
            auto* sheet = qobject_cast<Sheet*>(QApplication::activeModalWidget());
            if (!sheet) {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* s = qobject_cast<Sheet*>(w); s && s->isVisible())
                        sheet = s;
            }
            QVERIFY(sheet != nullptr);
            pressedWhileShown = frame.isButtonPressed(3015);
            shownTitle = sheet->windowTitle();
            sheet->reject();
        });
        frame.dispatchCommand(3015);
        QVERIFY(pressedWhileShown);
        QVERIFY(!frame.isButtonPressed(3015));
        QCOMPARE(shownTitle, QString("Machine Property"));
    }

    // The menu opens the sheet on the page it was closed on with OK; a cancelled sheet does
    // not move it.
    void sheetReopensOnThePageLastKept() {
        m_state.machine.config.OutofFile = 1; // a device file: OK tests no port
        Script script;
        script.steps.push_back([](Sheet& sheet) {
            sheet.tabs()->setCurrentIndex(kReceive);
            click(sheet, Sheet::OkId);
        });
        int shownOn = -1;
        script.steps.push_back([&shownOn](Sheet& sheet) {
            shownOn = sheet.currentPage();
            sheet.tabs()->setCurrentIndex(kOptions);
            sheet.reject();
        });
        script.steps.push_back([&shownOn](Sheet& sheet) { shownOn = sheet.currentPage(); });
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 1);
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(shownOn, kReceive);
        QCOMPARE(ShowMachineProperty(m_state, nullptr, -1, script.hooks()), 2);
        QCOMPARE(shownOn, kReceive);
    }

    // EIA's 3 is DC3 on the wire: the sheet warns while EIA and XON/XOFF are both chosen for
    // a serial port, and not otherwise.
    void eiaWithXonXoffIsWarnedAbout_data() {
        QTest::addColumn<bool>("japanese");
        QTest::newRow("en") << false;
        QTest::newRow("ja") << true;
    }
    void eiaWithXonXoffIsWarnedAbout() {
        QFETCH(bool, japanese);
        m_state.language = japanese ? Language::Japanese : Language::English;
        m_state.machine.line.OutCode = 0;
        m_state.machine.line.HandShake = 1;
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), kComm);
        sheet.show();
        auto* warning = sheet.findChild<QLabel*>(QStringLiteral("eiaWarning"));
        QVERIFY(warning != nullptr);
        QVERIFY(!warning->isVisibleTo(&sheet));
        ctl<QComboBox>(sheet, kComm, 1238)->setCurrentIndex(1); // EIA
        QVERIFY(warning->isVisibleTo(&sheet));
        QVERIFY(warning->text().contains(QStringLiteral("RTS/CTS")));
        saveScreenshot(sheet, QStringLiteral("sheet-%1-eia-warning").arg(japanese ? "ja" : "en"));
        ctl<QCheckBox>(sheet, kComm, 2034)->setChecked(false);
        ctl<QCheckBox>(sheet, kComm, 2036)->setChecked(true);
        QVERIFY(!warning->isVisibleTo(&sheet));
        ctl<QCheckBox>(sheet, kComm, 2034)->setChecked(true);
        QVERIFY(warning->isVisibleTo(&sheet));
        ctl<QComboBox>(sheet, kComm, 1243)->setCurrentIndex(1); // a device file has no line
        QVERIFY(!warning->isVisibleTo(&sheet));
        sheet.reject();
    }

    // Every page in both languages, for review.
    void screenshots_data() {
        QTest::addColumn<bool>("japanese");
        QTest::newRow("en") << false;
        QTest::newRow("ja") << true;
    }
    void screenshots() {
        QFETCH(bool, japanese);
        m_state.language = japanese ? Language::Japanese : Language::English;
        setMcnFile("/srv/machines/MILL-3.MDF");
        m_state.machine.config.PtpNull[0] = 50;
        qstrncpy(m_state.machine.config.PtpUser0, "0D 0A", 256);
        qstrncpy(m_state.machine.config.SendSkipCode, "/", 256);
        qstrncpy(m_state.machine.config.DefExt, "nc", 260);
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        Script script;
        Sheet sheet(copy, m_state, script.hooks(), -1);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        const char* names[] = {"communication", "send", "receive", "options"};
        for (int page = 0; page < Sheet::PageCount; ++page) {
            sheet.tabs()->setCurrentIndex(page);
            QApplication::processEvents();
            saveScreenshot(sheet,
                           QStringLiteral("sheet-%1-%2").arg(japanese ? "ja" : "en", names[page]));
        }
        sheet.reject();
    }
};

QTEST_MAIN(MachinePropertySheetTest)
#include "MachinePropertySheetTest.moc"
