#include "journal_tables.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>

namespace nodrel {

namespace {

// minutes and outcomes have no rowid: their key is their order, which keeps a year of rows small
// and serves the writer's folds and retention as well as readers' spans.
constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS outages(started_ms INTEGER NOT NULL, ended_ms INTEGER,
    failures INTEGER NOT NULL, reason TEXT NOT NULL, host TEXT NOT NULL, address TEXT NOT NULL,
    cause TEXT NOT NULL DEFAULT '', gateway TEXT NOT NULL DEFAULT '');
CREATE UNIQUE INDEX IF NOT EXISTS outages_by_start ON outages(started_ms, host);
CREATE TABLE IF NOT EXISTS minutes(minute_ms INTEGER NOT NULL, host TEXT NOT NULL,
    probes INTEGER NOT NULL, answered INTEGER NOT NULL, rtt_min_ms REAL, rtt_median_ms REAL,
    rtt_max_ms REAL, PRIMARY KEY(minute_ms, host)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS outcomes(time_ms INTEGER NOT NULL, host TEXT NOT NULL,
    answered INTEGER NOT NULL, rtt_ms REAL, status INTEGER NOT NULL,
    name_not_found INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(time_ms, host)) WITHOUT ROWID;
)sql";

// Version 0 had no version number, and outages without where they failed.
void SetUpTables(platform::Database& db, int from) {
    const bool earlierOutages =
        from < 1 && db.Prepare(
                          "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                          "name = 'outages'")
                        .Step();
    if (earlierOutages) {
        db.Execute(
            "ALTER TABLE outages ADD COLUMN cause TEXT NOT NULL DEFAULT '';"
            "ALTER TABLE outages ADD COLUMN gateway TEXT NOT NULL DEFAULT ''");
    }
    db.Execute(kTables);
}

}  // namespace

const platform::DatabaseSchema kJournalSchema{1, &SetUpTables};

namespace {

// The first minute whose raw outcomes are kept: older ones go, whole minutes at a time.
int64_t RawCutoff(int64_t nowMs) {
    return MinuteStart(nowMs - kRawOutcomeDays * kDayMs);
}

struct TMinuteFigures {
    int64_t Probes = 0;
    int64_t Answered = 0;
    std::vector<double> Rtts;

