#pragma once

// The two widgets the floating window shows: the frame and, inside it, the history's picture.

#include <QColor>
#include <QImage>
#include <QWidget>

namespace nodrel {

// The frame around the drawing surface: a plain panel in the border colour, of which only the
// 1-pixel edge shows.
class TFramePanel : public QWidget {
public:
    explicit TFramePanel(QWidget* parent);
    QColor Colour() const { return colour_; }
    void SetColour(QColor colour);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QColor colour_ = Qt::black;
};

// Shows the last composed picture of the history, unscaled, from its top-left corner.
class TDrawingSurface : public QWidget {
public:
    explicit TDrawingSurface(QWidget* parent);
    // `background` fills what the picture does not cover.
    void SetPicture(QImage picture, QColor background);
    const QImage& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QColor background_;
};

}  // namespace nodrel
