#pragma once
// The "Version Information" box: the product's name, version, notice and maker, the support
// mail address and the home page as links, and a button that starts the desktop's system
// information program (what a support call asks for first).

#include <QDialog>
#include <QLabel>
#include <QString>

#include <functional>

#include "common/DialogServices.h"
#include "settings/ProductStrings.h"
#include "support/StringTable.h"

class QGridLayout;
class QPushButton;

namespace corvane::gui {

// A label that opens a link when clicked (or when Space or Enter is pressed on it). Green
// until it has been used, purple afterwards, as a web page shows a visited link.
class HyperlinkLabel : public QLabel {
public:
    explicit HyperlinkLabel(QWidget* parent = nullptr);

    void setOnActivated(std::function<void()> handler) { m_onActivated = std::move(handler); }
    bool visited() const { return m_visited; }
    // The colour the link is drawn in now.
    QColor linkColour() const;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void activate();
    void applyColour();

    std::function<void()> m_onActivated;
    bool m_visited = false;
};

class AboutBox : public QDialog {
public:
    static constexpr int DialogId = 115;
    static constexpr int InformationId = 1008;
    static constexpr int MailLabelId = 1233;
    static constexpr int MailLinkId = 1011;
    static constexpr int HomePageLabelId = 1234;
    static constexpr int HomePageLinkId = 1012;
    static constexpr int SystemInfoId = 40040;

    AboutBox(const ProductStrings& product, Language language, const DialogServices& services,
             QWidget* parent = nullptr);

    // The system information program the button starts; empty when none was found.
    const QString& systemInfoPath() const { return m_systemInfoPath; }

private:
    void buildWidgets(const ProductStrings& product);
    HyperlinkLabel* addLinkRow(QGridLayout* grid, int row, int labelText, int labelId, int linkId,
                               const char* name, const QString& address, const QString& url);
    QString text(int id) const;

    Language m_language;
    DialogServices m_services;
    QString m_systemInfoPath;
    QPushButton* m_systemInfo = nullptr;
};

// The first of the desktop's system information programs found as an executable file in one
// of the folders of `searchPath` (separated as in PATH); empty when there is none.
QString findSystemInfoProgram(const QString& searchPath);

// Runs the box modally.
void ShowAboutBox(QWidget* owner, const ProductStrings& product, Language language,
                  const DialogServices& services);

} // namespace corvane::gui
