#pragma once
// The "Machine Property" sheet: four pages that edit a working copy of the machine
// definition, with Open and Save for machine files. One sheet object is one pass of
// ShowMachineProperty's loop: it closes with the id of the button that ended it (OK 1,
// Cancel 2, Open 1237, Save 1238), and the loop decides what becomes live.
//
// Every bound control carries the objectName "ctl<id>" with the id of the original dialog
// template, inside the page widget "page<dialog id>"; ids repeat across pages (1238 is the
// Code list on the first page and the Save button of the sheet), so look a control up in its
// page, or by its widget type.

#include <QDialog>

#include <vector>

#include "settings/MachineSheetCopy.h"
#include "settings/MachineSheetHooks.h"
#include "support/StringTable.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace corvane::gui {

struct AppState;

class MachinePropertySheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int DialogId = 114;
    static constexpr int TabId = 1236;
    static constexpr int OpenId = 1237;
    static constexpr int SaveId = 1238;
    static constexpr int HelpId = 1239;
    static constexpr int OkId = 1;
    static constexpr int CancelId = 2;
    static constexpr int PageCount = 4;
    // Dialog template ids of the pages, in tab order.
    static constexpr int PageDialogIds[PageCount] = {116, 117, 118, 120};

    // Binding kinds of the original tables.
    enum class Kind { Choice, PortBox, Number, Check, Text };

    // One control bound to one value of the working copy.
    struct Binding {
        int controlId = 0;
        Kind kind = Kind::Number;
        int32_t* number = nullptr; // Choice, PortBox, Number, Check
        char* text = nullptr;      // Text
        int textSize = 0;          // Text: buffer size in bytes
        int32_t min = 0;           // Number
        int32_t max = 0;           // Number
        int choicesId = 0;         // Choice: the string-table list
        QWidget* widget = nullptr;
    };

    // `copy` must outlive the sheet; `state` gives the language, McnFile and the help file.
    MachinePropertySheet(MachineSheetCopy& copy, AppState& state, const MachineSheetHooks& hooks,
                         int firstPage, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    QWidget* page(int index) const;
    int currentPage() const;
    // The control `id` of page `pageIndex`; null when the page has none.
    QWidget* control(int pageIndex, int id) const;

    // Stores what every control shows into the working copy, as OK, Open and Save do. False
    // (and the copy's port left as it was) when the port box holds neither a COM number nor a
    // device path; everything else is stored all the same.
    bool storeControls();

    void reject() override; // Escape and the close button: Cancel

private:
    QWidget* buildCommunicationPage();
    QWidget* buildSendPage();
    QWidget* buildReceivePage();
    QWidget* buildOptionsPage();
    void buildButtons(QLayout* outer);

    QWidget* bind(int pageIndex, Binding binding);
    // One control of `page` bound to a value of the copy, by kind.
    QWidget* bindChoice(int page, int id, int32_t* value, int list);
    QWidget* bindNumber(int page, int id, int32_t* value, int32_t min, int32_t max);
    QWidget* bindText(int page, int id, char* value, int size);
    QCheckBox* bindCheck(int page, int id, int32_t* value, int label);
    void fillControls();
    void fillPortBox();

    void onDeviceChanged();
    void onCodeChanged();
    void enablePortControls(bool enable);
    void updateEiaWarning();
    // The framing an ISO or EIA tape requires; ASCII frees it again. `codeChosen`: the user
    // has just chosen the code (ASCII then starts from 8 bit, no parity).
    void applyCodeRules(bool codeChosen);
    bool serialDeviceShown() const;

    void onOk();
    void onOpen();
    void onSave();
    void onHelp();
    // The Open and Save file dialog; the chosen path, empty when cancelled or refused.
    QString chooseMachineFile(bool open);
    // The port box holds neither a number nor a path: say so and show it.
    void reportBadPortText();
    // True when the port opens, or the user answers Yes to the "Open error" question.
    bool portCheckPasses();

    // The send and receive pages end alike: skip data and user codes across both columns.
    void addSkipAndUserCodes(QGridLayout* grid, QFormLayout* skip, QFormLayout* user) const;
    QString text(int id) const;
    QComboBox* comboAt(int pageIndex, int id) const;

    MachineSheetCopy& m_copy;
    AppState& m_state;
    MachineSheetHooks m_hooks;
    Language m_language;
    std::vector<Binding> m_bindings[PageCount];
    bool m_filling = false;

    QTabWidget* m_tabs = nullptr;
    QWidget* m_pages[PageCount] = {};
    QComboBox* m_portBox = nullptr;
    QPushButton* m_helpButton = nullptr;
    QCheckBox* m_xonXoffBox = nullptr;
    QLabel* m_eiaWarning = nullptr;
};

} // namespace corvane::gui
