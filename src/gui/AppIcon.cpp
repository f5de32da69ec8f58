#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {
/** A blue tile with a device box and three serial lines: a Tessel. */
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    p.fillPath(tile, QColor(0x1f, 0x5f, 0xa8));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(s * 0.18, s * 0.22, s * 0.64, s * 0.34), s * 0.06, s * 0.06);
    p.setBrush(QColor(0x7f, 0xd3, 0x4e));
    p.drawEllipse(QPointF(s * 0.30, s * 0.39), s * 0.05, s * 0.05);
    p.setPen(QPen(Qt::white, qMax(1.0, s * 0.07), Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        const qreal x = s * (0.32 + 0.18 * i);
        p.drawLine(QPointF(x, s * 0.62), QPointF(x, s * 0.80));
    }
    return pixmap;
}
} // namespace

QIcon programIcon()
{
    static const QIcon icon = [] {
        QIcon i;
        for (int size : {16, 24, 32, 48, 64, 128})
            i.addPixmap(drawIcon(size));
        return i;
    }();
    return icon;
}

QIcon menuIcon(const QColor& color)
{
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color, size / 8.0, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i) {
            const qreal y = size * (0.28 + 0.22 * i);
            p.drawLine(QPointF(size * 0.2, y), QPointF(size * 0.8, y));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}
