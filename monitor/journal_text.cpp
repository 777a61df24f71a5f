#include "journal_text.h"

#include <QDateTime>
#include <QStringList>

#include "round_trip_text.h"

namespace nodrel {

namespace {

QString CsvField(QString text) {
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r')) {
        return text;
    }
    return u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString CsvLine(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields) quoted << CsvField(field);
    return quoted.join(u',') + u'\n';
}

QString RoundTrip(std::optional<double> milliseconds) {
    return milliseconds ? RoundTripNumber(*milliseconds) : QString();
}

// A tab or line break inside a field would split it in a spreadsheet.
QString TabField(QString text) {
    return text.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
}

}  // namespace

QString LocalTimeText(int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DurationText(int64_t durationMs) {
    const int64_t seconds = std::max<int64_t>(0, durationMs) / 1000;
    if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600) return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400) {
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    }
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds / 3600 % 24);
}

QString OutageDurationText(const TJournalOutage& outage, int64_t nowMs) {
    if (outage.EndedMs) return DurationText(*outage.EndedMs - outage.StartedMs);
    return QStringLiteral("ongoing, ") + DurationText(nowMs - outage.StartedMs);
}

QString OutageWhereText(const TJournalOutage& outage) {
    if (outage.Gateway.isEmpty()) return outage.Cause;
    return QStringLiteral("%1 (%2)").arg(outage.Cause, outage.Gateway);
}

QString OutagesCsv(const std::vector<TJournalOutage>& outages) {
    QString csv =
        CsvLine({QStringLiteral("started"), QStringLiteral("ended"), QStringLiteral("duration_s"),
                 QStringLiteral("failures"), QStringLiteral("reason"), QStringLiteral("host"),
                 QStringLiteral("address"), QStringLiteral("cause"), QStringLiteral("gateway")});
    for (const TJournalOutage& outage : outages) {
        const bool ended = outage.EndedMs.has_value();
        csv += CsvLine(
            {LocalTimeText(outage.StartedMs), ended ? LocalTimeText(*outage.EndedMs) : QString(),
             ended ? QString::number((*outage.EndedMs - outage.StartedMs) / 1000.0, 'f', 3)
                   : QString(),
             QString::number(outage.Failures), outage.Reason, outage.Host, outage.Address,
             outage.Cause, outage.Gateway});
    }
    return csv;
}

QString MinutesCsv(const std::vector<TJournalMinute>& minutes) {
    QString csv =
        CsvLine({QStringLiteral("minute"), QStringLiteral("host"), QStringLiteral("probes"),
                 QStringLiteral("answered"), QStringLiteral("rtt_min_ms"),
                 QStringLiteral("rtt_median_ms"), QStringLiteral("rtt_max_ms")});
    for (const TJournalMinute& minute : minutes) {
        csv += CsvLine({LocalTimeText(minute.minuteMs), minute.host, QString::number(minute.probes),
                        QString::number(minute.answered), RoundTrip(minute.rttMinMs),
                        RoundTrip(minute.rttMedianMs), RoundTrip(minute.rttMaxMs)});
    }
    return csv;
}

QString OutagesClipboardText(const std::vector<TJournalOutage>& outages, int64_t nowMs) {
    QString text = QStringLiteral("Start\tDuration\tFailed probes\tReason\tWhere\tHost\n");
    for (const TJournalOutage& outage : outages) {
        text += QStringList{LocalTimeText(outage.StartedMs),   OutageDurationText(outage, nowMs),
                            QString::number(outage.Failures),  TabField(outage.Reason),
                            TabField(OutageWhereText(outage)), TabField(outage.Host)}
                    .join(u'\t') +
                u'\n';
    }
    return text;
}

}  // namespace nodrel
