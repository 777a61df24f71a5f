#include "journal_plot.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QPainter>
#include <QToolTip>

#include "round_trip_text.h"

namespace nodrel {

namespace {

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
    const TSpanLayout& shown = painter_.View().layout;
    if (chosen_ >= 0 && view.layout.bucketMs == shown.bucketMs) {
        chosen_ -= int((view.layout.beginMs - shown.beginMs) / view.layout.bucketMs);
        if (chosen_ < 0 || chosen_ >= view.layout.count) chosen_ = -1;
    } else {
        chosen_ = -1;
    }
    painter_.SetView(view);
    emit Readout(BucketText(chosen_));
    update();
}

QRect TJournalPlot::PlotArea() const {
    return painter_.PlotArea(rect(), fontMetrics());
}

int TJournalPlot::BucketAt(QPoint point) const {
    const TSpanLayout& layout = painter_.View().layout;
    const QRect area = PlotArea();
    if (layout.count == 0 || point.x() < area.left() || point.x() >= area.right() + 1 ||
        point.y() < rect().top() || point.y() > area.bottom()) {
        return -1;
    }
    const int index = int((point.x() - area.left()) * int64_t(layout.count) / area.width());
    return std::clamp(index, 0, layout.count - 1);
}

QString TJournalPlot::BucketText(int index) const {
    const TJournalView& view = painter_.View();
    if (index < 0 || index >= int(view.buckets.size())) return {};
    const TSpanLayout& layout = view.layout;
    const QDateTime start = Local(layout.BucketStart(index));
    const QDateTime end = Local(layout.BucketStart(index + 1));
    QString when;
    if (layout.bucketMs >= 24 * 3600 * 1000) {
        when = start.toString(QStringLiteral("ddd yyyy-MM-dd"));
    } else {
        when = start.toString(QStringLiteral("ddd yyyy-MM-dd HH:mm")) + QStringLiteral(" – ") +
               end.toString(QStringLiteral("HH:mm"));
    }
    const TJournalBucket& bucket = view.buckets[index];
    QStringList lines{when};
    if (view.Unwritten(index)) {
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
    for (const TJournalOutage& outage : view.outages) {
        const int64_t ended = outage.EndedMs.value_or(view.nowMs);
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
    const int last = painter_.View().layout.count - 1;
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
    painter_.Draw(painter, rect(),
                  {palette().color(QPalette::Text), palette().color(QPalette::Base),
                   palette().color(QPalette::Highlight)},
                  chosen_);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

}  // namespace nodrel
