#include "app/StatusParts.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

#include "display/ColourRef.h"
#include "display/HostText.h"

namespace corvane {

namespace {

// Room between a part's border and its text, so left-aligned texts do not touch the edge.
constexpr int TextPadding = 4;

} // namespace

StatusParts::StatusParts(QWidget* parent)
    : QWidget(parent), m_parts{{
                           {QPalette::WindowText, Qt::AlignLeft, false, {}},
                           {QPalette::Link, Qt::AlignHCenter, true, {}},
                           {QPalette::Link, Qt::AlignLeft, true, {}},
                           {QPalette::Link, Qt::AlignHCenter, true, {}},
                       }} {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

std::array<int, StatusParts::PartCount> StatusParts::partWidths(int width, int averageCharWidth) {
    std::array<int, PartCount> widths{};
    int remaining = width;
    int filling = -1;
    for (int i = 0; i < PartCount; ++i) {
        if (PartUnits[size_t(i)] == FillingWidth) {
            widths[size_t(i)] = 0;
            filling = i;
        } else {
            widths[size_t(i)] = PartUnits[size_t(i)] * averageCharWidth;
        }
        remaining -= widths[size_t(i)];
    }
    if (filling >= 0 && remaining > 0) {
        widths[size_t(filling)] = remaining;
    }
    return widths;
}

QRect StatusParts::partRect(int part) const {
    if (part < 0 || part >= PartCount) {
        return QRect();
    }
    const auto widths = partWidths(width(), fontMetrics().averageCharWidth());
    int left = 0;
    for (int i = 0; i < part; ++i) {
        left += widths[size_t(i)];
    }
    return QRect(left, 0, widths[size_t(part)], height());
}

QString StatusParts::partText(int part) const {
    if (part < 0 || part >= PartCount) {
        return QString();
    }
    return m_parts[size_t(part)].text;
}

Colour StatusParts::partColour(int part) const {
    if (part < 0 || part >= PartCount) {
        return 0;
    }
    return refFromQColor(palette().color(m_parts[size_t(part)].colour));
}

int StatusParts::SetStatusText(int part, const std::string& text) {
    return SetStatusText(part, textFromHost(text));
}

int StatusParts::SetStatusText(int part, const QString& text) {
    if (part == -2) {
        if (m_simple) {
            m_simple = false;
            update();
        }
        return 1;
    }
    if (part == -1) {
        m_simple = true;
        m_simpleText = text;
        update();
        return 1;
    }
    if (part < 0 || part >= PartCount) {
        return 0;
    }
    const QString stored = leftCharacters(text, MaxTextChars);
    Part& target = m_parts[size_t(part)];
    if (stored == target.text) {
        return 1;
    }
    target.text = stored;
    // Synchronous: the engine that wrote it will not return to the event loop for a while.
    if (isVisible() && !m_simple) {
        repaint(partRect(part));
    }
    return 1;
}

QSize StatusParts::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    int fixed = 0;
    for (int units : PartUnits) {
        if (units != FillingWidth) {
            fixed += units * metrics.averageCharWidth();
        }
    }
    return QSize(fixed + 20 * metrics.averageCharWidth(), metrics.height() + 2 * TextPadding);
}

QSize StatusParts::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void StatusParts::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_simple) {
        painter.setPen(palette().windowText().color());
        painter.drawText(rect().adjusted(TextPadding, 0, -TextPadding, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_simpleText);
        return;
    }
    for (int i = 0; i < PartCount; ++i) {
        const Part& part = m_parts[size_t(i)];
        const QRect area = partRect(i);
        if (area.width() <= 0) {
            continue;
        }
        if (part.border) {
            // A thin sunken frame: dark on the top and left, light on the bottom and right.
            const QRect frame = area.adjusted(1, 1, -1, -1);
            painter.setPen(palette().mid().color());
            painter.drawLine(frame.topLeft(), frame.topRight());
            painter.drawLine(frame.topLeft(), frame.bottomLeft());
            painter.setPen(palette().light().color());
            painter.drawLine(frame.bottomLeft(), frame.bottomRight());
            painter.drawLine(frame.topRight(), frame.bottomRight());
        }
        painter.setPen(palette().color(part.colour));
        painter.drawText(area.adjusted(TextPadding, 0, -TextPadding, 0),
                         int(part.alignment) | Qt::AlignVCenter | Qt::TextSingleLine, part.text);
    }
}

} // namespace corvane
