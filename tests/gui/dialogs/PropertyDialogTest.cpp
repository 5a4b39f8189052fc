// The Property dialog driven through its widgets: the colours and the equal-colour rule, the
// custom colours of the chooser, forgetting the histories, the options, help, and the frame's
// command that runs it.

#include <deque>
#include <optional>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "settings/PropertyDialog.h"

#include "gui/dialogs/DialogTestSupport.h"

using namespace corvane;
using namespace corvane::gui;

namespace {

// The colour chooser answered in advance: each opening takes the next answer (nothing: the
// user closed it) after letting `defineCustom` play the user defining custom colours.
struct ScriptedChooser {
    std::deque<std::optional<Colour>> answers;
    std::vector<Colour> openedOn;
    std::function<void(Colour (&)[CustomColourCount])> defineCustom;

    ColourChooser chooser() {
        return [this](QWidget*, Colour initial, Colour(&custom)[CustomColourCount]) {
            openedOn.push_back(initial);
            if (defineCustom)
                defineCustom(custom);
            std::optional<Colour> answer;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            return answer;
        };
    }
};

} // namespace

class PropertyDialogTest : public QObject {
    Q_OBJECT

private:
    AppConfig m_config;
    ScriptedChooser m_chooser;
    std::vector<int> m_helpTopics;

    DialogServices services() {
        DialogServices s;
        s.chooseColour = m_chooser.chooser();
        s.showHelp = [this](int topic) { m_helpTopics.push_back(topic); };
        return s;
    }

private slots:
    void init() {
        m_config = AppConfig{};
        m_config.rgbBKColor = 0x800000; // navy
        m_config.rgbFGColor = 0xC0C0C0; // silver
        m_config.rgbCtlColor = 0x00FFFF;
        m_config.rgbFlowColor = 0x0000FF;
        m_chooser = ScriptedChooser{};
        m_helpTopics.clear();
    }

    void okWithEqualColoursKeepsTheTextReadable_data() {
        QTest::addColumn<uint>("background");
        QTest::addColumn<uint>("text");
        QTest::addColumn<uint>("storedText");
        QTest::newRow("white on white turns black") << 0xFFFFFFu << 0xFFFFFFu << 0x000000u;
        QTest::newRow("red on red turns cyan-yellow") << 0x0000FFu << 0x0000FFu << 0xFFFF00u;
        QTest::newRow("black on black turns white") << 0x000000u << 0x000000u << 0xFFFFFFu;
        QTest::newRow("different colours stay") << 0x202020u << 0x202021u << 0x202021u;
        // The complement of a middle grey is the same grey to the eye.
        QTest::newRow("middle grey takes black") << 0x808080u << 0x808080u << 0x000000u;
        QTest::newRow("darker grey takes white") << 0x707070u << 0x707070u << 0xFFFFFFu;
    }
    void okWithEqualColoursKeepsTheTextReadable() {
        QFETCH(uint, background);
        QFETCH(uint, text);
        QFETCH(uint, storedText);
        m_chooser.answers = {background, text};
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        click(dialog, "backgroundColorButton");
        click(dialog, "textColorButton");
        QCOMPARE(dialog.workingColour(PropertyDialog::BackgroundColorId), Colour(background));
        QCOMPARE(dialog.workingColour(PropertyDialog::TextColorId), Colour(text));
        QCOMPARE(m_config.rgbBKColor, Colour(0x800000)); // nothing is stored before OK

        click(dialog, "okButton");

        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(m_config.rgbBKColor, Colour(background));
        QCOMPARE(m_config.rgbFGColor, Colour(storedText));
        // The chooser opened on the colour each button held.
        QCOMPARE(m_chooser.openedOn, (std::vector<Colour>{0x800000, 0xC0C0C0}));
    }

