#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string_view>

#include "desktop_notifications.h"
#include "outage_alerts.h"

namespace nodrel {

// Tells the user of the outages the alerts raise, each way only while the user has it on: the
// alarm at an outage's start and the recovery sound after one of three failures or more, and one
// notification of the outage, told again when its fault moves and replaced by its end.
class TOutageAnnouncer : public QObject {
    Q_OBJECT

public:
    // Where the announcements go. The switches are asked at each one: the user may turn them at
    // any time.
    struct TOutlets {
        std::function<bool()> soundsOn;
        std::function<bool()> notificationsOn;
        std::function<void(std::string_view bareName)> playSound;
        // Shows the outages' notification, replacing the one still shown.
        std::function<void(const platform::DesktopNotice& notice)> tell;
        // Takes the outages' notification back.
        std::function<void()> withdraw;
    };

    TOutageAnnouncer(TOutageWatch& watch, TOutlets outlets);

    // The computer woke at `atMs`: the network comes back for a while (TOutageAlerts::Woke).
    void Woke(int64_t atMs) { alerts_.Woke(atMs); }

private:
    void Raised(const TOutage& outage);
    void Cleared(const TOutage& outage);
    void TellEnd(const TOutage& outage);

    TOutageAlerts alerts_;
    TOutlets outlets_;
};

}  // namespace nodrel
