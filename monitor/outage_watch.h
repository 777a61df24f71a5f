#pragma once

#include <QObject>
#include <cstdint>
#include <optional>

#include "outcome_record.h"

namespace nodrel {

// An outage: a streak of at least two consecutive failed probes, the point at which the alarm
// sounds. It starts at the first failed probe's start time and ends at the first answered
// probe's start time.
struct TOutage {
    int64_t StartedMs = 0;           // the first failed probe's start, ms since the Unix epoch
    std::optional<int64_t> EndedMs;  // the first answered probe's start; none while it lasts
    int32_t Failures = 0;            // failed probes so far
    TOutcomeRecord FirstFailure;     // the streak's first failed probe
    TOutcomeRecord LatestFailure;    // its latest
};

// Follows the outcomes as they arrive and tells when an outage starts and when it ends, so that
// everything that reports outages (sounds aside) shares one idea of them.
class TOutageWatch : public QObject {
    Q_OBJECT

public:
    void Add(bool success, const TOutcomeRecord& record);
    // Forgets the current streak without ending it: the probes stopped (the machine sleeps), so
    // what follows is a new streak. An outage in progress is told as ended at `endedMs`.
    void Interrupt(int64_t endedMs);

    // The outage in progress, if any.
    const std::optional<TOutage>& Current() const { return current_; }

signals:
    // At the streak's second failure.
    void Started(const nodrel::TOutage& outage);
    // At every later failure of an outage in progress.
    void Extended(const nodrel::TOutage& outage);
    // At the first answered probe after an outage; `outage.EndedMs` is set.
    void Ended(const nodrel::TOutage& outage);

private:
    std::optional<TOutage> streak_;   // the failures since the last answer
    std::optional<TOutage> current_;  // the streak, once it is an outage
};

}  // namespace nodrel
