#include "journal_plot_painter.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace nodrel {

namespace {

const QColor kLossColour(216, 60, 60);
const QColor kRttColour(42, 111, 219);
const QColor kGapColour(150, 150, 150);
const QColor kOutageColour(120, 20, 20);
constexpr int kOutageStripHeight = 6;
constexpr int kGap = 6;

// 1, 2 or 5 times a power of ten, at least `value`.
double NiceCeiling(double value) {
    if (value <= 0) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value) return step * power;
    }
    return 10 * power;
}

// An axis label: a round figure in as few digits as it needs.
QString AxisText(double milliseconds) {
    return QStringLiteral("%1 ms").arg(milliseconds, 0, 'g', milliseconds < 10 ? 2 : 4);
}

QDateTime Local(int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs);
}

}  // namespace

void TJournalPlotPainter::SetView(const TJournalView& view) {
    view_ = view;
    double highest = 0;
    for (const TJournalBucket& bucket : view_.buckets) {
        if (bucket.medianRttMs) highest = std::max(highest, *bucket.medianRttMs);
    }
    // Headroom above the highest median keeps its line off the frame.
    rttScaleMs_ = NiceCeiling(highest * 1.1);
}

int TJournalPlotPainter::Px(int pixels) const {
    return int(std::lround(pixels * scale_));
}

QPen TJournalPlotPainter::LinePen(const QColor& colour) const {
    return QPen(colour, std::max(1.0, scale_));
}

QRect TJournalPlotPainter::PlotArea(const QRect& bounds, const QFontMetrics& metrics) const {
    const int left = metrics.horizontalAdvance(QStringLiteral("0000 ms")) + Px(kGap);
    const int right = metrics.horizontalAdvance(QStringLiteral("100 %")) + Px(kGap);
    const int top = metrics.height() + Px(kGap) + Px(kOutageStripHeight) + Px(2);
    const int bottom = metrics.height() + Px(kGap);
    return bounds.adjusted(left, top, -right, -bottom);
}

double TJournalPlotPainter::XOf(int64_t timeMs, const QRect& area) const {
    const TSpanLayout& layout = view_.layout;
    const double span = double(layout.EndMs() - layout.beginMs);
    if (span <= 0) return area.left();
    return area.left() + (timeMs - layout.beginMs) / span * area.width();
}

