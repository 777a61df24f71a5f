#include "outage_notice.h"

#include <QDateTime>

#include "journal_text.h"
#include "outcome_readout.h"

namespace nodrel {

namespace {

// A summary a server shows on a line or two: longer hosts are cut there.
constexpr qsizetype kSummaryHostLength = 40;

QString SummaryHost(const QString& host) {
    if (host.size() <= kSummaryHostLength) return host;
    qsizetype cut = kSummaryHostLength - 1;
    if (host.at(cut - 1).isHighSurrogate()) --cut;  // never half a character
    return host.left(cut) + QChar(0x2026);
}

QString TimeOfDay(int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("HH:mm:ss"));
}

// Where the latest failure lies, or why it failed where that is not known. It follows a colon
// in the body: its own colon becomes a comma.
QString LatestWhy(const TOutage& outage) {
    QString where = WhereText(outage.LatestFailure, outage.Host);
    if (where.isEmpty()) return FailureText(outage.LatestFailure);
    if (const qsizetype colon = where.indexOf(QLatin1String(": ")); colon >= 0) {
        where.replace(colon, 1, QLatin1Char(','));
    }
    return where;
}

}  // namespace

platform::DesktopNotice OutageStartNotice(const TOutage& outage) {
    return {QStringLiteral("No answer from %1").arg(SummaryHost(outage.Host)),
            QStringLiteral("%1 has not answered since %2: %3")
                .arg(outage.Host, TimeOfDay(outage.StartedMs), LatestWhy(outage)),
            true};
}

platform::DesktopNotice OutageEndNotice(const TOutage& outage) {
    const QString length =
        DurationText(outage.EndedMs.value_or(outage.StartedMs) - outage.StartedMs);
    if (outage.End == TOutageEnd::HostChanged) {
        return {QStringLiteral("Stopped watching %1").arg(SummaryHost(outage.Host)),
                QStringLiteral("stopped watching %1 after %2; it had not answered since %3")
                    .arg(outage.Host, length, TimeOfDay(outage.StartedMs)),
                false};
    }
    return {QStringLiteral("%1 answers again").arg(SummaryHost(outage.Host)),
            QStringLiteral("%1 answers again after %2").arg(outage.Host, length), false};
}

}  // namespace nodrel
