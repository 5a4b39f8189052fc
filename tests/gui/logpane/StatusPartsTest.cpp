#include <QDir>
#include <QMainWindow>
#include <QStatusBar>
#include <QTest>

#include <array>
#include <memory>

#include "app/StatusParts.h"

using corvane::StatusParts;

namespace {

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

} // namespace

class StatusPartsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StatusParts> m_parts;

private slots:
    void init() { m_parts = std::make_unique<StatusParts>(); }
    void cleanup() { m_parts.reset(); }

    void partWidthsInCharacterWidths_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("charWidth");
        QTest::addColumn<QList<int>>("widths");
        QTest::newRow("too narrow: activity gets nothing") << 200 << 7 << QList<int>{0, 56, 56, 98};
        QTest::newRow("exactly the fixed parts") << 210 << 7 << QList<int>{0, 56, 56, 98};
        QTest::newRow("activity takes the rest") << 500 << 7 << QList<int>{290, 56, 56, 98};
        QTest::newRow("wider characters") << 800 << 9 << QList<int>{530, 72, 72, 126};
    }
    void partWidthsInCharacterWidths() {
        QFETCH(int, width);
        QFETCH(int, charWidth);
        QFETCH(QList<int>, widths);
        const auto got = StatusParts::partWidths(width, charWidth);
        QCOMPARE((QList<int>{got[0], got[1], got[2], got[3]}), widths);
    }

    void thePartsSitSideBySideInTheWidgetsFont() {
        m_parts->resize(700, 24);
        const int unit = m_parts->fontMetrics().averageCharWidth();
        QCOMPARE(m_parts->partRect(0).left(), 0);
        QCOMPARE(m_parts->partRect(1).width(), 8 * unit);
        QCOMPARE(m_parts->partRect(2).width(), 8 * unit);
        QCOMPARE(m_parts->partRect(3).width(), 14 * unit);
        QCOMPARE(m_parts->partRect(0).width(), 700 - 30 * unit);
        QCOMPARE(m_parts->partRect(1).left(), m_parts->partRect(0).right() + 1);
        QCOMPARE(m_parts->partRect(3).right(), 699);
    }

    void theSameTextTwiceRepaintsOnce() {
        m_parts->resize(700, 24);
        m_parts->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_parts.get()));
        QCoreApplication::processEvents();
        PaintCounter paints;
        m_parts->installEventFilter(&paints);

        QCOMPARE(m_parts->SetStatusText(2, QStringLiteral("12")), 1);
        QCOMPARE(paints.count, 1); // at once, without returning to the event loop
        QCOMPARE(m_parts->SetStatusText(2, std::string("12")), 1);
        QCoreApplication::processEvents();
        QCOMPARE(paints.count, 1);
        m_parts->SetStatusText(2, QStringLiteral("13"));
        QCOMPARE(paints.count, 2);
        m_parts->removeEventFilter(&paints);
        QCOMPARE(m_parts->partText(2), QStringLiteral("13"));
    }

    void partNumbersAndModes() {
        QCOMPARE(m_parts->SetStatusText(4, QStringLiteral("x")), 0);
        QCOMPARE(m_parts->SetStatusText(-3, QStringLiteral("x")), 0);
        QCOMPARE(m_parts->SetStatusText(0, QString(300, QChar('a'))), 1);
        QCOMPARE(m_parts->partText(0), QString(255, QChar('a')));

        QCOMPARE(m_parts->SetStatusText(-1, QStringLiteral("Ready")), 1);
        QVERIFY(m_parts->simpleMode());
        QCOMPARE(m_parts->simpleText(), QStringLiteral("Ready"));
        QCOMPARE(m_parts->SetStatusText(-2, QString()), 1);
        QVERIFY(!m_parts->simpleMode());
        QCOMPARE(m_parts->partText(0), QString(255, QChar('a'))); // the parts kept their texts
    }

    // Black and blue on a light desktop; on a dark one the palette's own light colours, or the
    // texts would vanish into the bar.
    void thePartColours() {
        QPalette light = m_parts->palette();
        light.setColor(QPalette::Window, Qt::white);
        light.setColor(QPalette::WindowText, Qt::black);
        light.setColor(QPalette::Link, Qt::blue);
        m_parts->setPalette(light);
        QCOMPARE(m_parts->partColour(0), 0x000000u);
        QCOMPARE(m_parts->partColour(1), 0xFF0000u);
        QCOMPARE(m_parts->partColour(2), 0xFF0000u);
        QCOMPARE(m_parts->partColour(3), 0xFF0000u);

        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2a));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
        m_parts->setPalette(dark);
        QCOMPARE(m_parts->partColour(0), 0xEEEEEEu);
        for (int part = 1; part < 4; ++part)
            QCOMPARE(m_parts->partColour(part), 0xFFB46Cu);
    }

    void screenshot() {
        QMainWindow window;
        window.resize(640, 80);
        auto* parts = new StatusParts;
        window.statusBar()->addWidget(parts, 1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        parts->SetStatusText(0, QStringLiteral("Send: N0130 G01 X42.0"));
        parts->SetStatusText(1, QStringLiteral("XOFF"));
        parts->SetStatusText(2, QStringLiteral("130"));
        parts->SetStatusText(3, QStringLiteral("00:01:42"));
        const QString dir = QStringLiteral(CORVANE_SCREENSHOT_DIR);
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(window.statusBar()->grab().save(dir + QStringLiteral("/statusparts.png")));
    }
};

QTEST_MAIN(StatusPartsTest)
#include "StatusPartsTest.moc"
