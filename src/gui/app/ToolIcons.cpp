#include "app/ToolIcons.h"

#include <cmath>

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace corvane::gui {

namespace {

// One palette for every picture so the bar reads as a set: a dark outline, a blue for data
// going out, a green for data coming in, red for stopping.
const QColor kOutline(0x30, 0x38, 0x44);
const QColor kPaper(0xFA, 0xFA, 0xF5);
const QColor kSend(0x1E, 0x6F, 0xD9);
const QColor kReceive(0x2E, 0x9D, 0x4A);
const QColor kStop(0xD2, 0x3B, 0x32);
const QColor kMetal(0x8A, 0x95, 0xA3);

// A sheet with a folded corner and three text lines: an NC program.
void drawSheet(QPainter& p, QRectF r) {
    QPainterPath sheet;
    const qreal fold = r.width() * 0.35;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.setPen(QPen(kMetal, 0.8));
    for (int i = 1; i <= 3; ++i) {
        const qreal y = r.top() + fold + i * (r.height() - fold) / 4.5;
        p.drawLine(QPointF(r.left() + 1.5, y), QPointF(r.right() - 1.5, y));
    }
}

// A bold arrow pointing right (dx > 0) or left, centred on (cx, cy).
void drawArrow(QPainter& p, qreal cx, qreal cy, qreal dx, const QColor& colour) {
    const qreal s = dx > 0 ? 1 : -1;
    QPolygonF arrow;
    arrow << QPointF(cx - 3.5 * s, cy - 1.3) << QPointF(cx + 0.2 * s, cy - 1.3)
          << QPointF(cx + 0.2 * s, cy - 3.5) << QPointF(cx + 3.8 * s, cy)
          << QPointF(cx + 0.2 * s, cy + 3.5) << QPointF(cx + 0.2 * s, cy + 1.3)
          << QPointF(cx - 3.5 * s, cy + 1.3);
    p.setPen(QPen(colour.darker(140), 0.6));
    p.setBrush(colour);
    p.drawPolygon(arrow);
}

void paintSend(QPainter& p) {
    drawSheet(p, QRectF(1, 1, 9, 13));
    drawArrow(p, 11.5, 10.5, 1, kSend);
}

void paintSendList(QPainter& p) {
    drawSheet(p, QRectF(4, 0.5, 8, 10));
    drawSheet(p, QRectF(1, 3.5, 8, 11));
    drawArrow(p, 11.5, 11.5, 1, kSend);
}

void paintReceive(QPainter& p) {
    drawSheet(p, QRectF(6, 1, 9, 13));
    drawArrow(p, 4.5, 10.5, -1, kReceive);
}

// A machine tool seen from the front: a cabinet with a window and a control panel.
void paintMachine(QPainter& p) {
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(0xD8, 0xDD, 0xE3));
    p.drawRoundedRect(QRectF(0.5, 2.5, 15, 12), 1.2, 1.2);
    p.setBrush(QColor(0x9C, 0xC8, 0xEE));
    p.drawRect(QRectF(2.5, 4.5, 7, 6));
    p.setBrush(QColor(0x44, 0x4C, 0x58));
    p.drawRect(QRectF(11, 4.5, 3, 3.5));
    p.setPen(Qt::NoPen);
    p.setBrush(kReceive);
    p.drawEllipse(QPointF(12.5, 10.5), 0.9, 0.9);
    p.setBrush(kMetal);
    p.drawRect(QRectF(5.5, 4.5, 1, 3.5)); // the spindle
}

// A gear wheel: settings of the program.
void paintProperty(QPainter& p) {
    const QPointF c(8, 8);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal radius = (i % 2 == 0) ? 7.2 : 5.4;
        const qreal a0 = (i - 0.5) * M_PI / teeth;
        const qreal a1 = (i + 0.5) * M_PI / teeth;
        const QPointF p0 = c + QPointF(radius * std::cos(a0), radius * std::sin(a0));
        const QPointF p1 = c + QPointF(radius * std::cos(a1), radius * std::sin(a1));
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, 2.2, 2.2);
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(kMetal);
    p.drawPath(gear.subtracted(hole));
}

void paintHelp(QPainter& p) {
    p.setPen(QPen(kSend.darker(130), 0.8));
    p.setBrush(kSend);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(1, 1, 14, 14.5), Qt::AlignCenter, QStringLiteral("?"));
}

// A stop sign with a bar: interrupt what is running.
void paintCancel(QPainter& p) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal a = (i + 0.5) * M_PI / 4;
        octagon << QPointF(8 + 7 * std::cos(a), 8 + 7 * std::sin(a));
    }
    p.setPen(QPen(kStop.darker(140), 0.8));
    p.setBrush(kStop);
    p.drawPolygon(octagon);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 6.8, 9, 2.4));
}

QPixmap render(ToolImage image, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    switch (image) {
    case ToolImage::Send:
        paintSend(p);
        break;
    case ToolImage::SendList:
        paintSendList(p);
        break;
    case ToolImage::Receive:
        paintReceive(p);
        break;
    case ToolImage::Machine:
        paintMachine(p);
        break;
    case ToolImage::Property:
        paintProperty(p);
        break;
    case ToolImage::Help:
        paintHelp(p);
        break;
    case ToolImage::Cancel:
        paintCancel(p);
        break;
    }
    return pixmap;
}

} // namespace

QIcon toolIcon(ToolImage image) {
    QIcon icon;
    icon.addPixmap(render(image, 16));
    icon.addPixmap(render(image, 32));
    return icon;
}

} // namespace corvane::gui
