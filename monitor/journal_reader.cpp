#include "journal_reader.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <utility>

#include "sqlite_library.h"

namespace nodrel {

namespace {

// How far behind the newest outcome the writer may still add rows: it batches a minute's worth,
// so buckets ending before this margin are kept from the previous read.
constexpr int64_t kLateWriteMs = 5 * kMinuteMs;
// A read that meets the writer's checkpoint waits this long before it fails.
constexpr int kBusyTimeoutMs = 250;

using platform::SqliteLibrary;

class TStatement {
public:
    TStatement(const SqliteLibrary& sqlite, sqlite3* db, const char* sql) : sqlite_(sqlite) {
        if (sqlite_.prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            sqlite_.finalize(statement_);
            statement_ = nullptr;
        }
    }
    ~TStatement() { sqlite_.finalize(statement_); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    bool Prepared() const { return statement_ != nullptr; }
    void Bind(int index, int64_t value) { sqlite_.bind_int64(statement_, index, value); }
    // True while a row is there; Done() tells an end from a failure.
    bool Step() {
        result_ = sqlite_.step(statement_);
        return result_ == SQLITE_ROW;
    }
    bool Done() const { return result_ == SQLITE_DONE; }
    bool Null(int column) const { return sqlite_.column_type(statement_, column) == SQLITE_NULL; }
    int64_t Integer(int column) const { return sqlite_.column_int64(statement_, column); }
    std::optional<double> Real(int column) const {
        if (Null(column)) return std::nullopt;
        return sqlite_.column_double(statement_, column);
    }
    QString Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite_.column_text(statement_, column));
        return QString::fromUtf8(text, sqlite_.column_bytes(statement_, column));
    }

private:
    const SqliteLibrary& sqlite_;
    sqlite3_stmt* statement_ = nullptr;
    int result_ = SQLITE_OK;
};

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

}  // namespace

TJournalReader::TJournalReader(QString path) : path_(std::move(path)) {}

TJournalReader::~TJournalReader() {
    Close();
}

void TJournalReader::Close() {
    if (db_ != nullptr) sqlite_->close_v2(db_);
    db_ = nullptr;
    sqlite_.reset();
}

bool TJournalReader::Failed(QString* error) const {
    *error = Error();
    return false;
}

QString TJournalReader::Error() const {
    return QString::fromUtf8(sqlite_->errmsg(db_));
}

