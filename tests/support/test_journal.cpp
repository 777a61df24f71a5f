#include "support/test_journal.h"

#include <random>

namespace nodrel::testing {

namespace {

void BindOptional(platform::Statement& statement, int index, std::optional<double> value) {
    if (value) {
        statement.Bind(index, *value);
    } else {
        statement.BindNull(index);
    }
}

}  // namespace

void TestJournal::Minute(int64_t minuteMs, int64_t probes, int64_t answered,
                         std::optional<double> medianMs, const char* host) {
    minutes_.push_back({minuteMs, host, probes, answered, medianMs, medianMs, medianMs});
}

void TestJournal::Outcome(int64_t timeMs, bool answered, std::optional<double> rttMs,
                          const char* host) {
    outcomes_.push_back({timeMs, host, answered ? rttMs.value_or(0) : std::optional<double>()});
}

void TestJournal::Outage(int64_t startedMs, std::optional<int64_t> endedMs, int32_t failures,
                         const char* reason, const char* host, const char* address,
                         const char* cause, const char* gateway) {
    outages_.push_back({startedMs, endedMs, failures, reason, host, address, cause, gateway});
}

bool TestJournal::Commit() {
    platform::DatabaseFailure failure;
    QString setAsideAs;
    std::optional<platform::Database> db =
        platform::Database::Open(path_, kJournalSchema, false, failure, setAsideAs);
    if (!db) return false;
    const bool written = !db->Transaction([this](platform::Database& open) {
        platform::Statement minute =
            open.Prepare("INSERT INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?5)");
        for (const TJournalMinute& row : minutes_) {
            minute.Bind(1, row.minuteMs).Bind(2, row.host).Bind(3, row.probes);
            minute.Bind(4, row.answered);
            BindOptional(minute, 5, row.rttMedianMs);
            minute.Run();
        }
        platform::Statement outcome = open.Prepare(
            "INSERT INTO outcomes(time_ms, host, answered, rtt_ms, status) "
            "VALUES(?1, ?2, ?3, ?4, ?5)");
        for (const TOutcome& row : outcomes_) {
            const bool answered = row.rttMs.has_value();
            outcome.Bind(1, row.timeMs).Bind(2, row.host).Bind(3, int64_t{answered});
            BindOptional(outcome, 4, row.rttMs);
            outcome.Bind(5, int64_t{answered ? 0 : 11010}).Run();
        }
        StoreOutages(open, outages_);
    });
    minutes_.clear();
    outcomes_.clear();
    outages_.clear();
    return written;
}

bool WriteYearJournal(const QString& path, int64_t nowMs) {
    TestJournal journal(path);
    std::mt19937 random(31);
    std::uniform_real_distribution<double> rtt(8.0, 40.0);
    std::uniform_int_distribution<int> lost(0, 50);
    const int64_t yearStart = (nowMs - 365 * kDayMs) / kMinuteMs * kMinuteMs;
    for (int64_t minute = yearStart; minute < nowMs - kMinuteMs; minute += kMinuteMs) {
        const int answered = 60 - std::max(0, lost(random) - 47);
        journal.Minute(minute, 60, answered, rtt(random));
    }
    for (int64_t time = nowMs - 3 * kDayMs; time < nowMs - kMinuteMs; time += 1000) {
        const bool answered = lost(random) != 0;
        journal.Outcome(time, answered, answered ? std::optional(rtt(random)) : std::nullopt);
    }
    for (int i = 0; i < 3000; ++i) {
        const int64_t start = yearStart + i * (365 * kDayMs / 3000);
        journal.Outage(start, start + 2000 + (i % 120) * 1000, 2 + i % 120, "Request timed out");
    }
    return journal.Commit();
}

}  // namespace nodrel::testing
