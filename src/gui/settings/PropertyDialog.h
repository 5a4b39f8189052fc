#pragma once
// The "Property" dialog: the four colours of the log pane, the echo, gradient and
// single-instance options, and two buttons that forget the recent-file lists.
//
// The colours and the three options are edited in working copies and reach the configuration
// only on OK. Forgetting a history and defining custom colours act at once and are not undone
// by Cancel: the user pressed a button that says what it does, and the custom colours belong
// to the colour chooser rather than to this dialog.

#include <functional>
#include <string>

#include <QDialog>

#include "common/DialogServices.h"
#include "settings/AppConfig.h"
#include "support/StringTable.h"
#include "transfer/TransferState.h"

class QCheckBox;
class QPushButton;

namespace corvane {
class LogPane;
}

namespace corvane::gui {

class PropertyDialog : public QDialog {
    Q_OBJECT

public:
    // Control ids, kept on the widgets as the "controlId" property.
    static constexpr int DialogId = 119;
    static constexpr int NcDataId = 1244;
    static constexpr int MachineDataId = 1245;
    static constexpr int TextColorId = 1247;
    static constexpr int BackgroundColorId = 1248;
    static constexpr int ControlColorId = 1249;
    static constexpr int FlowColorId = 1250;
    static constexpr int EchoId = 1243;
    static constexpr int GradientId = 1246;
    static constexpr int OneInstanceId = 1251;

    // `config` is the live configuration; it must outlive the dialog.
    PropertyDialog(AppConfig& config, Language language, const DialogServices& services,
                   std::string helpFilePath, QWidget* parent = nullptr);
    ~PropertyDialog() override;

    // The colour that colour button `controlId` holds now; 0 for any other id.
    Colour workingColour(int controlId) const;

protected:
    void accept() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum Slot { Background = 0, Text, ControlCode, Flow, SlotCount };

    void buildWidgets();
    QPushButton* makeColourButton(Slot slot);
    void chooseColour(Slot slot);
    void clearHistory(int list);
    void showSwatch(Slot slot);
    void updatePreview();
    void openHelp();
    QString text(int id) const;

    AppConfig& m_config;
    Language m_language;
    DialogServices m_services;
    std::string m_helpFilePath;
    Colour m_working[SlotCount] = {};

    // The preview is a real log pane drawn from a copy of the configuration that follows the
    // working colours, so what it shows is what OK gives.
    AppConfig m_previewConfig;
    TransferState m_previewState;
    LogPane* m_preview = nullptr;

    QPushButton* m_colourButtons[SlotCount] = {};
    QPushButton* m_ncDataButton = nullptr;
    QPushButton* m_machineDataButton = nullptr;
    QCheckBox* m_echo = nullptr;
    QCheckBox* m_gradient = nullptr;
    QCheckBox* m_oneInstance = nullptr;
};

// The text colour that OK stores. Equal background and text colours would leave the log
// unreadable, so the text becomes the complement of the background (each of red, green and
// blue 255 minus its value); where that complement is still hard to tell from the background
// (the greys in the middle) black or white, whichever stands out more, is taken instead.
Colour readableTextColour(Colour background, Colour text);

// Runs the dialog modally over the live configuration. OK stores the colours and options and
// calls `clearLog`, so the log is drawn afresh in its new colours; returns 1. Anything else
// returns 0.
int ShowPropertyDialog(QWidget* owner, AppConfig& config, Language language,
                       const DialogServices& services, const std::string& helpFilePath,
                       const std::function<void()>& clearLog);

} // namespace corvane::gui
