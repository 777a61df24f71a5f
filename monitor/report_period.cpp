#include "report_period.h"

#include <QDateTime>
#include <QRegularExpression>

#include "journal_tables.h"

namespace nodrel {

namespace {

constexpr int64_t kDefaultDays = 7;

int64_t UtcOffsetMs(int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).offsetFromUtc() * 1000LL;
}

std::optional<int64_t> OptionTime(const QString& option, const QString& text, bool dayEnd,
                                  QString* error) {
    const std::optional<int64_t> time = ParseLocalTime(text, dayEnd);
    if (!time && error) {
        *error = QStringLiteral(
                     "%1: \"%2\" is not a local date: give YYYY-MM-DD or "
                     "YYYY-MM-DD HH:MM")
                     .arg(option, text);
    }
    return time;
}

}  // namespace

TReportPeriod SpanPeriod(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs) {
    const TSpanLayout layout = LayoutSpan(span, nowMs, utcOffsetMs);
    return {layout.beginMs, layout.EndMs(), span, layout};
}

std::optional<int64_t> ParseLocalTime(const QString& text, bool dayEnd) {
    static const QRegularExpression format(
        QStringLiteral(R"(^(\d{4})-(\d{2})-(\d{2})(?: (\d{2}):(\d{2}))?$)"));
    const QRegularExpressionMatch match = format.match(text.trimmed());
    if (!match.hasMatch()) return std::nullopt;
    QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    QTime time(0, 0);
    if (match.hasCaptured(4)) {
        time = QTime(match.captured(4).toInt(), match.captured(5).toInt());
    } else if (dayEnd) {
        date = date.addDays(1);
    }
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const QDateTime local(date, time);
    // A time the clock skipped when it was put forward is none.
    if (!local.isValid() || local.time() != time) return std::nullopt;
    return local.toMSecsSinceEpoch();
}

std::optional<TReportPeriod> CommandLinePeriod(const QString& from, const QString& to,
                                               int64_t nowMs, QString* error) {
    if (from.isEmpty() && to.isEmpty()) {
        return SpanPeriod(TJournalSpan::Week, nowMs, UtcOffsetMs(nowMs));
    }
    TReportPeriod period;
    if (!to.isEmpty()) {
        const std::optional<int64_t> end = OptionTime(QStringLiteral("--to"), to, true, error);
        if (!end) return std::nullopt;
        period.endMs = *end;
    } else {
        period.endMs = nowMs;
    }
    if (!from.isEmpty()) {
        const std::optional<int64_t> begin =
            OptionTime(QStringLiteral("--from"), from, false, error);
        if (!begin) return std::nullopt;
        period.beginMs = *begin;
    } else {
        period.beginMs = period.endMs - kDefaultDays * kDayMs;
    }
    if (period.beginMs >= period.endMs) {
        if (error) {
            *error =
                QStringLiteral("the period is empty: --from %1 is not before %2")
                    .arg(from, to.isEmpty() ? QStringLiteral("now") : QStringLiteral("--to ") + to);
        }
        return std::nullopt;
    }
    period.layout = LayoutPeriod(period.beginMs, period.endMs, nowMs, period.scale);
    return period;
}

}  // namespace nodrel
