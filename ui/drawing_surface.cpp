#include "drawing_surface.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

namespace nodrel {

TFramePanel::TFramePanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Panel2"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TFramePanel::SetColour(QColor colour) {
    colour_ = colour;
    update();
}

void TFramePanel::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), colour_);
}

void TFramePanel::resizeEvent(QResizeEvent*) {
    // The drawing surface fills the panel inside its 1-pixel border; its height is set apart.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->resize(std::max(width() - 2, 0), child->height());
    }
}

TDrawingSurface::TDrawingSurface(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Image1"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TDrawingSurface::SetPicture(QImage picture, QColor background) {
    picture_ = std::move(picture);
    background_ = background;
    update();
}

void TDrawingSurface::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // In a size mode without a grid width the surface is wider than the picture.
    for (const QRect& uncovered : QRegion(event->rect()).subtracted(picture_.rect())) {
        painter.fillRect(uncovered, background_);
    }
    painter.drawImage(event->rect(), picture_, event->rect());
}

}  // namespace nodrel
