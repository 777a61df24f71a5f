#include "report_text.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

#include "journal_text.h"
#include "round_trip_text.h"

namespace nodrel {

namespace {

QString Minute(int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// "CET", or "CET/CEST" for a period over a change of the clock.
QString ZoneNames(int64_t beginMs, int64_t endMs) {
    const QString begin = QDateTime::fromMSecsSinceEpoch(beginMs).timeZoneAbbreviation();
    const QString end = QDateTime::fromMSecsSinceEpoch(endMs).timeZoneAbbreviation();
    return begin == end ? begin : begin + u'/' + end;
}

QString Hundredths(int64_t hundredths) {
    return QStringLiteral("%1.%2 %")
        .arg(hundredths / 100)
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

QString Milliseconds(double milliseconds) {
    return RoundTripNumber(milliseconds) + QStringLiteral(" ms");
}

TReportSection WhatItIsOf(const TJournalReport& report, const QString& program) {
    const QString addresses = report.addresses.isEmpty()
                                  ? QStringLiteral(
                                        "not journaled: the journal keeps the address "
                                        "probed with each outage")
                                  : report.addresses.join(QStringLiteral(", "));
    return {QString(),
            {{QStringLiteral("Host"), report.host},
             {QStringLiteral("Addresses probed"), addresses},
             {QStringLiteral("Period"), QStringLiteral("%1 to %2, local time (%3)")
                                            .arg(Minute(report.beginMs), Minute(report.endMs),
                                                 ZoneNames(report.beginMs, report.endMs))},
             {QStringLiteral("Made"),
              QStringLiteral("%1 by %2").arg(LocalTimeText(report.madeMs), program)}}};
}

TReportSection Availability(const TJournalReport& report) {
    const std::optional<int64_t> availability = report.AvailabilityHundredths();
    return {QStringLiteral("Availability"),
            {{QStringLiteral("Availability"),
              availability ? Hundredths(*availability) +
                                 QStringLiteral(" of the monitored time, outside outages")
                           : QStringLiteral("not known: the host was not monitored")},
             {QStringLiteral("Monitored"), DurationText(report.monitoredMs)},
             {QStringLiteral("Not monitored"),
              DurationText(report.unmonitoredMs) +
                  QStringLiteral(" (the computer off or the monitor closed: not counted as "
                                 "loss)")}}};
}

TReportSection OutagesAndProbes(const TJournalReport& report) {
    const size_t count = report.view.outages.size();
    const QString outages =
        count == 0 ? QStringLiteral("none")
                   : QStringLiteral("%1, in all %2, the longest %3")
                         .arg(count)
                         .arg(DurationText(report.outagesMs), DurationText(report.longestOutageMs));
    const int64_t lost = report.probes - report.answered;
    const QString loss =
        report.probes == 0
            ? QStringLiteral("no probes")
            : QStringLiteral("%1 % of %2 %3 (%4 lost)")
                  .arg(100.0 * lost / report.probes, 0, 'f', 2)
                  .arg(report.probes)
                  .arg(report.probes == 1 ? QStringLiteral("probe") : QStringLiteral("probes"))
                  .arg(lost);
    const TRoundTripFigures& rtt = report.roundTrips;
    const QString roundTrip =
        rtt.medianMs ? QStringLiteral("median %1, 95th percentile %2, maximum %3")
                           .arg(RoundTripText(*rtt.medianMs), RoundTripText(*rtt.percentile95Ms),
                                RoundTripText(*rtt.maximumMs))
                     : QStringLiteral("no answers");
    const QString jitter =
        rtt.jitterMs ? Milliseconds(*rtt.jitterMs) +
                           QStringLiteral(", the mean difference between consecutive round trips")
                     : QStringLiteral("not known: fewer than two round trips kept probe by probe");
    return {QStringLiteral("Outages, loss and round trips"),
            {{QStringLiteral("Outages"), outages},
             {QStringLiteral("Loss"), loss},
             {QStringLiteral("Round trip"), roundTrip},
             {QStringLiteral("Jitter"), jitter}}};
}

}  // namespace

std::vector<TReportSection> ReportSections(const TJournalReport& report, const QString& program) {
    return {WhatItIsOf(report, program), Availability(report), OutagesAndProbes(report)};
}

QString RoundTripSourceNote(const TJournalReport& report) {
    if (!report.fromMinuteRows) return {};
    if (!report.probeByProbeFromMs) {
        return QStringLiteral(
            "The round trips are those of the per-minute rows: each minute's answers count at "
            "its median round trip. The journal keeps each probe's own for 2 days.");
    }
    return QStringLiteral(
               "Before %1 the round trips are those of the per-minute rows: each minute's answers "
               "count at its median round trip. Jitter is measured from then on.")
        .arg(Minute(*report.probeByProbeFromMs));
}

std::vector<TOutageColumn> OutageColumns(const TJournalReport& report) {
    const int64_t madeMs = report.madeMs;
    const std::vector<TOutageColumn> all = {
        {QStringLiteral("Start"), false,
         [](const TJournalOutage& outage) { return LocalTimeText(outage.StartedMs); }},
        {QStringLiteral("Duration"), true,
         [madeMs](const TJournalOutage& outage) { return OutageDurationText(outage, madeMs); }},
        {QStringLiteral("Failed probes"), true,
         [](const TJournalOutage& outage) { return QString::number(outage.Failures); }},
        {QStringLiteral("Reason"), false,
         [](const TJournalOutage& outage) { return outage.Reason; }},
        {QStringLiteral("Where"), false,
         [](const TJournalOutage& outage) { return OutageWhereText(outage); }},
    };
    std::vector<TOutageColumn> shown;
    for (const TOutageColumn& column : all) {
        const bool filled = std::any_of(
            report.view.outages.begin(), report.view.outages.end(),
            [&](const TJournalOutage& outage) { return !column.cell(outage).isEmpty(); });
        if (filled) shown.push_back(column);
    }
    return shown;
}

std::vector<TJournalOutage> ListedOutages(const TJournalReport& report, size_t room) {
    std::vector<TJournalOutage> listed(report.view.outages.rbegin(), report.view.outages.rend());
    if (listed.size() <= room) return listed;
    const auto length = [&](const TJournalOutage& outage) {
        return outage.EndedMs.value_or(report.madeMs) - outage.StartedMs;
    };
    std::stable_sort(listed.begin(), listed.end(),
                     [&](const auto& a, const auto& b) { return length(a) > length(b); });
    listed.resize(room);
    std::sort(listed.begin(), listed.end(),
              [](const auto& a, const auto& b) { return a.StartedMs < b.StartedMs; });
    return listed;
}

QString ReportFileName(const QString& host, int64_t beginMs, int64_t endMs) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    const auto stamp = [](int64_t timeMs) {
        return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd-HHmm"));
    };
    return QStringLiteral("nodrel-%1-%2-to-%3.pdf")
        .arg(QString(host).replace(unsafe, QStringLiteral("_")), stamp(beginMs), stamp(endMs));
}

}  // namespace nodrel
