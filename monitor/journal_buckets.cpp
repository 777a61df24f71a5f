#include "journal_buckets.h"

#include <algorithm>
#include <utility>

namespace nodrel {

namespace {

using platform::Database;
using platform::Statement;

// Per bucket: the counts and the round trips whose median it shows.
struct TBucketSums {
    int64_t probes = 0;
    int64_t answered = 0;
    std::vector<double> rtts;
};

}  // namespace

std::optional<double> MedianOf(std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) return *middle;
    const double below = *std::max_element(values.begin(), middle);
    return (below + *middle) / 2;
}

void ReadBuckets(Database& db, TJournalView& view, int first, const TRowFilter& filter) {
    const TSpanLayout& layout = view.layout;
    if (first >= layout.count) return;
    const int64_t from = layout.BucketStart(first);
    const int64_t to = std::min(layout.EndMs(), filter.endMs);
    if (to <= from) return;

    // Raw outcomes where the span is fine enough to want them; elsewhere only those past the
    // newest per-minute row, which the writer has not folded yet.
    int64_t outcomesFrom = from;
    if (!layout.fromOutcomes) {
        Statement newest = db.Prepare("SELECT MAX(minute_ms) FROM minutes");
        if (newest.Step() && !newest.IsNull(0)) {
            outcomesFrom = std::max(from, newest.Integer(0) + kMinuteMs);
        }
    }

    std::vector<TBucketSums> sums(layout.count - first);
    // Minutes that raw outcomes cover; their per-minute rows would count them twice.
    std::vector<bool> covered((to - from + kMinuteMs - 1) / kMinuteMs, false);
    Statement outcomes = db.Prepare(
        "SELECT time_ms, answered, rtt_ms FROM outcomes "
        "WHERE time_ms >= ?1 AND time_ms < ?2 AND (?3 = '' OR host = ?3)");
    outcomes.Bind(1, outcomesFrom).Bind(2, to).Bind(3, filter.host);
    while (outcomes.Step()) {
        const int64_t time = outcomes.Integer(0);
        TBucketSums& bucket = sums[layout.BucketOf(time) - first];
        ++bucket.probes;
        if (outcomes.Integer(1) != 0) {
            ++bucket.answered;
            if (const std::optional<double> rtt = outcomes.OptionalReal(2)) {
                bucket.rtts.push_back(*rtt);
            }
        }
        covered[(time - from) / kMinuteMs] = true;
    }

    Statement minutes = db.Prepare(
        "SELECT minute_ms, probes, answered, rtt_median_ms FROM minutes NOT INDEXED "
        "WHERE minute_ms >= ?1 AND minute_ms < ?2 AND (?3 = '' OR host = ?3)");
    minutes.Bind(1, from).Bind(2, to).Bind(3, filter.host);
    while (minutes.Step()) {
        const int64_t minute = minutes.Integer(0);
        if (covered[(minute - from) / kMinuteMs]) continue;
        TBucketSums& bucket = sums[layout.BucketOf(minute) - first];
        // An edited file may hold anything: no count below zero, no more answers than probes.
        const int64_t probes = std::max<int64_t>(0, minutes.Integer(1));
        bucket.probes += probes;
        bucket.answered += std::clamp<int64_t>(minutes.Integer(2), 0, probes);
        if (const std::optional<double> median = minutes.OptionalReal(3)) {
            bucket.rtts.push_back(*median);
        }
    }

    for (size_t i = 0; i < sums.size(); ++i) {
        TJournalBucket& bucket = view.buckets[first + i];
        bucket.probes = sums[i].probes;
        bucket.answered = sums[i].answered;
        bucket.medianRttMs = MedianOf(sums[i].rtts);
    }
}

std::vector<TJournalOutage> ReadOutages(Database& db, int64_t beginMs, const TRowFilter& filter) {
    // A journal its writer has not brought up to this version yet has no causes.
    Statement select = db.Prepare(
        db.UserVersion() >= 1
            ? "SELECT started_ms, ended_ms, failures, reason, host, address, cause, gateway "
              "FROM outages WHERE started_ms < ?2 AND (ended_ms IS NULL OR ended_ms > ?1) "
              "AND (?3 = '' OR host = ?3) ORDER BY started_ms DESC"
            : "SELECT started_ms, ended_ms, failures, reason, host, address, '', '' "
              "FROM outages WHERE started_ms < ?2 AND (ended_ms IS NULL OR ended_ms > ?1) "
              "AND (?3 = '' OR host = ?3) ORDER BY started_ms DESC");
    select.Bind(1, beginMs).Bind(2, filter.endMs).Bind(3, filter.host);
    std::vector<TJournalOutage> outages;
    while (select.Step()) {
        TJournalOutage outage;
        outage.StartedMs = select.Integer(0);
        if (!select.IsNull(1)) outage.EndedMs = select.Integer(1);
        outage.Failures = int32_t(select.Integer(2));
        outage.Reason = select.Text(3);
        outage.Host = select.Text(4);
        outage.Address = select.Text(5);
        outage.Cause = select.Text(6);
        outage.Gateway = select.Text(7);
        outages.push_back(std::move(outage));
    }
    return outages;
}

}  // namespace nodrel
