#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

#include <memory>

#include "display/LogPane.h"

using corvane::AppConfig;
using corvane::Language;
using corvane::LogPane;
using corvane::TransferState;

namespace {

// Counts the paint events a widget receives, so "drawn once" can be checked.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
        }
        return false;
    }
};

// The navy-and-silver scheme a first start without a configuration file gets.
AppConfig firstStartColours() {
    AppConfig config;
    config.rgbBKColor = 0x800000;
    config.rgbFGColor = 0xC0C0C0;
    config.rgbCtlColor = 0x00FFFF;
    config.rgbFlowColor = 0x0000FF;
    config.BkShading = 1;
    return config;
}

} // namespace

class LogPaneTest : public QObject {
    Q_OBJECT

private:
    AppConfig m_config;
    TransferState m_state;
    std::unique_ptr<LogPane> m_pane;

    // A visible pane `lines` line heights tall (plus `extra` pixels).
    void showPane(int lines, int extra = 0) {
        m_pane->show();
        m_pane->resize(640, lines * m_pane->lineHeight() + extra);
        QCOMPARE(m_pane->height(), lines * m_pane->lineHeight() + extra);
    }

    void printNumbered(int first, int last) {
        for (int i = first; i <= last; ++i) {
            m_pane->logPrint(0, QStringLiteral("line %1").arg(i));
        }
    }

private slots:
    // The waiting line is the rows' own face in bold, and one row pitch holds every line the
    // pane draws, the interface language's texts included, without doubling the spacing.
    // The code lines keep their columns in Japanese: the blanks and the colon before "[ヌル]"
    // are as wide as before "[DC2]", whatever font the katakana come from.
    void japaneseCodeLinesKeepTheirColumns() {
        LogPane pane(m_config, m_state, Language::Japanese);
        auto colonAt = [&](const QString& text) {
            QTextLayout layout(text, pane.rowFont(), &pane);
            layout.beginLayout();
            const QTextLine line = layout.createLine();
            layout.endLayout();
            return line.cursorToX(int(text.indexOf(QLatin1Char(':'))));
        };
        QCOMPARE(colonAt(QStringLiteral("     : [ヌル] 送信...")),
                 colonAt(QStringLiteral("     : [DC2] 送信...")));
    }

    void waitingLineAndLanguageTextsFitOneRow_data() {
        QTest::addColumn<bool>("japanese");
        QTest::newRow("en") << false;
        QTest::newRow("ja") << true;
    }
    void waitingLineAndLanguageTextsFitOneRow() {
        QFETCH(bool, japanese);
        const Language language = japanese ? Language::Japanese : Language::English;
        LogPane pane(m_config, m_state, language);
        QCOMPARE(pane.flowFont().family(), pane.rowFont().family());
        QVERIFY(pane.flowFont().bold());
        const QString texts[] = {
            QStringLiteral("00001: N0010 G01 X1.5 Y-2.25 F1200."),
            japanese ? QStringLiteral("-----> [Xon(DC1)] 信号待ち...")
                     : QStringLiteral("-----> [Xon(DC1)] Waiting for a signal..."),
            japanese ? QStringLiteral("     : [ヌル] 送信...")
                     : QStringLiteral("     : [null] Send..."),
        };
        qreal tallest = 0;
        for (const QFont& font : {pane.rowFont(), pane.flowFont()}) {
            for (const QString& text : texts) {
                QTextLayout layout(text, font, &pane);
                layout.beginLayout();
                const QTextLine line = layout.createLine();
                layout.endLayout();
                QVERIFY2(line.height() <= pane.lineHeight(), qPrintable(text));
                tallest = std::max(tallest, line.height());
            }
        }
        QVERIFY2(
            pane.lineHeight() <= tallest + 1,
            qPrintable(
                QStringLiteral("pitch %1 for lines of %2").arg(pane.lineHeight()).arg(tallest)));
    }

    void init() {
        m_config = AppConfig{};
        m_state = TransferState{};
        m_pane = std::make_unique<LogPane>(m_config, m_state, Language::English);
    }
    void cleanup() { m_pane.reset(); }

    void keepsTwentyRowsUntilItLearnsItsHeight() {
        QCOMPARE(m_pane->capacity(), 20);
        printNumbered(1, 21);
        QCOMPARE(m_pane->heldCount(), 20);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 2"));
    }