    void Add(bool answered, double rtt) {
        ++Probes;
        if (!answered) return;
        ++Answered;
        Rtts.push_back(rtt);
    }
};

// Binds the figures as the minute's ?3 to ?7.
void BindFigures(platform::Statement& statement, TMinuteFigures& figures) {
    statement.Bind(3, figures.Probes).Bind(4, figures.Answered);
    std::vector<double>& rtts = figures.Rtts;
    if (rtts.empty()) {
        statement.BindNull(5).BindNull(6).BindNull(7);
        return;
    }
    std::sort(rtts.begin(), rtts.end());
    const size_t middle = rtts.size() / 2;
    const double median = rtts.size() % 2 ? rtts[middle] : (rtts[middle - 1] + rtts[middle]) / 2;
    statement.Bind(5, rtts.front()).Bind(6, median).Bind(7, rtts.back());
}

// A minute with its raw outcomes is folded from them rather than added up, so a minute written
// in two batches (an outage's start falls in it) comes out whole, median included. A minute
// whose raw outcomes are gone (records kept through a long pause, a clock set back) gets the
// new ones added to its counts and extremes; the median it had stands.
void StoreOutcomes(platform::Database& db, const std::vector<TJournalOutcome>& outcomes,
                   int64_t nowMs) {
    const int64_t cutoff = RawCutoff(nowMs);
    platform::Statement insert = db.Prepare(
        "INSERT OR REPLACE INTO outcomes(time_ms, host, answered, rtt_ms, status, name_not_found) "
        "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
    std::set<std::pair<int64_t, QString>> touched;
    std::map<std::pair<int64_t, QString>, TMinuteFigures> late;
    for (const TJournalOutcome& outcome : outcomes) {
        const int64_t minute = MinuteStart(outcome.TimeMs);
        const double rtt = std::round(outcome.RttMs * 100) / 100;
        if (minute < cutoff) {
            late[{minute, outcome.Host}].Add(outcome.Answered, rtt);
            continue;
        }
        insert.Bind(1, outcome.TimeMs).Bind(2, outcome.Host).Bind(3, int64_t{outcome.Answered});
        if (outcome.Answered) {
            insert.Bind(4, rtt);
        } else {
            insert.BindNull(4);
        }
        insert.Bind(5, int64_t{outcome.Status}).Bind(6, int64_t{outcome.NameNotFound});
        insert.Run();
        touched.emplace(minute, outcome.Host);
    }

    platform::Statement select = db.Prepare(
        "SELECT answered, rtt_ms FROM outcomes WHERE time_ms >= ?1 AND time_ms < ?2 AND host = ?3");
    platform::Statement replace =
        db.Prepare("INSERT OR REPLACE INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    for (const auto& [minute, host] : touched) {
        TMinuteFigures figures;
        select.Bind(1, minute).Bind(2, minute + kMinuteMs).Bind(3, host);
        while (select.Step()) figures.Add(select.Integer(0) != 0, select.Real(1));
        replace.Bind(1, minute).Bind(2, host);
        BindFigures(replace, figures);
        replace.Run();
    }

    platform::Statement add = db.Prepare(
        "INSERT INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT(minute_ms, host) DO "
        "UPDATE SET probes = probes + excluded.probes, answered = answered + excluded.answered, "
        "rtt_min_ms = min(coalesce(rtt_min_ms, excluded.rtt_min_ms), "
        "coalesce(excluded.rtt_min_ms, rtt_min_ms)), "
        "rtt_median_ms = coalesce(rtt_median_ms, excluded.rtt_median_ms), "
        "rtt_max_ms = max(coalesce(rtt_max_ms, excluded.rtt_max_ms), "
        "coalesce(excluded.rtt_max_ms, rtt_max_ms))");
    for (auto& [key, figures] : late) {
        add.Bind(1, key.first).Bind(2, key.second);
        BindFigures(add, figures);
        add.Run();
    }
}

void DropExpired(platform::Database& db, int64_t nowMs) {
    db.Prepare("DELETE FROM outcomes WHERE time_ms < ?1").Bind(1, RawCutoff(nowMs)).Run();
    db.Prepare("DELETE FROM minutes WHERE minute_ms < ?1")
        .Bind(1, nowMs - kMinuteDays * kDayMs)
        .Run();
}

}  // namespace

int64_t MinuteStart(int64_t timeMs) {
    const int64_t within = timeMs % kMinuteMs;
    return timeMs - (within < 0 ? within + kMinuteMs : within);
}

void StoreOutages(platform::Database& db, const std::vector<TJournalOutage>& outages) {
    platform::Statement upsert = db.Prepare(
        "INSERT INTO outages(started_ms, ended_ms, failures, reason, host, address, cause, "
        "gateway) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(started_ms, host) DO UPDATE "
        "SET ended_ms = excluded.ended_ms, failures = excluded.failures, "
        "reason = excluded.reason, address = excluded.address, cause = excluded.cause, "
        "gateway = excluded.gateway");
    for (const TJournalOutage& outage : outages) {
        upsert.Bind(1, outage.StartedMs);
        if (outage.EndedMs) {
            upsert.Bind(2, *outage.EndedMs);
        } else {
            upsert.BindNull(2);
        }
        upsert.Bind(3, int64_t{outage.Failures}).Bind(4, outage.Reason).Bind(5, outage.Host);
        upsert.Bind(6, outage.Address).Bind(7, outage.Cause).Bind(8, outage.Gateway).Run();
    }
}

void WriteJournalBatch(platform::Database& db, const TJournalBatch& batch, int64_t nowMs) {
    StoreOutcomes(db, batch.Outcomes, nowMs);
    StoreOutages(db, batch.Outages);
    DropExpired(db, nowMs);
}

void EndOutagesLeftOpen(platform::Database& db) {
    db.Execute(
        "UPDATE outages SET ended_ms = coalesce((SELECT max(time_ms) FROM outcomes "
        "WHERE outcomes.host = outages.host AND time_ms >= outages.started_ms), started_ms) "
        "WHERE ended_ms IS NULL");
}

}  // namespace nodrel
