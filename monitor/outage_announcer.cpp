#include "outage_announcer.h"

#include "outage_notice.h"
#include "result_history.h"

namespace nodrel {

TOutageAnnouncer::TOutageAnnouncer(TOutageWatch& watch, TOutlets outlets)
    : alerts_(watch), outlets_(std::move(outlets)) {
    connect(&alerts_, &TOutageAlerts::Raised, this, &TOutageAnnouncer::Raised);
    // The fault moved: the start's notice says where it lies now, with no second alarm.
    connect(&alerts_, &TOutageAlerts::Relocated, this, [this](const TOutage& outage) {
        if (outlets_.notificationsOn()) outlets_.tell(OutageStartNotice(outage));
    });
    connect(&alerts_, &TOutageAlerts::Cleared, this, &TOutageAnnouncer::Cleared);
    // A host no longer probed has not recovered: no sound.
    connect(&alerts_, &TOutageAlerts::Abandoned, this, &TOutageAnnouncer::TellEnd);
    connect(&alerts_, &TOutageAlerts::Withdrawn, this, [this] { outlets_.withdraw(); });
}

void TOutageAnnouncer::Raised(const TOutage& outage) {
    if (outlets_.soundsOn()) outlets_.playSound(SoundFileName(TDueSound::Alarm));
    if (outlets_.notificationsOn()) outlets_.tell(OutageStartNotice(outage));
}

void TOutageAnnouncer::Cleared(const TOutage& outage) {
    // The recovery sound marks only an outage of three failures or more.
    if (outlets_.soundsOn() && outage.Failures > 2) {
        outlets_.playSound(SoundFileName(TDueSound::Recovery));
    }
    TellEnd(outage);
}

// The end replaces the start's notice.
void TOutageAnnouncer::TellEnd(const TOutage& outage) {
    if (outlets_.notificationsOn()) outlets_.tell(OutageEndNotice(outage));
}

}  // namespace nodrel
