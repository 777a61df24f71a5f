#pragma once

// The figures a Prometheus server reads of this monitor, counted as the outcomes and outages
// reach the window, from zero at each start: per host and address the probes sent, a histogram
// of the answers' round trips and whether the latest probe was answered; per host the outages,
// their seconds and whether one lasts. A series is made when its host or address is first seen;
// an outcome of the same host and address as the one before only adds to numbers.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "outage_watch.h"
#include "outcome_record.h"

namespace nodrel {

// The round-trip histogram's buckets: upper bounds from 50 microseconds, doubling, to 26.2144 s.
inline constexpr int kRoundTripBuckets = 20;

// The upper bound of bucket `index`, in microseconds.
constexpr uint64_t RoundTripBucketMicroseconds(int index) {
    return uint64_t{50} << index;
}

struct TProbeSeries {
    QString Host;     // as typed
    QString Address;  // the address probed; empty while the name has never resolved
    uint64_t Requests = 0;
    uint64_t Answers = 0;
    // Answers whose round trip is at most each bucket's bound and above the one before.
    std::array<uint64_t, kRoundTripBuckets> Buckets{};
    uint64_t RoundTripMicroseconds = 0;  // all answers' round trips together
    bool LastAnswered = false;
    uint64_t LastUse = 0;  // which of the series went unused longest
};

struct TOutageSeries {
    QString Host;
    uint64_t Outages = 0;
    // Ended outages from the first failed probe to the first answered one; the one that lasts up
    // to its latest failed probe.
    int64_t Milliseconds = 0;
    bool Active = false;
};

class TMetricsFigures {
public:
    // The host probed at the start: its outage figures are there, at zero, before any outcome.
    explicit TMetricsFigures(const QString& host);

    // Every outcome, with the host text it was probed for, as the window records it.
    void Add(bool success, const TOutcomeRecord& record, const QString& host);
    void OutageStarted(const TOutage& outage);
    void OutageExtended(const TOutage& outage);
    void OutageEnded(const TOutage& outage);

    const std::vector<TProbeSeries>& Probes() const { return probes_; }
    // The series of the latest probe; none before the first.
    const TProbeSeries* Latest() const { return latest_ ? &probes_[*latest_] : nullptr; }
    const std::vector<TOutageSeries>& Outages() const { return outages_; }

private:
    TProbeSeries& SeriesOf(const TOutcomeRecord& record, const QString& host);
    size_t OutageSeriesOf(const QString& host);
    // Adds the outage's time up to `until` that is not counted yet.
    void CountOutage(const TOutage& outage, int64_t until);

    std::vector<TProbeSeries> probes_;
    std::optional<size_t> latest_;
    std::optional<platform::IpAddress> latestAddress_;
    uint64_t uses_ = 0;
    std::vector<TOutageSeries> outages_;
    std::optional<size_t> activeOutage_;
    int64_t outageCounted_ = 0;  // of the outage that lasts, milliseconds
};

}  // namespace nodrel
