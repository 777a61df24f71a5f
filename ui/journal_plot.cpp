#include "journal_plot.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <cmath>

#include "round_trip_text.h"

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

TJournalPlot::TJournalPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("JournalPlot"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Loss and round trip plot"));
}

QSize TJournalPlot::sizeHint() const {
    return {640, 260};
}

QSize TJournalPlot::minimumSizeHint() const {
    const int line = fontMetrics().height();
    return {20 * line, 8 * line};
}

void TJournalPlot::SetView(const TJournalView& view) {
    // The chosen bucket stays on its time while the span moves on.
    if (chosen_ >= 0 && view.layout.bucketMs == view_.layout.bucketMs) {
        chosen_ -= int((view.layout.beginMs - view_.layout.beginMs) / view.layout.bucketMs);
        if (chosen_ < 0 || chosen_ >= view.layout.count) chosen_ = -1;
    } else {
        chosen_ = -1;
    }
    view_ = view;
    double highest = 0;
    for (const TJournalBucket& bucket : view_.buckets) {
        if (bucket.medianRttMs) highest = std::max(highest, *bucket.medianRttMs);
    }
    // Headroom above the highest median keeps its line off the frame.
    rttScaleMs_ = NiceCeiling(highest * 1.1);
    emit Readout(BucketText(chosen_));
    update();
}

QRect TJournalPlot::PlotArea() const {
    const QFontMetrics metrics = fontMetrics();
    const int left = metrics.horizontalAdvance(QStringLiteral("0000 ms")) + kGap;
    const int right = metrics.horizontalAdvance(QStringLiteral("100 %")) + kGap;
    const int top = metrics.height() + kGap + kOutageStripHeight + 2;
    const int bottom = metrics.height() + kGap;
    return rect().adjusted(left, top, -right, -bottom);
}

double TJournalPlot::XOf(int64_t timeMs, const QRect& area) const {
    const TSpanLayout& layout = view_.layout;
    const double span = double(layout.EndMs() - layout.beginMs);
    if (span <= 0) return area.left();
    return area.left() + (timeMs - layout.beginMs) / span * area.width();
}

int TJournalPlot::BucketAt(QPoint point) const {
    const QRect area = PlotArea();
    if (view_.layout.count == 0 || point.x() < area.left() || point.x() >= area.right() + 1 ||
        point.y() < rect().top() || point.y() > area.bottom()) {
        return -1;
    }
    const int index = int((point.x() - area.left()) * int64_t(view_.layout.count) / area.width());
    return std::clamp(index, 0, view_.layout.count - 1);
}

QString TJournalPlot::BucketText(int index) const {
    if (index < 0 || index >= int(view_.buckets.size())) return {};
    const TSpanLayout& layout = view_.layout;
    const QDateTime start = Local(layout.BucketStart(index));
    const QDateTime end = Local(layout.BucketStart(index + 1));
    QString when;
    if (layout.bucketMs >= 24 * 3600 * 1000) {
        when = start.toString(QStringLiteral("ddd yyyy-MM-dd"));
    } else {
        when = start.toString(QStringLiteral("ddd yyyy-MM-dd HH:mm")) + QStringLiteral(" – ") +
               end.toString(QStringLiteral("HH:mm"));
    }
    const TJournalBucket& bucket = view_.buckets[index];
    QStringList lines{when};
    if (view_.Unwritten(index)) {
        lines << QStringLiteral("Not written yet");
    } else if (bucket.Gap()) {
        lines << QStringLiteral("Not monitored");
    } else {
        lines << QStringLiteral("Loss %1 % (%2 of %3 %4)")
                     .arg(bucket.LossShare() * 100, 0, 'f', 1)
                     .arg(bucket.probes - bucket.answered)
                     .arg(bucket.probes)
                     .arg(bucket.probes == 1 ? QStringLiteral("probe") : QStringLiteral("probes"));
        lines
            << (bucket.medianRttMs
                    ? QStringLiteral("Median round trip %1").arg(RoundTripText(*bucket.medianRttMs))
                    : QStringLiteral("No answer"));
    }
    int outages = 0;
    for (const TJournalOutage& outage : view_.outages) {
        const int64_t ended = outage.EndedMs.value_or(view_.nowMs);
        outages +=
            outage.StartedMs < layout.BucketStart(index + 1) && ended > layout.BucketStart(index);
    }
    if (outages == 1) lines << QStringLiteral("1 outage");
    if (outages > 1) lines << QStringLiteral("%1 outages").arg(outages);
    return lines.join(u'\n');
}

void TJournalPlot::Choose(int index) {
    if (index == chosen_) return;
    chosen_ = index;
    emit Readout(BucketText(index));
    update();
}

void TJournalPlot::mouseMoveEvent(QMouseEvent* event) {
    const int index = BucketAt(event->position().toPoint());
    Choose(index);
    if (index < 0) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPosition().toPoint(), BucketText(index), this);
    }
}

void TJournalPlot::leaveEvent(QEvent*) {
    if (!hasFocus()) Choose(-1);
}

void TJournalPlot::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    if (!underMouse()) Choose(-1);
    update();
}

