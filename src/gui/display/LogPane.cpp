#include "display/LogPane.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTextLayout>
#include <QtMath>

#include <algorithm>

#include "display/BoldJapaneseFace.h"
#include "display/ColourRef.h"
#include "display/FixedFont.h"
#include "display/HostText.h"
#include "support/StringIds.h"

namespace corvane {

namespace {

constexpr QChar FormFeed = QChar(0x0C);

// The right-click menu repeats the frame's main commands. A bar entry is checked while its
// bar is shown, which the configuration records as a zero "hidden" flag.
enum class BarFlag { None, MenuBar, ToolBar, StatusBar };

struct MenuEntry {
    int labelId; // 0: separator
    int commandId;
    BarFlag bar;
};

constexpr MenuEntry ContextMenuEntries[] = {
    {IDS_MENU_SEND, 3000, BarFlag::None},
    {IDS_MENU_RECEIVE, 3002, BarFlag::None},
    {0, 0, BarFlag::None},
    {IDS_MENU_MACHINE_PROPERTY, 3015, BarFlag::None},
    {IDS_MENU_PROPERTY, 3009, BarFlag::None},
    {0, 0, BarFlag::None},
    {IDS_MENU_MENU_BAR, 40033, BarFlag::MenuBar},
    {IDS_MENU_TOOL_BAR, 3004, BarFlag::ToolBar},
    {IDS_MENU_STATUS_BAR, 3005, BarFlag::StatusBar},
};

bool barShown(const AppConfig& config, BarFlag bar) {
    switch (bar) {
    case BarFlag::MenuBar:
        return config.MenuBar == 0;
    case BarFlag::ToolBar:
        return config.ToolBar == 0;
    case BarFlag::StatusBar:
        return config.StatusBar == 0;
    case BarFlag::None:
        break;
    }
    return false;
}

// The gradient fades the background towards white by this share at the bottom edge: enough to
// give the pane depth, little enough that text keeps its contrast against the user's colours.
constexpr int GradientLightenPercent = 30;

QColor lighterShade(const QColor& colour) {
    auto lift = [](int channel) {
        return channel + (255 - channel) * GradientLightenPercent / 100;
    };
    return QColor(lift(colour.red()), lift(colour.green()), lift(colour.blue()));
}

// With the keyboard's menu key the menu opens just inside the pane's top-left corner.
constexpr QPoint KeyboardMenuOffset(5, 5);

} // namespace

LogPane::LogPane(const AppConfig& config, TransferState& state, Language language, QWidget* parent)
    : QWidget(parent), m_config(config), m_state(state), m_language(language),
      m_rowFont(fixedPitchFont()), m_flowFont(m_rowFont) {
    // The waiting line is the rows' own face in bold: it reads as a notice, and it fits a row
    // as exactly as the data does.
    m_flowFont.setBold(true);
    if (m_language == Language::Japanese)
        m_flowFont = withBoldJapanese(m_flowFont);
    // Every pixel is painted in paintEvent; erasing first would only flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::ArrowCursor);

    measureRows();
    m_charWidth = std::max(1, QFontMetrics(m_rowFont).averageCharWidth());

    m_blink.setInterval(BlinkIntervalMs);
    connect(&m_blink, &QTimer::timeout, this, &LogPane::blinkStep);
}

// One row is as tall as the tallest line the pane draws: the data in the fixed face, the
// waiting line in its bold, and the interface language's own texts, whose glyphs may come
// from another font (Japanese ones do) with a taller line. All on one baseline.
void LogPane::measureRows() {
    const QString samples[] = {
        QStringLiteral("00001: N0010 G01 X-1.5 [DC2] %"),
        QString::fromUtf8(WexLoadString(m_language, IDS_WAITING_FOR_SIGNAL)),
        QString::fromUtf8(WexLoadString(m_language, IDS_LABEL_NULL)),
    };
    qreal ascent = 0;
    qreal descent = 0;
    for (const QFont& font : {m_rowFont, m_flowFont}) {
        for (const QString& sample : samples) {
            QTextLayout layout(sample, font, this);
            layout.beginLayout();
            const QTextLine line = layout.createLine();
            layout.endLayout();
            if (!line.isValid())
                continue;
            ascent = std::max(ascent, line.ascent());
            descent = std::max(descent, line.descent() + std::max<qreal>(0, line.leading()));
        }
    }
    // The font's own line height is the pitch: its ascent and descent already hold the room
    // between rows; anything on top spaces the rows wider than the desktop spaces text.
    m_rowAscent = qCeil(ascent);
    m_lineHeight = std::max(1, qCeil(ascent + descent));
}

int LogPane::shownRoom() const {
    return std::max(0, m_capacity - (m_flowLine.isEmpty() ? 0 : 1));
}

int LogPane::heldCount() const {
    return std::min(int(m_rows.size()), shownRoom());
}

const LogPane::Row& LogPane::shownRow(int index) const {
    return m_rows[m_rows.size() - size_t(heldCount()) + size_t(index)];
}

QString LogPane::rowText(int index) const {
    if (index < 0 || index >= heldCount()) {
        return QString();
    }
    return shownRow(index).text;
}

Colour LogPane::rowColour(int index) const {
    if (index < 0 || index >= heldCount()) {
        return 0;
    }
    return shownRow(index).colour;
}

QSize LogPane::sizeHint() const {
    return QSize(textLeft() + (RowChars + 1) * m_charWidth, (InitialCapacity + 1) * m_lineHeight);
}

int LogPane::rowTop(int rowNumber) const {
    return (rowNumber - 1) * m_lineHeight + m_lineHeight / 2;
}

QRect LogPane::rowBand(int rowNumber) const {
    return QRect(0, rowTop(rowNumber), width(), m_lineHeight);
}

void LogPane::hideFlowLine() {
    const bool wasVisible = flowVisible();
    const int shownBefore = heldCount();
    m_flowShown = false;
    m_flowLine.clear();
    m_blink.stop();
    if (heldCount() != shownBefore) {
        update(); // the row the waiting line had pushed out of sight is back
    } else if (wasVisible) {
        update(rowBand(heldCount() + 1));
    }
}

void LogPane::logPrint(int colour, const std::string& text) {
    logPrint(colour, textFromHost(text));
}

void LogPane::logPrint(int colour, const QString& text) {
    hideFlowLine();
    if (text.startsWith(FormFeed)) {
        m_rows.clear();
        update();
        return;
    }

    // A row is kept even when the pane has no room to show it (a window shrunk during a
    // send): it shows again once the pane grows. Only the oldest beyond MaxCapacity go.
    const bool scrolls = int(m_rows.size()) >= shownRoom();
    if (m_rows.size() >= size_t(MaxCapacity)) {
        m_rows.erase(m_rows.begin());
    }

    Row row;
    row.colour = colour == 1 ? m_config.rgbCtlColor : m_config.rgbFGColor;
    const qsizetype lineEnd = text.indexOf(QChar('\n'));
    row.text = leftCharacters(lineEnd < 0 ? text : text.left(lineEnd), RowChars);
    m_rows.push_back(std::move(row));

    if (scrolls) {
        update();
    } else {
        update(rowBand(heldCount()));
    }
}

void LogPane::logShowFlow(const std::string& text) {
    logShowFlow(textFromHost(text));
}

void LogPane::logShowFlow(const QString& text) {
    const QString line = text.left(FlowChars);
    if (line == m_flowLine) {
        return;
    }
    const int shownBefore = heldCount();
    m_flowShown = false;
    m_flowLine = line;

    // The waiting line takes the last row's place; the oldest shown row moves out of sight.
    if (heldCount() < shownBefore) {
        update();
    } else {
        update(rowBand(heldCount() + 1));
    }
    m_blink.start();
}

void LogPane::blinkStep() {
    if (m_flowLine.isEmpty()) {
        return;
    }
    m_flowShown = !m_flowShown;
    update(rowBand(heldCount() + 1));
}

void LogPane::paintBackground(QPainter& painter) {
    const QColor background = qColorFromRef(m_config.rgbBKColor);
    if (m_config.BkShading != 0) {
        QLinearGradient gradient(0, 0, 0, std::max(1, height()));
        gradient.setColorAt(0.0, background);
        gradient.setColorAt(1.0, lighterShade(background));
        painter.fillRect(rect(), gradient);
    } else {
        painter.fillRect(rect(), background);
    }
}

void LogPane::paintEvent(QPaintEvent* event) {
    if (event->rect().isEmpty()) {
        return;
    }
    QPainter painter(this);
    paintBackground(painter);

    painter.setFont(m_rowFont);
    for (int i = 0; i < heldCount(); ++i) {
        const Row& row = shownRow(i);
        painter.setPen(qColorFromRef(row.colour));
        painter.drawText(QPoint(textLeft(), rowTop(i + 1) + m_rowAscent), row.text);
    }

    if (flowVisible()) {
        painter.setFont(m_flowFont);
        painter.setPen(qColorFromRef(m_config.rgbFlowColor));
        painter.drawText(QPoint(textLeft(), rowTop(heldCount() + 1) + m_rowAscent), m_flowLine);
    }
}

void LogPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The rows stay; the pane only shows more or fewer of them.
    m_capacity = std::min(height() / m_lineHeight - 1, MaxCapacity);
    update();
}

