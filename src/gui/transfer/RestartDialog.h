#pragma once
// "Restart from...": the program's tool changes to pick from, or a block number or line typed
// in; for the place chosen, the header and the first lines of the rest of the program, or the
// reason the place is refused. Send is offered only for a place the planner allows.

#include <string>

#include <QDialog>

#include "support/StringTable.h"

class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace corvane {

class RestartDialog : public QDialog {
    Q_OBJECT

public:
    // How many lines of the rest of the program the preview shows after the header.
    static constexpr int PreviewTailLines = 12;

    RestartDialog(const std::string& program, Language language, QWidget* parent = nullptr);

    // The place as the planner reads it ("T2", "N120", "L40"); valid after Send.
    std::string place() const;

    QListWidget* toolChanges() const { return m_tools; }
    QLineEdit* placeEdit() const { return m_place; }
    QPlainTextEdit* preview() const { return m_preview; }
    QPushButton* sendButton() const { return m_send; }

private:
    void showPlan();

    std::string m_program;
    Language m_language;
    QListWidget* m_tools = nullptr;
    QLineEdit* m_place = nullptr;
    QPlainTextEdit* m_preview = nullptr;
    QPushButton* m_send = nullptr;
};

} // namespace corvane
