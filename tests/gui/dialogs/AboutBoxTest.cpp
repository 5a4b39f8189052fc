// The Version Information box: its texts, the links and their colours, the system information
// button, and the frame's command that opens it.

#include <vector>

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/AboutBox.h"
#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "settings/ProductStrings.h"

#include "gui/dialogs/DialogTestSupport.h"

using namespace corvane;
using namespace corvane::gui;

namespace {

const QColor Green(0x00, 0x80, 0x00);
const QColor Purple(0x80, 0x00, 0x80);

void makeProgram(const QString& path, bool executable) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    QVERIFY(file.setPermissions(permissions));
}

} // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

private:
    ProductStrings m_product;
    std::vector<QString> m_opened;
    std::vector<QString> m_started;

    DialogServices services(const QString& searchPath = QString()) {
        DialogServices s;
        s.openUrl = [this](const QString& url) { m_opened.push_back(url); };
        s.launchProgram = [this](const QString& program) { m_started.push_back(program); };
        s.programSearchPath = searchPath;
        return s;
    }

private slots:
    void init() {
        m_product = ProductStrings{};
        LoadProductStrings(Language::English, "", m_product);
        m_product.text[ProductMail] = "support@corvane.example";
        m_product.text[ProductHomePage] = "https://corvane.example/";
        m_opened.clear();
        m_started.clear();
    }

    void theInformationTextIsBoldAndComplete() {
        m_product.text[ProductVersion] = "Version 3.20";
        AboutBox box(m_product, Language::English, services());
        box.show();
        auto* information = widget<QLabel>(box, "informationText");
        QCOMPARE(information->text(),
                 QStringLiteral("Corvane\nVersion 3.20\nCopyright (C) The Corvane developers "
                                "Corvane Project"));
        QVERIFY(information->font().bold());
        QVERIFY(information->font().pointSizeF() > box.font().pointSizeF());
        QCOMPARE(box.windowTitle(), QStringLiteral("Version Information"));
    }

    // In Japanese the version line ("バージョン 1.8.0") is as bold as the rest of the text:
    // its glyphs come from a font that has them in bold, or can embolden them.
    void theJapaneseVersionLineIsBold() {
        AboutBox box(m_product, Language::Japanese, services());
        const QFont bold = widget<QLabel>(box, "informationText")->font();
        // Latin face first, then a Japanese one Qt can make bold (not a fixed-pitch one).
        QCOMPARE(bold.families().size(), 2);
        QCOMPARE(bold.families().front(), QFontInfo(box.font()).family());
        QVERIFY2(!QFontDatabase::isFixedPitch(bold.families().back()),
                 qPrintable(bold.families().back()));
        QVERIFY(QFontDatabase::writingSystems(bold.families().back())
                    .contains(QFontDatabase::Japanese));
        QFont regular = bold;
        regular.setBold(false);
        auto ink = [](const QFont& font) {
            QImage image(400, 80, QImage::Format_RGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(10, 50, QStringLiteral("バージョン"));
            painter.end();
            int dark = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    dark += qGray(image.pixel(x, y)) < 128;
            return dark;
        };
        const int boldInk = ink(bold);
        const int regularInk = ink(regular);
        QVERIFY2(
            boldInk * 100 > regularInk * 115,
            qPrintable(
                QStringLiteral("bold %1, regular %2 dark pixels").arg(boldInk).arg(regularInk)));
    }

    void anEmptyAddressHidesItsLine_data() {
        QTest::addColumn<QString>("mail");
        QTest::addColumn<QString>("homePage");
        QTest::newRow("both") << "support@corvane.example"
                              << "https://corvane.example/";
        QTest::newRow("no mail") << ""
                                 << "https://corvane.example/";
        QTest::newRow("no home page") << "support@corvane.example"
                                      << "";
        QTest::newRow("neither") << ""
                                 << "";
    }
    void anEmptyAddressHidesItsLine() {
        QFETCH(QString, mail);
        QFETCH(QString, homePage);
        m_product.text[ProductMail] = mail.toStdString();
        m_product.text[ProductHomePage] = homePage.toStdString();
        AboutBox box(m_product, Language::English, services());
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(widget(box, "mailLabel")->isVisible(), !mail.isEmpty());
        QCOMPARE(widget(box, "mailLink")->isVisible(), !mail.isEmpty());
        QCOMPARE(widget(box, "homePageLabel")->isVisible(), !homePage.isEmpty());
        QCOMPARE(widget(box, "homePageLink")->isVisible(), !homePage.isEmpty());
        // The line that remains still works.
        if (!homePage.isEmpty()) {
            click(box, "homePageLink");
            QCOMPARE(m_opened, std::vector<QString>{homePage});
        }
    }

    void aClickedLinkTurnsPurpleForThisOpeningOnly() {
        {
            AboutBox box(m_product, Language::English, services());
            box.show();
            auto* mail = widget<QLabel>(box, "mailLink");
            auto* home = widget<QLabel>(box, "homePageLink");
            QCOMPARE(mail->palette().color(QPalette::WindowText), Green);
            QCOMPARE(home->palette().color(QPalette::WindowText), Green);

            click(box, "mailLink");
            QCOMPARE(m_opened, std::vector<QString>{"mailto:support@corvane.example"});
            QCOMPARE(mail->palette().color(QPalette::WindowText), Purple);
            QCOMPARE(home->palette().color(QPalette::WindowText), Green);
            QVERIFY(mail->font().underline());

            // From the keyboard as well; a visited link still opens.
            home->setFocus();
            QTest::keyClick(home, Qt::Key_Space);
            QCOMPARE(home->palette().color(QPalette::WindowText), Purple);
            click(box, "mailLink");
            QCOMPARE(m_opened.size(), size_t(3));
        }
        AboutBox again(m_product, Language::English, services());
        QCOMPARE(widget<QLabel>(again, "mailLink")->palette().color(QPalette::WindowText), Green);
    }

    void theSystemInfoButtonStartsTheFirstProgramFound() {
        QTemporaryDir first;
        QTemporaryDir second;
        makeProgram(first.filePath("kinfocenter"), true);
        makeProgram(first.filePath("hardinfo2"), false); // not executable: not a program
        makeProgram(second.filePath("hardinfo"), true);
        const QString path = first.path() + ":/nonexistent:" + second.path();
        // The list is searched in its own order, the PATH's order only within one program.
        QCOMPARE(findSystemInfoProgram(path), second.filePath("hardinfo"));

        AboutBox box(m_product, Language::English, services(path));
        box.show();
        auto* button = widget<QPushButton>(box, "systemInfoButton");
        QVERIFY(button->isEnabled());
        click(box, "systemInfoButton");
        QCOMPARE(m_started, std::vector<QString>{second.filePath("hardinfo")});
    }

    void theSystemInfoButtonIsDisabledWithAnEmptyPath() {
        const QByteArray saved = qgetenv("PATH");
        qputenv("PATH", "");
        DialogServices fromEnvironment = services();
        fromEnvironment.programSearchPath.reset();
        AboutBox box(m_product, Language::English, fromEnvironment);
        qputenv("PATH", saved);
        box.show();
        QVERIFY(box.systemInfoPath().isEmpty());
        QVERIFY(!widget<QPushButton>(box, "systemInfoButton")->isEnabled());
        QCOMPARE(findSystemInfoProgram(QString()), QString());
    }

    void theFrameOpensTheBoxAndOkClosesIt() {
        AppState state;
        state.product = m_product;
        NoFileQuestions files;
        FrameWindow frame(state, files);
        frame.dialogServices() = services();
        frame.show();
        QString title;
        QTimer::singleShot(0, &frame, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                title = modal->windowTitle();
                click(*modal, "okButton");
            }
        });
        frame.dispatchCommand(40040);
        QCOMPARE(title, QStringLiteral("Version Information"));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void screenshots_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("english") << int(Language::English) << "about-en.png";
        QTest::newRow("japanese") << int(Language::Japanese) << "about-ja.png";
    }
    void screenshots() {
        QFETCH(int, language);
        QFETCH(QString, file);
        QApplication::setWindowIcon(QIcon(QStringLiteral(CORVANE_ICON_DIR "/corvane-48.png")));
        LoadProductStrings(Language(language), "", m_product);
        m_product.text[ProductMail] = "support@corvane.example";
        m_product.text[ProductHomePage] = "https://corvane.example/";
        QTemporaryDir tools;
        makeProgram(tools.filePath("hardinfo"), true);
        AboutBox box(m_product, Language(language), services(tools.path()));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        click(box, "homePageLink"); // one visited, one not
        saveScreenshot(box, file);
        QApplication::setWindowIcon(QIcon());
    }
};

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
