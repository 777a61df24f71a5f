#include "outage_alerts.h"

namespace nodrel {

TOutageAlerts::TOutageAlerts(TOutageWatch& watch) {
    connect(&watch, &TOutageWatch::Started, this, &TOutageAlerts::Failed);
    connect(&watch, &TOutageWatch::Extended, this, &TOutageAlerts::Failed);
    connect(&watch, &TOutageWatch::Ended, this, &TOutageAlerts::Ended);
}

void TOutageAlerts::Woke(int64_t atMs) {
    graceEndsMs_ = atMs + kWakeGraceMs;
}

void TOutageAlerts::Failed(const TOutage& outage) {
    const TFailurePlace& place = outage.LatestFailure.Place;
    if (told_) {
        if (place == toldPlace_) return;
        toldPlace_ = place;
        emit Relocated(outage);
        return;
    }
    if (outage.LatestFailure.StartTime < graceEndsMs_) return;
    told_ = true;
    toldPlace_ = place;
    emit Raised(outage);
}

void TOutageAlerts::Ended(const TOutage& outage) {
    if (!told_) return;
    told_ = false;
    switch (outage.End) {
        case TOutageEnd::Answered:
            emit Cleared(outage);
            break;
        case TOutageEnd::HostChanged:
            emit Abandoned(outage);
            break;
        case TOutageEnd::Stopped:
            emit Withdrawn(outage);
            break;
    }
}

}  // namespace nodrel
