#include "metrics_figures.h"

#include <algorithm>

namespace nodrel {

namespace {

// A run that probes ever new hosts or addresses keeps the figures of the latest this many; the
// oldest go, as a scrape target's series go when it stops exporting them.
constexpr size_t kMaxSeries = 32;

}  // namespace

TMetricsFigures::TMetricsFigures(const QString& host) {
    OutageSeriesOf(host);
}

TProbeSeries& TMetricsFigures::SeriesOf(const TOutcomeRecord& record, const QString& host) {
    // The usual case: the host and address of the probe before, so nothing is looked up or made.
    if (latest_ && (!record.Address || record.Address == latestAddress_) &&
        probes_[*latest_].Host == host) {
        return probes_[*latest_];
    }
    QString address;
    if (record.Address) {
        address = QString::fromStdString(platform::AddressText(*record.Address));
    } else {
        // A probe without an address (the name was not found) counts for the host's latest one.
        const TProbeSeries* hostLatest = nullptr;
        for (const TProbeSeries& series : probes_) {
            if (series.Host == host && (!hostLatest || series.LastUse > hostLatest->LastUse)) {
                hostLatest = &series;
            }
        }
        if (hostLatest) address = hostLatest->Address;
    }
    auto found = std::ranges::find_if(probes_, [&](const TProbeSeries& series) {
        return series.Host == host && series.Address == address;
    });
    const bool made = found == probes_.end();
    if (made) {
        if (probes_.size() >= kMaxSeries) {
            probes_.erase(std::ranges::min_element(probes_, {}, &TProbeSeries::LastUse));
        }
        probes_.push_back({host, address});
        found = probes_.end() - 1;
    }
    found->LastUse = ++uses_;
    latest_ = size_t(found - probes_.begin());
    latestAddress_ = record.Address;
    if (made) OutageSeriesOf(host);  // a host probed from now on has outage figures at zero
    return *found;
}

void TMetricsFigures::Add(bool success, const TOutcomeRecord& record, const QString& host) {
    TProbeSeries& series = SeriesOf(record, host);
    ++series.Requests;
    series.LastAnswered = success;
    if (!success) return;
    ++series.Answers;
    // Where the echo service timed it finer than in whole milliseconds, to the microsecond.
    const uint64_t microseconds = record.RoundTripMicroseconds != 0
                                      ? record.RoundTripMicroseconds
                                      : uint64_t{record.Milliseconds} * 1000;
    series.RoundTripMicroseconds += microseconds;
    for (int bucket = 0; bucket < kRoundTripBuckets; ++bucket) {
        if (microseconds <= RoundTripBucketMicroseconds(bucket)) {
            ++series.Buckets[size_t(bucket)];
            break;
        }
    }
}

size_t TMetricsFigures::OutageSeriesOf(const QString& host) {
    const auto found = std::ranges::find(outages_, host, &TOutageSeries::Host);
    if (found != outages_.end()) return size_t(found - outages_.begin());
    if (outages_.size() >= kMaxSeries) {
        // The oldest that neither lasts nor is the latest probe's host's.
        for (size_t index = 0; index < outages_.size(); ++index) {
            if (index == activeOutage_ || (latest_ && outages_[index].Host == Latest()->Host)) {
                continue;
            }
            outages_.erase(outages_.begin() + ptrdiff_t(index));
            if (activeOutage_ && *activeOutage_ > index) --*activeOutage_;
            break;
        }
    }
    outages_.push_back({host});
    return outages_.size() - 1;
}

void TMetricsFigures::CountOutage(const TOutage& outage, int64_t until) {
    if (!activeOutage_) return;
    const int64_t lasted = until - outage.StartedMs;
    if (lasted <= outageCounted_) return;
    outages_[*activeOutage_].Milliseconds += lasted - outageCounted_;
    outageCounted_ = lasted;
}

void TMetricsFigures::OutageStarted(const TOutage& outage) {
    const size_t series = OutageSeriesOf(outage.Host);
    ++outages_[series].Outages;
    outages_[series].Active = true;
    activeOutage_ = series;
    outageCounted_ = 0;
    CountOutage(outage, outage.LatestFailure.StartTime);
}

void TMetricsFigures::OutageExtended(const TOutage& outage) {
    CountOutage(outage, outage.LatestFailure.StartTime);
}

void TMetricsFigures::OutageEnded(const TOutage& outage) {
    CountOutage(outage, outage.EndedMs.value_or(outage.LatestFailure.StartTime));
    if (activeOutage_) outages_[*activeOutage_].Active = false;
    activeOutage_.reset();
}

}  // namespace nodrel
