#include "outage_alerts.h"

namespace nodrel {

TOutageAlerts::TOutageAlerts(TOutageWatch& watch) {
    connect(&watch, &TOutageWatch::Started, this, &TOutageAlerts::Failed);
    connect(&watch, &TOutageWatch::Extended, this, &TOutageAlerts::Failed);
    connect(&watch, &TOutageWatch::Ended, this, &TOutageAlerts::Ended);
}

void TOutageAlerts::Sleeping() {
    sleeping_ = true;
}

void TOutageAlerts::Woke(int64_t atMs) {
    sleeping_ = false;
    graceEndsMs_ = atMs + kWakeGraceMs;
}

void TOutageAlerts::Failed(const TOutage& outage) {
    if (told_ || outage.LatestFailure.StartTime < graceEndsMs_) return;
    told_ = true;
    emit Raised(outage);
}

void TOutageAlerts::Ended(const TOutage& outage) {
    if (!told_) return;
    told_ = false;
    if (sleeping_) {
        emit Withdrawn(outage);
    } else {
        emit Cleared(outage);
    }
}

}  // namespace nodrel