    void eachColourButtonEditsItsOwnColour() {
        m_chooser.answers = {0x112233, 0x445566};
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        click(dialog, "controlColorButton");
        click(dialog, "flowColorButton");
        QCOMPARE(widget<QPushButton>(dialog, "flowColorButton")->toolTip(),
                 QStringLiteral("#665544"));
        click(dialog, "okButton");
        QCOMPARE(m_config.rgbBKColor, Colour(0x800000));
        QCOMPARE(m_config.rgbFGColor, Colour(0xC0C0C0));
        QCOMPARE(m_config.rgbCtlColor, Colour(0x112233));
        QCOMPARE(m_config.rgbFlowColor, Colour(0x445566));
    }

    void customColoursStayDefinedEvenWhenNothingIsChosen() {
        m_chooser.defineCustom = [](Colour(&custom)[CustomColourCount]) {
            custom[0] = 0x0A0B0C;
            custom[15] = 0x123456;
        };
        m_config.CustomColor[3] = 0x00FF00;
        m_chooser.answers = {std::nullopt};
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        click(dialog, "textColorButton");
        QCOMPARE(dialog.workingColour(PropertyDialog::TextColorId), Colour(0xC0C0C0));

        click(dialog, "cancelButton");

        QCOMPARE(m_config.CustomColor[0], Colour(0x0A0B0C));
        QCOMPARE(m_config.CustomColor[3], Colour(0x00FF00));
        QCOMPARE(m_config.CustomColor[15], Colour(0x123456));
        QCOMPARE(m_config.rgbFGColor, Colour(0xC0C0C0));
    }

    void aHistoryClearedStaysClearedAfterCancel() {
        UpdateHistory(m_config, 0, 0, "/shop/O1000.nc");
        UpdateHistory(m_config, 0, 0, "/shop/O2000.nc");
        m_chooser.answers = {0xFFFFFF};
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        auto* ncData = widget<QPushButton>(dialog, "ncDataButton");
        auto* machineData = widget<QPushButton>(dialog, "machineDataButton");
        QVERIFY(ncData->isEnabled());
        QVERIFY2(!machineData->isEnabled(), "an empty machine history has nothing to delete");

        click(dialog, "ncDataButton");
        QCOMPARE(HistoryCount(m_config, 0), 0);
        QVERIFY(!ncData->isEnabled());
        click(dialog, "backgroundColorButton");
        widget<QCheckBox>(dialog, "echoCheck")->click();
        click(dialog, "cancelButton");

        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(HistoryCount(m_config, 0), 0);
        QCOMPARE(m_config.NcFileHistory[1][0], '\0');
        QCOMPARE(m_config.rgbBKColor, Colour(0x800000)); // the colour chosen is dropped
        QCOMPARE(m_config.Echo, 1);                      // the option changed is dropped
    }

    void theMachineHistoryButtonClearsOnlyTheMachineHistory() {
        UpdateHistory(m_config, 0, 0, "/shop/O1000.nc");
        UpdateHistory(m_config, 1, 0, "/shop/LATHE.MDF");
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        click(dialog, "machineDataButton");
        QCOMPARE(HistoryCount(m_config, 1), 0);
        QCOMPARE(HistoryCount(m_config, 0), 1);
    }

    void theOptionsAreStoredOnOk_data() {
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("shading");
        QTest::addColumn<int>("oneInstance");
        QTest::newRow("all on become off") << 1 << 1 << 1;
        QTest::newRow("all off become on") << 0 << 0 << 0;
        QTest::newRow("mixed") << 1 << 0 << 1;
    }
    void theOptionsAreStoredOnOk() {
        QFETCH(int, echo);
        QFETCH(int, shading);
        QFETCH(int, oneInstance);
        m_config.Echo = echo;
        m_config.BkShading = shading;
        m_config.OneInstance = oneInstance;
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        QCOMPARE(widget<QCheckBox>(dialog, "echoCheck")->isChecked(), echo != 0);
        QCOMPARE(widget<QCheckBox>(dialog, "gradientCheck")->isChecked(), shading != 0);
        QCOMPARE(widget<QCheckBox>(dialog, "oneInstanceCheck")->isChecked(), oneInstance != 0);
        for (const char* name : {"echoCheck", "gradientCheck", "oneInstanceCheck"})
            widget<QCheckBox>(dialog, name)->click();
        QCOMPARE(m_config.Echo, echo); // nothing is stored before OK
        click(dialog, "okButton");
        QCOMPARE(m_config.Echo, 1 - echo);
        QCOMPARE(m_config.BkShading, 1 - shading);
        QCOMPARE(m_config.OneInstance, 1 - oneInstance);
    }

