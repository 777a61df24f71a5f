#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "outcome_record.h"

namespace nodrel {

// Why an outage ended.
enum class TOutageEnd {
    Answered,     // its host answered again
    HostChanged,  // another host is probed now: this one is no longer watched
    Stopped,      // the probes stopped: the computer sleeps, or the monitor closes
};

// An outage: a streak of at least two consecutive failed probes of one host, the point at which
// the alarm sounds. It starts at the first failed probe's start time and ends at the first
// answered probe's start time, or at the first probe of another host.
struct TOutage {
    int64_t StartedMs = 0;           // the first failed probe's start, ms since the Unix epoch
    std::optional<int64_t> EndedMs;  // none while it lasts
    int32_t Failures = 0;            // failed probes so far
    QString Host;                    // the host text the failed probes were for
    TOutcomeRecord FirstFailure;     // the streak's first failed probe
    TOutcomeRecord LatestFailure;    // its latest
    // A failure of the kind most of them had (status and lookup), the earliest kind among equals.
    TOutcomeRecord CommonFailure;
    TOutageEnd End = TOutageEnd::Answered;  // once it ended
    // Where the fault of most of them lay, the earliest cause among equals.
    TFailurePlace CommonPlace;
};

// Follows the outcomes as they arrive and tells when an outage starts and when it ends, so that
// everything that reports outages shares one idea of them.
class TOutageWatch : public QObject {
    Q_OBJECT

public:
    // `host`: the host text the probe was for, which may not be the current one: a probe under
    // way when the host changed ends after the change.
    void Add(bool success, const TOutcomeRecord& record, const QString& host);
    // Forgets the current streak without ending it: the probes stopped (the machine sleeps, the
    // monitor closes), so what follows is a new streak. An outage in progress ends at `endedMs`.
    void Interrupt(int64_t endedMs);

    // The outage in progress; null while there is none.
    const TOutage* Current() const { return outage_ ? &*streak_ : nullptr; }

signals:
    // At the streak's second failure.
    void Started(const nodrel::TOutage& outage);
    // At every later failure of an outage in progress.
    void Extended(const nodrel::TOutage& outage);
    // `outage.EndedMs` and `outage.End` are set.
    void Ended(const nodrel::TOutage& outage);

private:
    // How often one kind of failure came in the streak.
    struct TFailureKind {
        uint32_t Status = 0;
        bool NameNotFound = false;
        int Count = 0;
        TOutcomeRecord Sample;
    };

    // How often one cause of failure came in the streak.
    struct TCauseCount {
        TFailurePlace Place;  // its first failure's
        int Count = 0;
    };

    void CountFailure(const TOutcomeRecord& record);
    void End(int64_t endedMs, TOutageEnd end);

    std::optional<TOutage> streak_;    // the failures since the last answer
    std::vector<TFailureKind> kinds_;  // theirs, in the order they first came
    std::vector<TCauseCount> causes_;  // likewise
    bool outage_ = false;              // the streak is an outage
};

}  // namespace nodrel
