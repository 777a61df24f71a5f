#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QPen>
#include <QRect>

#include "journal_reader.h"

class QPainter;

namespace nodrel {

struct TPlotColours {
    QColor text;
    QColor base;
    QColor highlight;
};

// Draws the Journal window's plot of a view with any painter, on screen or on paper: per bucket
// the loss share as a red bar (right axis, 0 to 100 %) and the median round trip as a blue line
// (left axis), on one time axis; buckets without probes hatched grey as gaps, outages as a dark
// strip along the top, a legend above.
class TJournalPlotPainter {
public:
    // `scale` is the device's pixels per pixel of the screen: lines, marks and margins grow with
    // it, labels with the painter's font.
    explicit TJournalPlotPainter(double scale = 1) : scale_(scale) {}

    void SetView(const TJournalView& view);
    const TJournalView& View() const { return view_; }

    // Where buckets are drawn inside `bounds`, inside the axes' labels and the legend.
    QRect PlotArea(const QRect& bounds, const QFontMetrics& metrics) const;
    // Draws into `bounds` with the painter's font; the bucket `chosen` is marked, unless -1.
    void Draw(QPainter& painter, const QRect& bounds, const TPlotColours& colours,
              int chosen = -1) const;

private:
    int Px(int pixels) const;
    // A line's pen: a pixel wide on screen, as wide as a screen's pixel on paper.
    QPen LinePen(const QColor& colour) const;
    double XOf(int64_t timeMs, const QRect& area) const;
    void DrawBuckets(QPainter& painter, const QRect& area) const;
    void DrawTimeAxis(QPainter& painter, const QRect& area, const QColor& text) const;
    void DrawLegend(QPainter& painter, const QRect& bounds, const QRect& area,
                    const QColor& text) const;

    TJournalView view_;
    double rttScaleMs_ = 1;  // the left axis' top
    double scale_;
};

}  // namespace nodrel