void TJournalPlotPainter::Draw(QPainter& painter, const QRect& bounds, const TPlotColours& colours,
                               int chosen) const {
    painter.fillRect(bounds, colours.base);
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect area = PlotArea(bounds, metrics);
    const int gap = Px(kGap);
    QColor grid = colours.text;
    grid.setAlpha(40);

    // Grid and the two axes' labels: round trip on the left, loss share on the right.
    for (int step = 0; step <= 4; ++step) {
        const int y = area.bottom() - step * (area.height() - 1) / 4;
        painter.setPen(LinePen(grid));
        painter.drawLine(area.left(), y, area.right(), y);
        if (step % 2 != 0) continue;
        painter.setPen(colours.text);
        const QRect label(bounds.left(), y - metrics.height() / 2,
                          area.left() - gap / 2 - bounds.left(), metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                         AxisText(rttScaleMs_ * step / 4));
        const QRect share(area.right() + gap / 2, y - metrics.height() / 2,
                          bounds.right() + 1 - area.right() - gap / 2, metrics.height());
        painter.drawText(share, Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 %").arg(step * 25));
    }

    DrawBuckets(painter, area);

    const int count = view_.layout.count;
    if (chosen >= 0 && count > 0) {
        const int x0 = area.left() + int(int64_t(chosen) * area.width() / count);
        const int x1 =
            std::max(x0 + 1, area.left() + int(int64_t(chosen + 1) * area.width() / count));
        QColor mark = colours.highlight;
        mark.setAlpha(70);
        painter.fillRect(QRect(x0, area.top(), x1 - x0, area.height()), mark);
    }

    painter.setPen(LinePen(colours.text));
    painter.drawRect(area.adjusted(-Px(1), -Px(1), 0, 0));
    DrawTimeAxis(painter, area, colours.text);
    DrawLegend(painter, bounds, area, colours.text);

    QString notice;
    if (view_.state == TJournalState::Missing) {
        notice =
            QStringLiteral("Nothing recorded yet: the journal is kept while the monitor runs.");
    } else if (view_.state == TJournalState::Unreadable) {
        notice = QStringLiteral("The journal cannot be read: %1").arg(view_.error);
    }
    if (!notice.isEmpty()) {
        painter.setPen(colours.text);
        painter.drawText(area.adjusted(gap, gap, -gap, -gap), Qt::AlignCenter | Qt::TextWordWrap,
                         notice);
    }
}

void TJournalPlotPainter::DrawBuckets(QPainter& painter, const QRect& area) const {
    const int count = view_.layout.count;
    QBrush gapBrush(kGapColour, Qt::BDiagPattern);
    gapBrush.setTransform(QTransform::fromScale(scale_, scale_));
    QPainterPath rttLine;
    bool lineOpen = false;
    for (int i = 0; i < count && i < int(view_.buckets.size()); ++i) {
        const TJournalBucket& bucket = view_.buckets[i];
        const int x0 = area.left() + int(int64_t(i) * area.width() / count);
        const int x1 = std::max(x0 + 1, area.left() + int(int64_t(i + 1) * area.width() / count));
        const bool future = view_.layout.BucketStart(i) > view_.nowMs;
        if (future) break;
        if (bucket.Gap()) {
            if (!view_.Unwritten(i)) {
                painter.fillRect(QRect(x0, area.top(), x1 - x0, area.height()), gapBrush);
            }
            lineOpen = false;
            continue;
        }
        if (bucket.answered < bucket.probes) {
            // A loss too small for a pixel still shows as one.
            const int height =
                std::max(Px(1), int(std::lround(bucket.LossShare() * area.height())));
            painter.fillRect(QRect(x0, area.bottom() + 1 - height, x1 - x0, height), kLossColour);
        }
        if (!bucket.medianRttMs) {
            lineOpen = false;
            continue;
        }
        const QPointF point((x0 + x1) / 2.0, area.bottom() - *bucket.medianRttMs / rttScaleMs_ *
                                                                 (area.height() - 1));
        if (lineOpen) {
            rttLine.lineTo(point);
        } else {
            rttLine.moveTo(point);
            // A lone bucket still shows its round trip.
            rttLine.lineTo(point + QPointF(0.01, 0));
        }
        lineOpen = true;
    }
    painter.save();
    // A negative round trip from an edited file stays inside the plot.
    painter.setClipRect(area.adjusted(0, -Px(2), 0, 0));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kRttColour, 2 * scale_, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(rttLine);
    painter.restore();

    // Outages along the top, at least two pixels wide so a short one is seen.
    for (const TJournalOutage& outage : view_.outages) {
        const double x0 = std::max<double>(area.left(), XOf(outage.StartedMs, area));
        const double x1 =
            std::min<double>(area.right() + 1, XOf(outage.EndedMs.value_or(view_.nowMs), area));
        const int left = int(std::floor(x0));
        painter.fillRect(QRect(left, area.top() - Px(kOutageStripHeight) - Px(2),
                               std::max(Px(2), int(std::ceil(x1)) - left), Px(kOutageStripHeight)),
                         kOutageColour);
    }
}

void TJournalPlotPainter::DrawTimeAxis(QPainter& painter, const QRect& area,
                                       const QColor& text) const {
    const TSpanLayout& layout = view_.layout;
    if (layout.count == 0) return;
    // Ticks on the local clock's round times, labelled as the span's scale wants them.
    QString format = QStringLiteral("HH:mm");
    int64_t stepMs = 10 * 60'000;
    switch (view_.span) {
        case TJournalSpan::Hour:
            break;
        case TJournalSpan::Day:
            stepMs = 3 * 3600'000;
            break;
        case TJournalSpan::Week:
            stepMs = 24 * 3600'000;
            format = QStringLiteral("ddd d");
            break;
        case TJournalSpan::Month:
            stepMs = 5 * 24 * 3600'000LL;
            format = QStringLiteral("d MMM");
            break;
        case TJournalSpan::Year:
            format = QStringLiteral("MMM");
            break;
    }
    std::vector<int64_t> ticks;
    if (view_.span == TJournalSpan::Year) {
        QDate month = Local(layout.beginMs).date();
        month = QDate(month.year(), month.month(), 1).addMonths(1);
        for (; QDateTime(month, QTime(0, 0)).toMSecsSinceEpoch() < layout.EndMs();
             month = month.addMonths(1)) {
            ticks.push_back(QDateTime(month, QTime(0, 0)).toMSecsSinceEpoch());
        }
    } else {
        const int64_t offset = Local(layout.beginMs).offsetFromUtc() * 1000LL;
        int64_t tick = ((layout.beginMs + offset) / stepMs + 1) * stepMs - offset;
        for (; tick < layout.EndMs(); tick += stepMs) ticks.push_back(tick);
    }
    const QFontMetrics metrics = painter.fontMetrics();
    const int gap = Px(kGap);
    QColor grid = text;
    grid.setAlpha(40);
    int labelsEnd = area.left() - 1000 * Px(1);
    for (const int64_t tick : ticks) {
        const int x = int(std::lround(XOf(tick, area)));
        painter.setPen(LinePen(grid));
        painter.drawLine(x, area.top(), x, area.bottom());
        const QString label = Local(tick).toString(format);
        const int labelWidth = metrics.horizontalAdvance(label);
        // Labels that would run into the one before are left out.
        if (x - labelWidth / 2 < labelsEnd + gap) continue;
        painter.setPen(text);
        painter.drawText(
            QRect(x - labelWidth / 2, area.bottom() + gap / 2, labelWidth + 1, metrics.height()),
            Qt::AlignCenter, label);
        labelsEnd = x + labelWidth / 2;
    }
}

void TJournalPlotPainter::DrawLegend(QPainter& painter, const QRect& bounds, const QRect& area,
                                     const QColor& text) const {
    const QFontMetrics metrics = painter.fontMetrics();
    const int gap = Px(kGap);
    const int box = metrics.ascent() * 2 / 3;
    int x = area.left();
    const int y = bounds.top() + gap / 2;
    const auto entry = [&](const QBrush& brush, const QString& label) {
        const QRect mark(x, y + (metrics.height() - box) / 2, box * 2, box);
        painter.fillRect(mark, brush);
        x = mark.right() + gap / 2;
        painter.setPen(text);
        painter.drawText(QRect(x, y, metrics.horizontalAdvance(label) + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, label);
        x += metrics.horizontalAdvance(label) + 2 * gap;
    };
    QBrush gapBrush(kGapColour, Qt::BDiagPattern);
    gapBrush.setTransform(QTransform::fromScale(scale_, scale_));
    entry(kLossColour, QStringLiteral("Loss"));
    entry(kRttColour, QStringLiteral("Median round trip"));
    entry(kOutageColour, QStringLiteral("Outage"));
    entry(gapBrush, QStringLiteral("Not monitored"));
}

}  // namespace nodrel
