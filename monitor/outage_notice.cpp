#include "outage_notice.h"

#include <QDateTime>
#include <algorithm>

#include "outcome_readout.h"

namespace nodrel {

platform::DesktopNotice OutageStartNotice(const QString& host, const TOutage& outage) {
    const QString since =
        QDateTime::fromMSecsSinceEpoch(outage.StartedMs).toString(QStringLiteral("HH:mm:ss"));
    return {QStringLiteral("No answer from %1").arg(host),
            QStringLiteral("%1 has not answered since %2: %3")
                .arg(host, since, FailureText(outage.LatestFailure)),
            true};
}

platform::DesktopNotice OutageEndNotice(const QString& host, const TOutage& outage) {
    const int64_t length = outage.EndedMs.value_or(outage.StartedMs) - outage.StartedMs;
    return {QStringLiteral("%1 answers again").arg(host),
            QStringLiteral("%1 answers again after %2").arg(host, DurationText(length)), false};
}

QString DurationText(int64_t milliseconds) {
    const int64_t seconds = std::max<int64_t>(milliseconds, 0) / 1000;
    if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600) return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

}  // namespace nodrel
