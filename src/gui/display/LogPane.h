#pragma once
// The transfer log pane: the last lines the engines reported, each in the colour it was
// printed with, and under them a blinking line while the machine holds the transfer.
//
// It shows what fits on the screen, and keeps the last MaxCapacity rows whatever its height,
// so rows written while the pane is low (or has no room at all) are there when it grows.
// Lines arrive at line rate in the middle of a transfer, so a new row repaints only its own
// band; the caller pumps the event queue afterwards so the row shows at once.

#include <QFont>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "settings/AppConfig.h"
#include "support/StringTable.h"
#include "transfer/TransferState.h"

class QMenu;

namespace corvane {

class LogPane : public QWidget {
    Q_OBJECT

public:
    static constexpr int RowChars = 78;        // a row never shows more characters
    static constexpr int MaxCapacity = 255;    // rows kept at most, however tall the pane
    static constexpr int InitialCapacity = 20; // until the pane learns its height
    static constexpr int FlowChars = 1023;
    static constexpr int BlinkIntervalMs = 500;

    // Colours and the gradient flag are read from `config` at every use; Escape raises
    // `state.InterruptRequest`. Both must outlive the pane.
    LogPane(const AppConfig& config, TransferState& state, Language language,
            QWidget* parent = nullptr);

    // colour 0 text (rgbFGColor), 1 control code (rgbCtlColor). A text that starts with a
    // form feed empties the pane; only the first line of a text is shown, cut to RowChars.
    void logPrint(int colour, const QString& text);
    void logPrint(int colour, const std::string& text);
    // A waiting line under the last row, blinking until the next logPrint.
    void logShowFlow(const QString& text);
    void logShowFlow(const std::string& text);

    int capacity() const { return m_capacity; }
    // The rows on the screen, oldest first: the newest of the kept ones, as many as fit above
    // the waiting line.
    int heldCount() const;
    QString rowText(int index) const;
    Colour rowColour(int index) const;
    // Every row kept, shown or not (at most MaxCapacity).
    int keptCount() const { return int(m_rows.size()); }
    QString flowLine() const { return m_flowLine; }
    bool flowVisible() const { return m_flowShown && !m_flowLine.isEmpty(); }
    bool blinkRunning() const { return m_blink.isActive(); }
    int blinkInterval() const { return m_blink.interval(); }
    int lineHeight() const { return m_lineHeight; }
    int charWidth() const { return m_charWidth; }
    QFont rowFont() const { return m_rowFont; }
    QFont flowFont() const { return m_flowFont; }

    // One tick of the blink timer; public so the blink can be driven without waiting.
    void blinkStep();

    // The pane's context menu (the frame's main commands), built afresh on every call with the
    // check marks of the bars as the configuration holds them. Its actions carry their command
    // id as data. The caller owns the menu; the pane's own right-click emits commandRequested
    // with the chosen id once the menu has closed.
    QMenu* createContextMenu(QWidget* parent);

    QSize sizeHint() const override;

signals:
    void commandRequested(int id);
    // Escape was pressed; InterruptRequest has already been raised.
    void interruptRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Row {
        QString text;
        Colour colour = 0;
    };

    // Rows the screen has room for: the capacity less the waiting line's row.
    int shownRoom() const;
    const Row& shownRow(int index) const;
    void hideFlowLine();
    // The band of one row, counted from 1, across the whole width.
    QRect rowBand(int rowNumber) const;
    int rowTop(int rowNumber) const;
    int textLeft() const { return m_charWidth / 2 + m_charWidth; }
    void paintBackground(QPainter& painter);
    void measureRows();

    const AppConfig& m_config;
    TransferState& m_state;
    Language m_language;
    QFont m_rowFont;
    QFont m_flowFont;
    int m_lineHeight = 1;
    int m_rowAscent = 0;
    int m_charWidth = 1;
    int m_capacity = InitialCapacity;
    std::vector<Row> m_rows;
    QString m_flowLine;
    bool m_flowShown = false;
    QTimer m_blink;
};

} // namespace corvane
