#include "outage_notice.h"

#include <QDateTime>
#include <algorithm>

#include "journal_text.h"
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

}  // namespace nodrel
