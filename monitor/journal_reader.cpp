#include "journal_reader.h"

#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <utility>

namespace nodrel {

namespace {

// How far behind the newest outcome the writer may still add rows: it batches a minute's worth,
// so buckets ending before this margin are kept from the previous read.
constexpr int64_t kLateWriteMs = 5 * kMinuteMs;

using platform::Database;
using platform::Statement;

// Per bucket: the counts and the round trips whose median it shows.
struct TBucketSums {
    int64_t probes = 0;
    int64_t answered = 0;
    std::vector<double> rtts;
};

std::optional<double> Median(std::vector<double>& values) {
    if (values.empty()) return std::nullopt;
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) return *middle;
    const double below = *std::max_element(values.begin(), middle);
    return (below + *middle) / 2;
}

// Fills buckets [first, count) of `view` from the journal.
void ReadBuckets(Database& db, TJournalView& view, int first) {
    const TSpanLayout& layout = view.layout;
    if (first >= layout.count) return;
    const int64_t from = layout.BucketStart(first);
    const int64_t to = layout.EndMs();

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
        "SELECT time_ms, answered, rtt_ms FROM outcomes WHERE time_ms >= ?1 AND time_ms < ?2");
    outcomes.Bind(1, outcomesFrom).Bind(2, to);
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
        "WHERE minute_ms >= ?1 AND minute_ms < ?2");
    minutes.Bind(1, from).Bind(2, to);
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
        bucket.medianRttMs = Median(sums[i].rtts);
    }
}

std::vector<TJournalOutage> ReadOutages(Database& db, const TSpanLayout& layout) {
    // A journal its writer has not brought up to this version yet has no causes.
    Statement select = db.Prepare(
        db.UserVersion() >= 1
            ? "SELECT started_ms, ended_ms, failures, reason, host, address, cause, gateway "
              "FROM outages WHERE started_ms < ?2 AND (ended_ms IS NULL OR ended_ms > ?1) "
              "ORDER BY started_ms DESC"
            : "SELECT started_ms, ended_ms, failures, reason, host, address, '', '' "
              "FROM outages WHERE started_ms < ?2 AND (ended_ms IS NULL OR ended_ms > ?1) "
              "ORDER BY started_ms DESC");
    select.Bind(1, layout.beginMs).Bind(2, layout.EndMs());
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

}  // namespace

TJournalReader::TJournalReader(QString path) : path_(std::move(path)) {}

void TJournalReader::Close() {
    db_.reset();
}

TJournalState TJournalReader::ReadInOneTransaction(const std::function<void(Database&)>& read,
                                                   QString& error, uint64_t& connection) {
    connection = 0;
    struct stat file {};
    if (::stat(QFile::encodeName(path_).constData(), &file) != 0) {
        Close();
        return TJournalState::Missing;
    }
    platform::DatabaseFailure failure;
    if (!db_ || file.st_dev != device_ || file.st_ino != inode_) {
        Close();
        std::optional<Database> opened = Database::OpenReadOnly(path_, false, failure);
        if (!opened) {
            error = failure.reason;
            return TJournalState::Unreadable;
        }
        db_.emplace(std::move(*opened));
        device_ = file.st_dev;
        inode_ = file.st_ino;
        ++connection_;
    }
    std::optional<platform::DatabaseFailure> refused = db_->Transaction(read);
    if (!refused) {
        connection = connection_;
        return TJournalState::Readable;
    }
    if (refused->fault == platform::DatabaseFault::Unwritable) {
        // Without the index the writer shares: what the file holds now, this once.
        Close();
        std::optional<Database> asItStands = Database::OpenReadOnly(path_, true, failure);
        refused = asItStands ? asItStands->Transaction(read) : failure;
        if (!refused) return TJournalState::Readable;
    }
    error = refused->reason;
    return TJournalState::Unreadable;
}

TJournalView TJournalReader::Read(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs,
                                  const TJournalView* previous) {
    TJournalView view;
    view.span = span;
    view.layout = LayoutSpan(span, nowMs, utcOffsetMs);
    view.nowMs = nowMs;
    view.buckets.resize(view.layout.count);

    // Buckets the writer can no longer add to keep their figures, when read again through the
    // connection they came from; the others are read.
    std::vector<TJournalBucket> settled;
    const uint64_t settledThrough = previous != nullptr ? previous->connection : 0;
    if (settledThrough != 0 && previous->span == span && previous->nowMs <= nowMs) {
        const int64_t settledEnd = previous->nowMs - kLateWriteMs;
        for (int index = 0; index < view.layout.count &&
                            view.layout.BucketStart(index) + view.layout.bucketMs <= settledEnd;
             ++index) {
            const int old = previous->layout.BucketOf(view.layout.BucketStart(index));
            if (old < 0) break;
            settled.push_back(previous->buckets[old]);
        }
    }
    const auto read = [&](Database& db) {
        const bool keep = db_ && &db == &*db_ && connection_ == settledThrough;
        const int first = keep ? int(settled.size()) : 0;
        std::copy_n(settled.begin(), first, view.buckets.begin());
        ReadBuckets(db, view, first);
        view.outages = ReadOutages(db, view.layout);
    };
    view.state = ReadInOneTransaction(read, view.error, view.connection);
    if (view.state != TJournalState::Readable) {
        view.buckets.assign(view.layout.count, {});
        view.outages.clear();
    }
    return view;
}

std::vector<TJournalMinute> TJournalReader::Minutes(int64_t beginMs, int64_t endMs,
                                                    QString* error) {
    std::vector<TJournalMinute> rows;
    const auto read = [&](Database& db) {
        rows.clear();
        Statement select = db.Prepare(
            "SELECT minute_ms, host, probes, answered, rtt_min_ms, rtt_median_ms, rtt_max_ms "
            "FROM minutes WHERE minute_ms >= ?1 AND minute_ms < ?2 ORDER BY minute_ms, host");
        select.Bind(1, beginMs).Bind(2, endMs);
        while (select.Step()) {
            rows.push_back({select.Integer(0), select.Text(1), select.Integer(2), select.Integer(3),
                            select.OptionalReal(4), select.OptionalReal(5),
                            select.OptionalReal(6)});
        }
    };
    QString failure;
    uint64_t connection = 0;
    if (ReadInOneTransaction(read, failure, connection) != TJournalState::Readable) {
        if (error) *error = failure;
        return {};
    }
    return rows;
}

}  // namespace nodrel