void TJournalPlot::keyPressEvent(QKeyEvent* event) {
    const int last = view_.layout.count - 1;
    const int current = chosen_ < 0 ? last : chosen_;
    switch (event->key()) {
        case Qt::Key_Left:
            Choose(std::max(0, current - (chosen_ < 0 ? 0 : 1)));
            break;
        case Qt::Key_Right:
            Choose(std::min(last, current + (chosen_ < 0 ? 0 : 1)));
            break;
        case Qt::Key_PageUp:
            Choose(std::max(0, current - 10));
            break;
        case Qt::Key_PageDown:
            Choose(std::min(last, current + 10));
            break;
        case Qt::Key_Home:
            Choose(0);
            break;
        case Qt::Key_End:
            Choose(last);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void TJournalPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect area = PlotArea();
    const QColor text = palette().color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(40);

    // Grid and the two axes' labels: round trip on the left, loss share on the right.
    const QFontMetrics metrics = fontMetrics();
    for (int step = 0; step <= 4; ++step) {
        const int y = area.bottom() - step * (area.height() - 1) / 4;
        painter.setPen(grid);
        painter.drawLine(area.left(), y, area.right(), y);
        if (step % 2 != 0) continue;
        painter.setPen(text);
        const QRect label(0, y - metrics.height() / 2, area.left() - kGap / 2, metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                         AxisText(rttScaleMs_ * step / 4));
        const QRect share(area.right() + kGap / 2, y - metrics.height() / 2,
                          width() - area.right() - kGap / 2, metrics.height());
        painter.drawText(share, Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 %").arg(step * 25));
    }

    const int count = view_.layout.count;
    QBrush gapBrush(kGapColour, Qt::BDiagPattern);
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
            const int height = std::max(1, int(std::lround(bucket.LossShare() * area.height())));
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
    painter.setClipRect(area.adjusted(0, -2, 0, 0));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kRttColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(rttLine);
    painter.restore();

    // Outages along the top, at least two pixels wide so a short one is seen.
    for (const TJournalOutage& outage : view_.outages) {
        const double x0 = std::max<double>(area.left(), XOf(outage.StartedMs, area));
        const double x1 =
            std::min<double>(area.right() + 1, XOf(outage.EndedMs.value_or(view_.nowMs), area));
        const int left = int(std::floor(x0));
        painter.fillRect(QRect(left, area.top() - kOutageStripHeight - 2,
                               std::max(2, int(std::ceil(x1)) - left), kOutageStripHeight),
                         kOutageColour);
    }

    if (chosen_ >= 0 && count > 0) {
        const int x0 = area.left() + int(int64_t(chosen_) * area.width() / count);
        const int x1 =
            std::max(x0 + 1, area.left() + int(int64_t(chosen_ + 1) * area.width() / count));
        QColor mark = palette().color(QPalette::Highlight);
        mark.setAlpha(70);
        painter.fillRect(QRect(x0, area.top(), x1 - x0, area.height()), mark);
    }

    painter.setPen(text);
    painter.drawRect(area.adjusted(-1, -1, 0, 0));
    DrawTimeAxis(painter, area);
    DrawLegend(painter, area);

    QString notice;
    if (view_.state == TJournalState::Missing) {
        notice =
            QStringLiteral("Nothing recorded yet: the journal is kept while the monitor runs.");
    } else if (view_.state == TJournalState::Unreadable) {
        notice = QStringLiteral("The journal cannot be read: %1").arg(view_.error);
    }
    if (!notice.isEmpty()) {
        painter.setPen(text);
        painter.drawText(area.adjusted(kGap, kGap, -kGap, -kGap),
                         Qt::AlignCenter | Qt::TextWordWrap, notice);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void TJournalPlot::DrawTimeAxis(QPainter& painter, const QRect& area) const {
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
    const QFontMetrics metrics = fontMetrics();
    QColor grid = palette().color(QPalette::Text);
    grid.setAlpha(40);
    int labelsEnd = area.left() - 1000;
    for (const int64_t tick : ticks) {
        const int x = int(std::lround(XOf(tick, area)));
        painter.setPen(grid);
        painter.drawLine(x, area.top(), x, area.bottom());
        const QString label = Local(tick).toString(format);
        const int labelWidth = metrics.horizontalAdvance(label);
        // Labels that would run into the one before are left out.
        if (x - labelWidth / 2 < labelsEnd + kGap) continue;
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(
            QRect(x - labelWidth / 2, area.bottom() + kGap / 2, labelWidth + 1, metrics.height()),
            Qt::AlignCenter, label);
        labelsEnd = x + labelWidth / 2;
    }
}

void TJournalPlot::DrawLegend(QPainter& painter, const QRect& area) const {
    const QFontMetrics metrics = fontMetrics();
    const int box = metrics.ascent() * 2 / 3;
    int x = area.left();
    const int y = kGap / 2;
    const auto entry = [&](const QBrush& brush, const QString& label) {
        const QRect mark(x, y + (metrics.height() - box) / 2, box * 2, box);
        painter.fillRect(mark, brush);
        x = mark.right() + kGap / 2;
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRect(x, y, metrics.horizontalAdvance(label) + 1, metrics.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, label);
        x += metrics.horizontalAdvance(label) + 2 * kGap;
    };
    entry(kLossColour, QStringLiteral("Loss"));
    entry(kRttColour, QStringLiteral("Median round trip"));
    entry(kOutageColour, QStringLiteral("Outage"));
    entry(QBrush(kGapColour, Qt::BDiagPattern), QStringLiteral("Not monitored"));
}

}  // namespace nodrel
