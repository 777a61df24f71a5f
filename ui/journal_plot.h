#pragma once

#include <QWidget>

#include "journal_reader.h"

namespace nodrel {

// The Journal window's plot, drawn with QPainter: per bucket the loss share as a red bar (right
// axis, 0 to 100 %) and the median round trip as a blue line (left axis), on one time axis;
// buckets without probes hatched grey as gaps, outages as a dark strip along the top. Hovering a
// bucket, or choosing one with the arrow keys, reads its figures.
class TJournalPlot : public QWidget {
    Q_OBJECT

public:
    explicit TJournalPlot(QWidget* parent = nullptr);

    void SetView(const TJournalView& view);
    // The bucket's time and figures, as one line per fact.
    QString BucketText(int index) const;
    // The bucket under a point of the widget, or -1.
    int BucketAt(QPoint point) const;
    // The chosen bucket (keyboard or pointer), or -1.
    int ChosenBucket() const { return chosen_; }
    // Where buckets are drawn, inside the axes' labels and the legend.
    QRect PlotArea() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The figures of the bucket chosen or hovered; empty when none is.
    void Readout(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    double XOf(int64_t timeMs, const QRect& area) const;
    void Choose(int index);
    void DrawTimeAxis(QPainter& painter, const QRect& area) const;
    void DrawLegend(QPainter& painter, const QRect& area) const;

    TJournalView view_;
    double rttScaleMs_ = 1;  // the left axis' top
    int chosen_ = -1;
};

}  // namespace nodrel
