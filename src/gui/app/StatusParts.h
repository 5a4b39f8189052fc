#pragma once
// The four painted parts of the status bar: activity, flow-control state, block count and
// remaining time. The engines write them for every line they move, so a part repaints only
// when its text really changed, and then at once, while the engine keeps the thread busy.

#include <QPalette>
#include <QString>
#include <QWidget>

#include <array>
#include <string>

#include "settings/AppConfig.h"

namespace corvane {

class StatusParts : public QWidget {
    Q_OBJECT

public:
    static constexpr int PartCount = 4;
    static constexpr int MaxTextChars = 255;
    static constexpr int FillingWidth = -1;

    // Part widths in average character widths; FillingWidth takes what the others leave.
    static constexpr std::array<int, PartCount> PartUnits = {FillingWidth, 8, 8, 14};

    explicit StatusParts(QWidget* parent = nullptr);

    // part 0..3: set that part's text (cut to MaxTextChars); the same text again does nothing.
    // part -1: one plain text across the whole bar; part -2: back to the four parts.
    // Returns 0 for any other part, 1 otherwise.
    int SetStatusText(int part, const QString& text);
    int SetStatusText(int part, const std::string& text);

    QString partText(int part) const;
    // The colour the part's text is painted in: the activity in the palette's text colour,
    // the others in its link colour (blue on a light desktop), so both stay readable on a
    // dark one.
    Colour partColour(int part) const;
    bool simpleMode() const { return m_simple; }
    QString simpleText() const { return m_simpleText; }
    QRect partRect(int part) const;

    // The pixel widths of the parts for a bar `width` wide: fixed parts take their units times
    // the character width, the filling part what remains (0 when nothing remains).
    static std::array<int, PartCount> partWidths(int width, int averageCharWidth);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Part {
        QPalette::ColorRole colour;
        Qt::Alignment alignment;
        bool border;
        QString text;
    };

    std::array<Part, PartCount> m_parts;
    bool m_simple = false;
    QString m_simpleText;
};

} // namespace corvane
