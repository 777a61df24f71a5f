#pragma once

// Reads the journal for the History window through a read-only connection of its own: a span's
// buckets of loss share and median round trip, its outages, its per-minute rows. Never writes;
// a missing, replaced or unreadable file is a state to show, not a failure to stop on.

#include <sys/types.h>

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "history_span.h"
#include "journal.h"
#include "journal_tables.h"

struct sqlite3;

namespace nodrel {

namespace platform {
struct SqliteLibrary;
}

struct THistoryBucket {
    int64_t probes = 0;
    int64_t answered = 0;
    // The median of the answered probes' round trips; over per-minute rows, of their medians.
    std::optional<double> medianRttMs;

    // No probe ran: the monitor was not running, which is no loss.
    bool Gap() const { return probes == 0; }
    double LossShare() const { return probes == 0 ? 0.0 : double(probes - answered) / probes; }
    bool operator==(const THistoryBucket&) const = default;
};

struct TJournalMinute {
    int64_t minuteMs = 0;
    QString host;
    int64_t probes = 0;
    int64_t answered = 0;
    std::optional<double> rttMinMs;
    std::optional<double> rttMedianMs;
    std::optional<double> rttMaxMs;
    bool operator==(const TJournalMinute&) const = default;
};

enum class TJournalState { Missing, Readable, Unreadable };

// The writer writes each minute's outcomes a few seconds after its end, or with the next minute's
// when that batch had to be skipped: what ended less than this ago may not be in the file yet.
inline constexpr int64_t kJournalWriteLagMs = 70'000;

struct THistoryView {
    THistorySpan span = THistorySpan::Day;
    TSpanLayout layout;
    int64_t nowMs = 0;
    std::vector<THistoryBucket> buckets;  // layout.count of them, oldest first
    std::vector<TJournalOutage> outages;  // those overlapping the span, newest first
    TJournalState state = TJournalState::Missing;
    QString error;            // why an unreadable journal could not be read
    uint64_t connection = 0;  // which opening of the file it was read through

    // Whether the bucket is empty only because the writer has not written it yet, which is no
    // gap.
    bool Unwritten(int index) const {
        return buckets[index].Gap() && layout.BucketStart(index + 1) > nowMs - kJournalWriteLagMs;
    }
};

class TJournalReader {
public:
    explicit TJournalReader(QString path = JournalFilePath());
    ~TJournalReader();
    TJournalReader(const TJournalReader&) = delete;
    TJournalReader& operator=(const TJournalReader&) = delete;

    const QString& Path() const { return path_; }

    // Reads the span ending with the bucket that holds `nowMs`. Given the view read before of the
    // same span, only the buckets the journal may have written since are read again.
    THistoryView Read(THistorySpan span, int64_t nowMs, int64_t utcOffsetMs,
                      const THistoryView* previous = nullptr);

    // The per-minute rows from `beginMs` up to `endMs`, oldest first; nothing and `error` set
    // when the journal cannot be read.
    std::vector<TJournalMinute> Minutes(int64_t beginMs, int64_t endMs, QString* error = nullptr);

    // Lets go of the file and of SQLite until the next read.
    void Close();

private:
    // Opens the file again when it is not the one the connection reads (set aside and started
    // anew by the writer, or made since).
    TJournalState Connect(QString* error);
    // SQLite's message for the connection's last failure.
    QString Error() const;
    // Sets `error` to the database's message; false, for the read that failed.
    bool Failed(QString* error) const;
    // Fills buckets [first, count) of `view` from the journal; false with `error` on a failed
    // query.
    bool ReadBuckets(THistoryView& view, int first, QString* error);
    bool ReadOutages(THistoryView& view, QString* error);

    QString path_;
    std::shared_ptr<const platform::SqliteLibrary> sqlite_;
    sqlite3* db_ = nullptr;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    uint64_t connection_ = 0;
};

}  // namespace nodrel
