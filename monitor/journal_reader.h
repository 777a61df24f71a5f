#pragma once

// Reads the journal for the Journal window through a read-only connection of its own: a span's
// buckets of loss share and median round trip, its outages, its per-minute rows. Never writes;
// a missing, replaced or unreadable file is a state to show, not a failure to stop on. One reader
// is used by one thread at a time.

#include <sys/types.h>

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "database.h"
#include "journal.h"
#include "journal_span.h"
#include "journal_tables.h"

namespace nodrel {

struct TJournalBucket {
    int64_t probes = 0;
    int64_t answered = 0;
    // The median of the answered probes' round trips; over per-minute rows, of their medians.
    std::optional<double> medianRttMs;

    // No probe ran: the monitor was not running, which is no loss.
    bool Gap() const { return probes == 0; }
    double LossShare() const { return probes == 0 ? 0.0 : double(probes - answered) / probes; }
    bool operator==(const TJournalBucket&) const = default;
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

struct TJournalView {
    TJournalSpan span = TJournalSpan::Day;
    TSpanLayout layout;
    int64_t nowMs = 0;
    std::vector<TJournalBucket> buckets;  // layout.count of them, oldest first
    std::vector<TJournalOutage> outages;  // those overlapping the span, newest first
    TJournalState state = TJournalState::Missing;
    QString error;            // why an unreadable journal could not be read
    uint64_t connection = 0;  // which opening of the file it was read through; 0 for none kept

    // Whether the bucket is empty only because the writer has not written it yet, which is no
    // gap.
    bool Unwritten(int index) const {
        return buckets[index].Gap() && layout.BucketStart(index + 1) > nowMs - kJournalWriteLagMs;
    }
};

class TJournalReader {
public:
    explicit TJournalReader(QString path = JournalFilePath());

    const QString& Path() const { return path_; }

    // Reads the span ending with the bucket that holds `nowMs`, in one read transaction. Given
    // the view read before of the same span, only the buckets the journal may have written since
    // are read again.
    TJournalView Read(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs,
                      const TJournalView* previous = nullptr);

    // The per-minute rows from `beginMs` up to `endMs`, oldest first; nothing and `error` set
    // when the journal cannot be read.
    std::vector<TJournalMinute> Minutes(int64_t beginMs, int64_t endMs, QString* error = nullptr);

    // Lets go of the file and of SQLite until the next read.
    void Close();

private:
    // Runs `read` in one read transaction on the connection kept for the file, opening the file
    // again when it is not the one the connection reads (set aside and started anew by the
    // writer, or made since). Where SQLite cannot share the file with the writer (a read-only
    // folder, a full disk), `read` runs once more on a connection that reads the file as it
    // stands, given up at once. `read` may run twice and must start from nothing each time.
    // `connection` is the opening it was read through, 0 for one given up.
    TJournalState ReadInOneTransaction(const std::function<void(platform::Database&)>& read,
                                       QString& error, uint64_t& connection);

    QString path_;
    std::optional<platform::Database> db_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    uint64_t connection_ = 0;
};

}  // namespace nodrel
