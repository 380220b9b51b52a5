#include "ui/appicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn on a 64 x 64 grid: a rounded tile, a parcel tied with a strap, and a
// small flame on its wick.
QPixmap Draw(int iSize)
{
    QPixmap pixmap(iSize, iSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(iSize / 64.0, iSize / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x6f, 0x8b));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(QColor(0xf2, 0xd7, 0xa7));
    p.drawRoundedRect(QRectF(12, 26, 40, 28), 3, 3);
    p.setBrush(QColor(0xb9, 0x7a, 0x3d));
    p.drawRect(QRectF(29, 26, 6, 28));
    p.drawRect(QRectF(12, 37, 40, 5));
    p.setPen(QPen(QColor(0x33, 0x33, 0x33), 2));
    p.drawLine(QPointF(32, 26), QPointF(32, 20));
    p.setPen(Qt::NoPen);
    QPainterPath flame;
    flame.moveTo(32, 6);
    flame.cubicTo(38, 12, 37, 19, 32, 20);
    flame.cubicTo(27, 19, 26, 12, 32, 6);
    p.setBrush(QColor(0xff, 0xa5, 0x1f));
    p.drawPath(flame);
    return pixmap;
}

} // namespace

QIcon AppIcon()
{
    QIcon icon;
    for (const int iSize : { 16, 24, 32, 48, 64, 128, 256 })
        icon.addPixmap(Draw(iSize));
    return icon;
}
