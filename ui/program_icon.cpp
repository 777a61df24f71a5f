#include "program_icon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace nodrel {

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

}  // namespace

QImage DrawTrayTile(int index, int size) {
    QImage tile(size, size, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 16-unit grid, so every size shows the same design.
    painter.scale(size / 16.0, size / 16.0);

    const QColor fill = index == 1 ? QColor(0x1E, 0x56, 0xD8) : QColor(0xD8, 0x24, 0x24);
    painter.setPen(QPen(fill.darker(140), 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 15.0, 15.0), 2.5, 2.5);

    // The emblem: an echo trace, flat, one spike up and down, flat again.
    QPainterPath trace;
    trace.moveTo(2.5, 8.5);
    trace.lineTo(5.5, 8.5);
    trace.lineTo(7.0, 3.5);
    trace.lineTo(9.0, 12.5);
    trace.lineTo(10.5, 8.5);
    trace.lineTo(13.5, 8.5);
    painter.setPen(QPen(QColor(0xF4, 0xF4, 0xF4), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(trace);
    return tile;
}

QIcon ApplicationIcon() {
    if (QGuiApplication::windowIcon().isNull()) {
        QIcon icon = QIcon::fromTheme(QString::fromLatin1(kApplicationId));
        QGuiApplication::setWindowIcon(icon.isNull() ? DrawTrayImage(1) : icon);
    }
    return QGuiApplication::windowIcon();
}

QIcon DrawTrayImage(int index) {
    QIcon icon;
    for (const int size : kSizes) icon.addPixmap(QPixmap::fromImage(DrawTrayTile(index, size)));
    return icon;
}

}  // namespace nodrel