    void helpOpensTheTopicOfTheDialog() {
        PropertyDialog dialog(m_config, Language::English, services(), "");
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_F1);
        click(dialog, "helpButton");
        QCOMPARE(m_helpTopics, (std::vector<int>{1010, 1010}));
        QVERIFY(dialog.isVisible());
    }

    // A desktop with nothing to show the manual: the dialog says so instead of doing nothing.
    void helpThatCannotBeShownSaysSo() {
        const QString page = QDir::temp().filePath(
            QStringLiteral("corvane-manual-%1.html").arg(QCoreApplication::applicationPid()));
        QFile file(page);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        DialogServices s = services();
        s.showHelp = nullptr;
        int asked = 0;
        s.openManual = [&asked](const QUrl&) {
            ++asked;
            return false;
        };
        PropertyDialog dialog(m_config, Language::English, s, page.toStdString());
        dialog.show();
        click(dialog, "helpButton");
        auto* box = dialog.findChild<QMessageBox*>(QStringLiteral("helpNotShownBox"));
        QVERIFY(box != nullptr);
        QCOMPARE(asked, 1);
        QVERIFY2(box->text().contains(QStringLiteral("could not be opened")) &&
                     box->text().contains(page),
                 qPrintable(box->text()));
        box->close();
        QFile::remove(page);
    }

    // The frame's command: the button pressed while the dialog runs, the log cleared by OK only.
    void theFrameRunsTheDialogAndOkClearsTheLog_data() {
        QTest::addColumn<QString>("closeWith");
        QTest::addColumn<int>("rowsLeft");
        QTest::newRow("OK") << "okButton" << 0;
        QTest::newRow("Cancel") << "cancelButton" << 1;
    }
    void theFrameRunsTheDialogAndOkClearsTheLog() {
        QFETCH(QString, closeWith);
        QFETCH(int, rowsLeft);
        AppState state;
        state.config = m_config;
        NoFileQuestions files;
        FrameWindow frame(state, files);
        frame.dialogServices() = services();
        frame.show();

        bool pressed = false;
        bool opened = false;
        QTimer::singleShot(0, &frame, [&] {
            auto* dialog = qobject_cast<PropertyDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            opened = true;
            pressed = frame.isButtonPressed(3009);
            frame.logPrint(0, std::string("00001: N10G00X0"));
            click(*dialog, closeWith.toLatin1().constData());
        });
        frame.dispatchCommand(3009);

        QVERIFY(opened);
        QVERIFY(pressed);
        QVERIFY(!frame.isButtonPressed(3009));
        QCOMPARE(frame.logPane()->heldCount(), rowsLeft);
    }

    void aBusyFrameDoesNotOpenTheDialog() {
        AppState state;
        NoFileQuestions files;
        FrameWindow frame(state, files);
        frame.dialogServices() = services();
        state.transfer.TransferBusy = true;
        bool opened = false;
        QTimer::singleShot(0, &frame, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = true;
                modal->close();
            }
        });
        frame.dispatchCommand(3009);
        QCoreApplication::processEvents();
        QVERIFY(!opened);
    }

    void screenshots_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("english") << int(Language::English) << "property-en.png";
        QTest::newRow("japanese") << int(Language::Japanese) << "property-ja.png";
    }
    void screenshots() {
        QFETCH(int, language);
        QFETCH(QString, file);
        UpdateHistory(m_config, 0, 0, "/shop/O1000.nc");
        PropertyDialog dialog(m_config, Language(language), services(), "");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        saveScreenshot(dialog, file);
    }
};

QTEST_MAIN(PropertyDialogTest)
#include "PropertyDialogTest.moc"