    void capacityFollowsTheHeight_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("extra");
        QTest::addColumn<int>("capacity");
        QTest::newRow("exactly ten lines") << 10 << 0 << 9;
        QTest::newRow("one pixel short of ten") << 10 << -1 << 8;
        QTest::newRow("two lines") << 2 << 0 << 1;
        QTest::newRow("under two lines") << 1 << 5 << 0;
        QTest::newRow("256 lines capped") << 256 << 0 << 255;
        QTest::newRow("300 lines capped") << 300 << 0 << 255;
    }
    void capacityFollowsTheHeight() {
        QFETCH(int, lines);
        QFETCH(int, extra);
        QFETCH(int, capacity);
        showPane(lines, extra);
        QCOMPARE(m_pane->capacity(), capacity);
    }

    void aFullPaneDropsTheOldestRow() {
        showPane(10);
        printNumbered(1, 10);
        QCOMPARE(m_pane->heldCount(), 9);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 2"));
        QCOMPARE(m_pane->rowText(8), QStringLiteral("line 10"));
    }

    void shrinkingKeepsTheNewestRows() {
        showPane(12);
        printNumbered(1, 11);
        m_pane->resize(640, 5 * m_pane->lineHeight());
        QCOMPARE(m_pane->capacity(), 4);
        QCOMPARE(m_pane->heldCount(), 4);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 8"));
        QCOMPARE(m_pane->rowText(3), QStringLiteral("line 11"));
    }

    void aPaneTooLowKeepsNothingAndRecovers() {
        showPane(1);
        QCOMPARE(m_pane->capacity(), 0);
        m_pane->logPrint(0, QStringLiteral("lost"));
        QCOMPARE(m_pane->heldCount(), 0);
        // A waiting line in a pane with no rows has nothing to push out; the count must not go
        // below zero, or the next row after a resize would be stored before the first.
        m_pane->logShowFlow(QStringLiteral("-----> [CTS] waiting..."));
        m_pane->logShowFlow(QStringLiteral("-----> [DSR] waiting..."));
        QCOMPARE(m_pane->heldCount(), 0);
        m_pane->resize(640, 10 * m_pane->lineHeight());
        // The row written while there was no room shows once there is.
        QCOMPARE(m_pane->heldCount(), 1);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("lost"));
        m_pane->logPrint(0, QStringLiteral("kept"));
        QCOMPARE(m_pane->heldCount(), 2);
        QCOMPARE(m_pane->rowText(1), QStringLiteral("kept"));
    }

    // A window shrunk during a send and grown again shows every block in order: the rows
    // written while it was low were kept, not dropped.
    void rowsWrittenWhileThePaneIsLowShowWhenItGrows() {
        showPane(12);
        printNumbered(1, 11);
        m_pane->resize(640, 3 * m_pane->lineHeight());
        QCOMPARE(m_pane->heldCount(), 2);
        printNumbered(12, 30);
        QCOMPARE(m_pane->rowText(1), QStringLiteral("line 30"));
        m_pane->resize(640, 40 * m_pane->lineHeight());
        QCOMPARE(m_pane->heldCount(), 30);
        for (int i = 0; i < 30; ++i)
            QCOMPARE(m_pane->rowText(i), QStringLiteral("line %1").arg(i + 1));
        // At most MaxCapacity rows are kept, the newest.
        printNumbered(31, 400);
        QCOMPARE(m_pane->keptCount(), 255);
        m_pane->resize(640, 300 * m_pane->lineHeight());
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 146"));
        QCOMPARE(m_pane->rowText(254), QStringLiteral("line 400"));
    }

    void rowsShowTheFirstLineCutTo78Characters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const QString seventyEight = QString(78, QChar('X'));
        QTest::newRow("short") << "00001: G90 G54"
                               << "00001: G90 G54";
        QTest::newRow("exactly 78") << seventyEight << seventyEight;
        QTest::newRow("79 cut") << seventyEight + "Y" << seventyEight;
        QTest::newRow("200 cut") << QString(200, QChar('Z')) << QString(78, QChar('Z'));
        QTest::newRow("second line dropped") << "first\nsecond"
                                             << "first";
        QTest::newRow("line feed first") << "\nsecond"
                                         << "";
        QTest::newRow("cut after the line feed") << "ab\n" + QString(100, QChar('Q')) << "ab";
    }
    void rowsShowTheFirstLineCutTo78Characters() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        m_pane->logPrint(0, text);
        QCOMPARE(m_pane->heldCount(), 1);
        QCOMPARE(m_pane->rowText(0), shown);
    }

    void bytesFromTheEnginesKeepEveryCharacter_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("N10 G00") << "N10 G00";
        QTest::newRow("utf-8") << QByteArray("N\xC2\xB0 5") << QString::fromUtf8("N\xC2\xB0 5");
        QTest::newRow("latin-1 bytes")
            << QByteArray("(\xE9t\xE9)") << QString::fromLatin1("(\xE9t\xE9)");
        QTest::newRow("latin-1 cut at 78")
            << QByteArray(100, '\xB5') << QString::fromLatin1(QByteArray(78, '\xB5'));
    }
    void bytesFromTheEnginesKeepEveryCharacter() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        m_pane->logPrint(0, bytes.toStdString());
        QCOMPARE(m_pane->rowText(0), shown);
    }

    void aFormFeedOnlyEmptiesThePane() {
        printNumbered(1, 3);
        m_pane->logPrint(0, QStringLiteral("\fnot shown"));
        QCOMPARE(m_pane->heldCount(), 0);
        m_pane->logPrint(0, std::string("\f"));
        QCOMPARE(m_pane->heldCount(), 0);
        m_pane->logPrint(1, QStringLiteral("after"));
        QCOMPARE(m_pane->heldCount(), 1);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("after"));
    }

    void aRowKeepsTheColourItWasPrintedIn() {
        m_config.rgbFGColor = 0x112233;
        m_config.rgbCtlColor = 0x00FFFF;
        m_pane->logPrint(0, QStringLiteral("one"));
        m_pane->logPrint(0, QStringLiteral("two"));
        m_config.rgbFGColor = 0x445566;
        m_pane->logPrint(0, QStringLiteral("three"));
        m_pane->logPrint(1, QStringLiteral("     : [DC2] Send..."));
        QCOMPARE(m_pane->rowColour(0), 0x112233u);
        QCOMPARE(m_pane->rowColour(1), 0x112233u);
        QCOMPARE(m_pane->rowColour(2), 0x445566u);
        QCOMPARE(m_pane->rowColour(3), 0x00FFFFu);
    }

    void theWaitingLineMakesRoomAndTheNextRowReplacesIt() {
        showPane(10);
        printNumbered(1, 9);
        QCOMPARE(m_pane->heldCount(), 9);

        m_pane->logShowFlow(QStringLiteral("-----> [Xon(DC1)] Waiting for a signal..."));
        QCOMPARE(m_pane->heldCount(), 8);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 2"));
        QCOMPARE(m_pane->flowLine(), QStringLiteral("-----> [Xon(DC1)] Waiting for a signal..."));
        QVERIFY(m_pane->blinkRunning());
        QCOMPARE(m_pane->blinkInterval(), 500);

        // The same line again, as the port layer repeats it while the hold lasts.
        m_pane->logShowFlow(QStringLiteral("-----> [Xon(DC1)] Waiting for a signal..."));
        QCOMPARE(m_pane->heldCount(), 8);
        QCOMPARE(m_pane->rowText(0), QStringLiteral("line 2"));

        m_pane->logPrint(0, QStringLiteral("line 10"));
        QVERIFY(m_pane->flowLine().isEmpty());
        QVERIFY(!m_pane->blinkRunning());
        QVERIFY(!m_pane->flowVisible());
        QCOMPARE(m_pane->heldCount(), 9);
        QCOMPARE(m_pane->rowText(8), QStringLiteral("line 10"));
    }

    void theWaitingLineBlinks() {
        m_pane->logShowFlow(QStringLiteral("-----> [CTS] Waiting for a signal..."));
        QVERIFY(!m_pane->flowVisible()); // hidden for the first interval
        m_pane->blinkStep();
        QVERIFY(m_pane->flowVisible());
        m_pane->blinkStep();
        QVERIFY(!m_pane->flowVisible());
        m_pane->blinkStep();
        QVERIFY(m_pane->flowVisible());

        // A new waiting text starts hidden again.
        m_pane->logShowFlow(QStringLiteral("-----> [DSR] Waiting for a signal..."));
        QVERIFY(!m_pane->flowVisible());

        m_pane->logPrint(0, QStringLiteral("data"));
        m_pane->blinkStep();
        QVERIFY(!m_pane->flowVisible());
    }

    void theSameWaitingLineTwiceIsDrawnOnce() {
        showPane(10);
        QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
        PaintCounter paints;
        m_pane->installEventFilter(&paints);
        QCoreApplication::processEvents();

        paints.count = 0;
        m_pane->logShowFlow(QStringLiteral("-----> [CTS] Waiting for a signal..."));
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 1);

        paints.count = 0;
        m_pane->logShowFlow(QStringLiteral("-----> [CTS] Waiting for a signal..."));
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 0);

        m_pane->logShowFlow(QStringLiteral("-----> [DSR] Waiting for a signal..."));
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 1);
        m_pane->removeEventFilter(&paints);
    }

    void escapeRaisesTheInterruptRequest_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("idle") << 0 << 1;
        QTest::newRow("already interrupting") << 1 << 1;
        QTest::newRow("close afterwards is kept") << 2 << 2;
    }
    void escapeRaisesTheInterruptRequest() {
        QFETCH(int, before);
        QFETCH(int, after);
        m_state.InterruptRequest = before;
        QSignalSpy spy(m_pane.get(), &LogPane::interruptRequested);
        QTest::keyClick(m_pane.get(), Qt::Key_Escape);
        QCOMPARE(m_state.InterruptRequest, after);
        QCOMPARE(spy.count(), 1);
    }

    void otherKeysLeaveTheInterruptAlone() {
        QTest::keyClicks(m_pane.get(), QStringLiteral("abc"));
        QTest::keyClick(m_pane.get(), Qt::Key_Return);
        QCOMPARE(m_state.InterruptRequest, 0);
    }

    void theContextMenuRepeatsTheMainCommands() {
        m_config.MenuBar = 0;
        m_config.ToolBar = 1; // hidden
        m_config.StatusBar = 0;
        std::unique_ptr<QMenu> menu(m_pane->createContextMenu(nullptr));
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 9);

        struct Expected {
            const char* label; // nullptr: separator
            int id;
            bool checkable;
            bool checked;
        };
        const Expected expected[] = {
            {"&Send...\tCtrl+O", 3000, false, false},
            {"&Receive...", 3002, false, false},
            {nullptr, 0, false, false},
            {"Property of &machine...", 3015, false, false},
            {"&Property...", 3009, false, false},
            {nullptr, 0, false, false},
            {"&Menu bar\tShift+F1", 40033, true, true},
            {"&Tool bar\tShift+F2", 3004, true, false},
            {"&Status bar\tShift+F3", 3005, true, true},
        };
        for (int i = 0; i < 9; ++i) {
            const QAction* action = actions[i];
            const Expected& want = expected[i];
            if (want.label == nullptr) {
                QVERIFY2(action->isSeparator(), qPrintable(QString::number(i)));
                continue;
            }
            QCOMPARE(action->text(), QString::fromUtf8(want.label));
            QCOMPARE(action->data().toInt(), want.id);
            QCOMPARE(action->isCheckable(), want.checkable);
            QCOMPARE(action->isChecked(), want.checked);
        }
    }

    void theKeyboardMenuOpensInsideThePaneAndSendsTheCommand() {
        showPane(10);
        QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));
        QSignalSpy spy(m_pane.get(), &LogPane::commandRequested);
        QPoint openedAt;
        // The menu runs its own loop; answer it from inside that loop.
        QTimer::singleShot(0, this, [&openedAt] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            openedAt = menu->pos();
            QAction* property = menu->actions().at(4);
            menu->setActiveAction(property);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0),
                                m_pane->mapToGlobal(QPoint(0, 0)));
        QApplication::sendEvent(m_pane.get(), &event);
        QCOMPARE(openedAt, m_pane->mapToGlobal(QPoint(5, 5)));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 3009);
    }

    void theGradientLightensTowardsTheBottom_data() {
        QTest::addColumn<int>("shading");
        QTest::newRow("gradient") << 1;
        QTest::newRow("solid") << 0;
    }
    void theGradientLightensTowardsTheBottom() {
        QFETCH(int, shading);
        m_config = firstStartColours();
        m_config.BkShading = shading;
        showPane(10);
        const QImage image = m_pane->grab().toImage();
        const int x = image.width() - 2;
        const QColor top = image.pixelColor(x, 0);
        const QColor bottom = image.pixelColor(x, image.height() - 1);
        QCOMPARE(top, QColor(0, 0, 128));
        if (shading) {
            QVERIFY(bottom.red() > top.red() + 40);
            QVERIFY(bottom.green() > top.green() + 40);
            QVERIFY(bottom.blue() > top.blue() + 20);
        } else {
            QCOMPARE(bottom, top);
        }
    }

    void rowsArePaintedInTheirOwnColours() {
        m_config = firstStartColours();
        m_config.BkShading = 0;
        showPane(10);
        m_pane->logPrint(0, QString(20, QChar(0x2588))); // full blocks: solid ink
        m_pane->logPrint(1, QString(20, QChar(0x2588)));
        const QImage image = m_pane->grab().toImage();
        auto inkOfRow = [&](int row) {
            const int y = (row - 1) * m_pane->lineHeight() + m_pane->lineHeight() / 2 +
                          m_pane->lineHeight() / 2;
            return image.pixelColor(m_pane->charWidth() * 4, y);
        };
        QCOMPARE(inkOfRow(1), QColor(192, 192, 192));
        QCOMPARE(inkOfRow(2), QColor(255, 255, 0));
    }

    void screenshots_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("shading");
        QTest::addColumn<bool>("light");
        QTest::newRow("gradient") << "logpane-gradient.png" << 1 << false;
        QTest::newRow("solid") << "logpane-solid.png" << 0 << false;
        QTest::newRow("desktop colours") << "logpane-light.png" << 1 << true;
    }
    void screenshots() {
        QFETCH(QString, file);
        QFETCH(int, shading);
        QFETCH(bool, light);
        m_config = firstStartColours();
        if (light) {
            m_config.rgbBKColor = 0xFFFFFF;
            m_config.rgbFGColor = 0x000000;
            m_config.rgbCtlColor = 0x808000; // teal: the yellow default is unreadable on white
            m_config.rgbFlowColor = 0x0000C0;
        }
        m_config.BkShading = shading;
        m_pane->resize(m_pane->sizeHint().width(), 19 * m_pane->lineHeight());
        m_pane->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pane.get()));

        m_pane->logPrint(0, QStringLiteral("\f"));
        m_pane->logPrint(1, QStringLiteral("     : [DC2] Send..."));
        m_pane->logPrint(1, QStringLiteral("     : [null] Send..."));
        m_pane->logPrint(0, QStringLiteral(""));
        m_pane->logPrint(0, QStringLiteral("==== [ FLANGE-PLATE.NC ] ===="));
        m_pane->logPrint(0, QStringLiteral(""));
        const char* blocks[] = {
            "%",
            "O1234 (FLANGE PLATE OP1)",
            "N10 G21 G40 G49 G80 G90",
            "N20 T01 M06 (D50 FACE MILL)",
            "N30 G54 G00 X-35.0 Y0.0 S2400 M03",
            "N40 G43 H01 Z25.0 M08",
            "N50 G01 Z-0.5 F600.0",
            "N60 X135.0",
            "N70 G00 Z25.0 M09",
            "N80 G28 G91 Z0.0 M05",
        };
        int count = 0;
        for (const char* block : blocks) {
            m_pane->logPrint(0, QStringLiteral("%1: %2")
                                    .arg(++count, 5, 10, QChar('0'))
                                    .arg(QString::fromLatin1(block)));
        }
        m_pane->logShowFlow(QStringLiteral("-----> [Xon(DC1)] Waiting for a signal..."));
        m_pane->blinkStep(); // the shown half of the blink

        const QString dir = QStringLiteral(CORVANE_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(m_pane->grab().save(dir + QLatin1Char('/') + file));
    }
};

QTEST_MAIN(LogPaneTest)
#include "LogPaneTest.moc"
