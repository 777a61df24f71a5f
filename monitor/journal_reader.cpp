#include "journal_reader.h"

#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <utility>

#include "journal_buckets.h"

namespace nodrel {

namespace {

// How far behind the newest outcome the writer may still add rows: it batches a minute's worth,
// so buckets ending before this margin are kept from the previous read.
constexpr int64_t kLateWriteMs = 5 * kMinuteMs;

using platform::Database;
using platform::Statement;

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
        const TRowFilter everyHost{QString(), view.layout.EndMs()};
        ReadBuckets(db, view, first, everyHost);
        view.outages = ReadOutages(db, view.layout.beginMs, everyHost);
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
