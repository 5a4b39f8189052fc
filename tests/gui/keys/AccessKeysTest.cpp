// One access key leads to one place. This walks every page of the machine sheet, every dialog
// and the menu bar's menus in English and Japanese, collects the keys a person can press there
// (labels, buttons, group boxes, tabs, menu items) and fails on any key used twice, naming the
// texts.

#include <map>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "app/AboutBox.h"
#include "app/FileQuestions.h"
#include "app/FrameWindow.h"
#include "common/AppState.h"
#include "display/LogPane.h"
#include "settings/MachineDef.h"
#include "settings/MachinePropertySheet.h"
#include "settings/MachineSheetCopy.h"
#include "settings/PropertyDialog.h"
#include "transfer/SendListDialog.h"

using namespace corvane;
using namespace corvane::gui;

namespace {

// The key of "&Device", "デバイス(&D)": the character after a single '&', folded to lower
// case; none for "&&" or a text without one.
QChar accessKey(const QString& text) {
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

using Keys = std::multimap<QChar, QString>;

void add(Keys& keys, const QString& text) {
    const QChar key = accessKey(text);
    if (!key.isNull())
        keys.emplace(key, text);
}

// The keys of what can be reached in `root` as it is shown now: hidden pages do not count.
Keys keysShownIn(QWidget* root) {
    Keys keys;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root))
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget))
            add(keys, label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(keys, button->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(keys, group->title());
        else if (auto* tabs = qobject_cast<QTabBar*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                add(keys, tabs->tabText(i));
    }
    return keys;
}

Keys keysOfMenu(const QMenu& menu) {
    Keys keys;
    for (const QAction* action : menu.actions())
        if (!action->isSeparator() && action->isVisible())
            add(keys, action->text());
    return keys;
}

// "Device / Port device" for every key used more than once; empty when all are unique.
QString duplicates(const Keys& keys) {
    QString found;
    for (auto it = keys.begin(); it != keys.end(); it = keys.upper_bound(it->first)) {
        if (keys.count(it->first) < 2)
            continue;
        QStringList texts;
        const auto range = keys.equal_range(it->first);
        for (auto same = range.first; same != range.second; ++same)
            texts << same->second;
        found += QStringLiteral("'%1': %2\n").arg(it->first, texts.join(QStringLiteral(" / ")));
    }
    return found;
}

class NoQuestions : public FileQuestions {
public:
    int selectNcFiles(QWidget*, bool, const QString&, MachineDef&, SendQueueEntry*, int) override {
        return 0;
    }
    int editSendList(QWidget*, MachineDef&, SendQueue&) override { return 0; }
    bool selectDeviceFile(QWidget*, bool, MachineDef&, std::string&) override { return false; }
};

} // namespace

class AccessKeysTest : public QObject {
    Q_OBJECT

    AppState m_state;

    void language() {
        QFETCH(bool, japanese);
        m_state = AppState{};
        m_state.language = japanese ? Language::Japanese : Language::English;
        MachineDefSetDefaults(m_state.machine.line, m_state.machine.config);
        LoadProductStrings(m_state.language, "", m_state.product);
        // Both histories hold an entry, so their submenus are walked with items in them.
        UpdateHistory(m_state.config, 0, 0, "/shop/O1000.nc");
        UpdateHistory(m_state.config, 1, 0, "/shop/MILL.MDF");
    }

    static void bothLanguages() {
        QTest::addColumn<bool>("japanese");
        QTest::newRow("en") << false;
        QTest::newRow("ja") << true;
    }

private slots:
    void machineSheetPages_data() { bothLanguages(); }
    void machineSheetPages() {
        language();
        MachineSheetCopy copy = MakeSheetCopy(m_state.machine);
        MachinePropertySheet sheet(copy, m_state, MachineSheetHooks{}, 0);
        sheet.show();
        for (int page = 0; page < MachinePropertySheet::PageCount; ++page) {
            sheet.tabs()->setCurrentIndex(page);
            const QString found = duplicates(keysShownIn(&sheet));
            QVERIFY2(found.isEmpty(),
                     qPrintable(QStringLiteral("page %1:\n%2").arg(page).arg(found)));
        }
        sheet.reject();
    }

    void dialogs_data() { bothLanguages(); }
    void dialogs() {
        language();
        DialogServices services;
        PropertyDialog property(m_state.config, m_state.language, services, std::string());
        AboutBox about(m_state.product, m_state.language, services);
        SendListDialog list(FileChooser{m_state.language, nullptr}, "", "nc", 32);
        for (QDialog* dialog : std::initializer_list<QDialog*>{&property, &about, &list}) {
            dialog->show();
            const QString found = duplicates(keysShownIn(dialog));
            QVERIFY2(found.isEmpty(),
                     qPrintable(dialog->metaObject()->className() + QStringLiteral(":\n") + found));
            dialog->hide();
        }
    }

    void menus_data() { bothLanguages(); }
    void menus() {
        language();
        NoQuestions files;
        FrameWindow frame(m_state, files);
        frame.show();
        Keys bar;
        for (QAction* top : frame.menuBar()->actions())
            add(bar, top->text());
        QVERIFY2(duplicates(bar).isEmpty(), qPrintable(duplicates(bar)));
        for (QMenu* menu : frame.findChildren<QMenu*>()) {
            emit menu->aboutToShow(); // the history menus fill themselves here
            const QString found = duplicates(keysOfMenu(*menu));
            QVERIFY2(found.isEmpty(),
                     qPrintable(menu->objectName() + QStringLiteral(":\n") + found));
        }
        // The log pane's context menu is left out: it repeats the main menus' own labels, and
        // its M and S lead to two items each there by design.
    }
};

QTEST_MAIN(AccessKeysTest)
#include "AccessKeysTest.moc"
