#pragma once

#include <QObject>
#include <cstdint>
#include <limits>

#include "outage_watch.h"

namespace nodrel {

// Decides which outages the user is alerted to (the alarm, a notification) and when: each one at
// its start, except one that starts in the first 30 seconds after the computer woke, while the
// network comes back; that one is told only if it outlasts the grace. An outage cut short by
// sleep (or the close) is withdrawn, not told as over.
class TOutageAlerts : public QObject {
    Q_OBJECT

public:
    static constexpr int64_t kWakeGraceMs = 30000;

    explicit TOutageAlerts(TOutageWatch& watch);

    // The computer woke at `atMs` (ms since the Unix epoch, as the probes' start times).
    void Woke(int64_t atMs);

signals:
    // The outage is to be told: its start, or, held by the grace, its first failure after it.
    void Raised(const nodrel::TOutage& outage);
    // A failure of an outage that was told lies elsewhere than the one told last.
    void Relocated(const nodrel::TOutage& outage);
    // An outage that was told is over: its host answers again.
    void Cleared(const nodrel::TOutage& outage);
    // An outage that was told ends unanswered: its host is no longer probed.
    void Abandoned(const nodrel::TOutage& outage);
    // An outage that was told was cut short by sleep or the close.
    void Withdrawn(const nodrel::TOutage& outage);

private:
    void Failed(const TOutage& outage);
    void Ended(const TOutage& outage);

    int64_t graceEndsMs_ = std::numeric_limits<int64_t>::min();
    bool told_ = false;        // the outage in progress has been told
    TFailurePlace toldPlace_;  // where its fault lay, as last told
};

}  // namespace nodrel
