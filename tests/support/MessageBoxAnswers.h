#pragma once
// Answers the message boxes a window test causes: every box that becomes the active modal
// window is recorded (object name and text) and closed with the button asked for, so a test
// can both get past a question and check what the user would have read. Any other modal
// dialog (a property sheet a command opens afterwards) is recorded by name and cancelled.

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace corvane::testing {

class MessageBoxAnswers : public QObject {
public:
    explicit MessageBoxAnswers(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : m_answer(answer) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { answerOpenBox(); });
        m_timer.start();
    }

    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    // The next box answered is first saved as a PNG at `path` (for the manual's pictures).
    void shootNextBox(const QString& path) { m_shotPath = path; }
    const QStringList& texts() const { return m_texts; }
    const QStringList& names() const { return m_names; }
    // The default button of each box (NoButton when it had none).
    const QList<QMessageBox::StandardButton>& defaults() const { return m_defaults; }
    int count() const { return int(m_texts.size()); }
    // Names of the other dialogs that were cancelled.
    const QStringList& dialogs() const { return m_dialogs; }

private:
    void answerOpenBox() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                m_dialogs << dialog->objectName();
                dialog->reject();
            }
            return;
        }
        m_texts << box->text();
        if (!m_shotPath.isEmpty()) {
            box->grab().save(m_shotPath);
            m_shotPath.clear();
        }
        m_names << box->objectName();
        QAbstractButton* chosenDefault = box->defaultButton();
        m_defaults << (chosenDefault != nullptr ? box->standardButton(chosenDefault)
                                                : QMessageBox::NoButton);
        QAbstractButton* button = box->button(m_answer);
        if (button == nullptr)
            button = box->defaultButton();
        if (button != nullptr)
            button->click();
        else
            box->reject();
    }

    QTimer m_timer;
    QString m_shotPath;
    QMessageBox::StandardButton m_answer;
    QStringList m_texts;
    QStringList m_names;
    QStringList m_dialogs;
    QList<QMessageBox::StandardButton> m_defaults;
};

} // namespace corvane::testing