void LogPane::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        // Escape asks for an interrupt; it must not weaken a request to close afterwards.
        if (m_state.InterruptRequest < 1) {
            m_state.InterruptRequest = 1;
        }
        emit interruptRequested();
        event->accept();
        return;
    }
    // Typed characters mean nothing here; keep them from reaching the frame.
    if (!event->text().isEmpty() && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

QMenu* LogPane::createContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("logPaneMenu"));
    for (const MenuEntry& entry : ContextMenuEntries) {
        if (entry.labelId == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action =
            menu->addAction(QString::fromUtf8(WexLoadString(m_language, entry.labelId)));
        action->setData(entry.commandId);
        // None of them does anything while a transfer runs.
        action->setEnabled(!m_state.TransferBusy);
        action->setObjectName(QStringLiteral("logPaneCommand%1").arg(entry.commandId));
        if (entry.bar != BarFlag::None) {
            action->setCheckable(true);
            action->setChecked(barShown(m_config, entry.bar));
        }
    }
    return menu;
}

void LogPane::contextMenuEvent(QContextMenuEvent* event) {
    const QPoint at = event->reason() == QContextMenuEvent::Keyboard
                          ? mapToGlobal(KeyboardMenuOffset)
                          : event->globalPos();
    QMenu* menu = createContextMenu(this);
    if (m_state.TransferBusy) {
        // Shown greyed, without a loop of its own: the transfer runs on this thread and must
        // not wait for the menu to close.
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(at);
        event->accept();
        return;
    }
    const QAction* chosen = menu->exec(at);
    const int id = chosen != nullptr ? chosen->data().toInt() : 0;
    // The command runs after the menu is gone, as a command from the menu bar would; a
    // transfer started from here must not run inside the menu's own event loop.
    delete menu;
    event->accept();
    if (id != 0) {
        emit commandRequested(id);
    }
}

} // namespace corvane
