#pragma once

// Journals for tests and benchmarks: rows the caller gives, written through the journal's own
// database layer into the journal's own tables.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "journal_reader.h"

namespace nodrel::testing {

// Friday 11 December 2026, 12:00:00 UTC, in milliseconds: the day the journal tests' rows fall on.
inline constexpr int64_t kNoon = 1'796'990'400'000;

// A time of that day.
constexpr int64_t At(int hour, int minute, int second = 0) {
    return kNoon + ((hour - 12) * 3600 + minute * 60 + second) * 1000LL;
}

class TestJournal {
public:
    // The journal at `path`, made with the journal's tables when missing.
    explicit TestJournal(QString path) : path_(std::move(path)) {}

    // Rows wait for Commit.
    void Minute(int64_t minuteMs, int64_t probes, int64_t answered, std::optional<double> medianMs,
                const char* host = "127.0.0.1");
    void Outcome(int64_t timeMs, bool answered, std::optional<double> rttMs,
                 const char* host = "127.0.0.1");
    void Outage(int64_t startedMs, std::optional<int64_t> endedMs, int32_t failures,
                const char* reason, const char* host = "127.0.0.1",
                const char* address = "127.0.0.1", const char* cause = "",
                const char* gateway = "");
    // Writes the rows given since the last Commit in one transaction; false when it could not.
    bool Commit();

private:
    struct TOutcome {
        int64_t timeMs;
        QString host;
        std::optional<double> rttMs;  // none when not answered
    };

    QString path_;
    std::vector<TJournalMinute> minutes_;
    std::vector<TOutcome> outcomes_;
    std::vector<TJournalOutage> outages_;
};

// A year's journal of a monitor probing every second up to `nowMs`: per-minute rows for 365
// days, raw outcomes for the last three, 3,000 outages; false when it could not be written.
bool WriteYearJournal(const QString& path, int64_t nowMs);

}  // namespace nodrel::testing