TJournalState TJournalReader::Connect(QString* error) {
    struct stat file {};
    if (::stat(QFile::encodeName(path_).constData(), &file) != 0) {
        Close();
        return TJournalState::Missing;
    }
    if (db_ != nullptr && file.st_dev == device_ && file.st_ino == inode_) {
        return TJournalState::Readable;
    }
    Close();
    sqlite_ = platform::LoadSqliteLibrary(error);
    if (!sqlite_) return TJournalState::Unreadable;
    // One connection used by one thread: no locking around every call.
    const int opened = sqlite_->open_v2(QFile::encodeName(path_).constData(), &db_,
                                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (opened != SQLITE_OK) {
        if (error) *error = db_ ? Error() : QString::fromUtf8(sqlite_->errstr(opened));
        Close();
        return TJournalState::Unreadable;
    }
    sqlite_->busy_timeout(db_, kBusyTimeoutMs);
    // A year's rows are read page by page: mapped, they are not copied out of the page cache.
    sqlite_->exec(db_, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
    device_ = file.st_dev;
    inode_ = file.st_ino;
    ++connection_;
    return TJournalState::Readable;
}

THistoryView TJournalReader::Read(THistorySpan span, int64_t nowMs, int64_t utcOffsetMs,
                                  const THistoryView* previous) {
    THistoryView view;
    view.span = span;
    view.layout = LayoutSpan(span, nowMs, utcOffsetMs);
    view.nowMs = nowMs;
    view.buckets.resize(view.layout.count);
    view.state = Connect(&view.error);
    if (view.state != TJournalState::Readable) return view;
    view.connection = connection_;

    int first = 0;
    if (previous != nullptr && previous->span == span && previous->connection == connection_ &&
        previous->state == TJournalState::Readable && previous->nowMs <= nowMs) {
        // Buckets the writer can no longer add to keep their figures.
        const int64_t settled = previous->nowMs - kLateWriteMs;
        while (first < view.layout.count &&
               view.layout.BucketStart(first) + view.layout.bucketMs <= settled) {
            const int old = previous->layout.BucketOf(view.layout.BucketStart(first));
            if (old < 0) break;
            view.buckets[first] = previous->buckets[old];
            ++first;
        }
    }
    if (!ReadBuckets(view, first, &view.error) || !ReadOutages(view, &view.error)) {
        view.state = TJournalState::Unreadable;
        view.buckets.assign(view.layout.count, {});
        view.outages.clear();
    }
    return view;
}

bool TJournalReader::ReadBuckets(THistoryView& view, int first, QString* error) {
    const TSpanLayout& layout = view.layout;
    if (first >= layout.count) return true;
    const int64_t from = layout.BucketStart(first);
    const int64_t to = layout.EndMs();

    // Raw outcomes where the span is fine enough to want them; elsewhere only those past the
    // newest per-minute row, which the writer has not folded yet.
    int64_t outcomesFrom = from;
    if (!layout.fromOutcomes) {
        TStatement newest(*sqlite_, db_, "SELECT MAX(minute_ms) FROM minutes");
        if (!newest.Prepared() || (!newest.Step() && !newest.Done())) return Failed(error);
        if (!newest.Null(0)) outcomesFrom = std::max(from, newest.Integer(0) + kMinuteMs);
    }

    std::vector<TBucketSums> sums(layout.count - first);
    // Minutes that raw outcomes cover; their per-minute rows would count them twice.
    std::vector<bool> covered((to - from + kMinuteMs - 1) / kMinuteMs, false);
    TStatement outcomes(*sqlite_, db_,
                        "SELECT time_ms, answered, rtt_ms FROM outcomes "
                        "WHERE time_ms >= ?1 AND time_ms < ?2");
    if (!outcomes.Prepared()) return Failed(error);
    outcomes.Bind(1, outcomesFrom);
    outcomes.Bind(2, to);
    while (outcomes.Step()) {
        const int64_t time = outcomes.Integer(0);
        TBucketSums& bucket = sums[layout.BucketOf(time) - first];
        ++bucket.probes;
        if (outcomes.Integer(1) != 0) {
            ++bucket.answered;
            if (const std::optional<double> rtt = outcomes.Real(2)) bucket.rtts.push_back(*rtt);
        }
        covered[(time - from) / kMinuteMs] = true;
    }
    if (!outcomes.Done()) return Failed(error);

    TStatement minutes(*sqlite_, db_,
                       "SELECT minute_ms, probes, answered, rtt_median_ms FROM minutes NOT INDEXED "
                       "WHERE minute_ms >= ?1 AND minute_ms < ?2");
    if (!minutes.Prepared()) return Failed(error);
    minutes.Bind(1, from);
    minutes.Bind(2, to);
    while (minutes.Step()) {
        const int64_t minute = minutes.Integer(0);
        if (covered[(minute - from) / kMinuteMs]) continue;
        TBucketSums& bucket = sums[layout.BucketOf(minute) - first];
        // An edited file may hold anything: no count below zero, no more answers than probes.
        const int64_t probes = std::max<int64_t>(0, minutes.Integer(1));
        bucket.probes += probes;
        bucket.answered += std::clamp<int64_t>(minutes.Integer(2), 0, probes);
        if (const std::optional<double> median = minutes.Real(3)) bucket.rtts.push_back(*median);
    }
    if (!minutes.Done()) return Failed(error);

    for (size_t i = 0; i < sums.size(); ++i) {
        THistoryBucket& bucket = view.buckets[first + i];
        bucket.probes = sums[i].probes;
        bucket.answered = sums[i].answered;
        bucket.medianRttMs = Median(sums[i].rtts);
    }
    return true;
}

bool TJournalReader::ReadOutages(THistoryView& view, QString* error) {
    TStatement outages(*sqlite_, db_,
                       "SELECT started_ms, ended_ms, failures, reason, host, address FROM outages "
                       "WHERE started_ms < ?2 AND (ended_ms IS NULL OR ended_ms > ?1) "
                       "ORDER BY started_ms DESC");
    if (!outages.Prepared()) return Failed(error);
    outages.Bind(1, view.layout.beginMs);
    outages.Bind(2, view.layout.EndMs());
    while (outages.Step()) {
        TJournalOutage outage;
        outage.StartedMs = outages.Integer(0);
        if (!outages.Null(1)) outage.EndedMs = outages.Integer(1);
        outage.Failures = outages.Integer(2);
        outage.Reason = outages.Text(3);
        outage.Host = outages.Text(4);
        outage.Address = outages.Text(5);
        view.outages.push_back(std::move(outage));
    }
    if (!outages.Done()) return Failed(error);
    return true;
}

std::vector<TJournalMinute> TJournalReader::Minutes(int64_t beginMs, int64_t endMs,
                                                    QString* error) {
    QString failure;
    if (Connect(&failure) != TJournalState::Readable) {
        if (error) *error = failure;
        return {};
    }
    std::vector<TJournalMinute> rows;
    TStatement minutes(*sqlite_, db_,
                       "SELECT minute_ms, host, probes, answered, rtt_min_ms, rtt_median_ms, "
                       "rtt_max_ms FROM minutes WHERE minute_ms >= ?1 AND minute_ms < ?2 "
                       "ORDER BY minute_ms, host");
    if (minutes.Prepared()) {
        minutes.Bind(1, beginMs);
        minutes.Bind(2, endMs);
        while (minutes.Step()) {
            rows.push_back({minutes.Integer(0), minutes.Text(1), minutes.Integer(2),
                            minutes.Integer(3), minutes.Real(4), minutes.Real(5), minutes.Real(6)});
        }
    }
    if (!minutes.Prepared() || !minutes.Done()) {
        if (error) *error = Error();
        return {};
    }
    return rows;
}

}  // namespace nodrel
