#include "support/test_journal.h"

#include <sqlite3.h>

#include <QFile>

namespace nodrel::testing {

namespace {

void BindOptional(sqlite3_stmt* statement, int index, std::optional<double> value) {
    if (value) {
        sqlite3_bind_double(statement, index, *value);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

}  // namespace

TestJournal::TestJournal(const QString& path, Layout layout) {
    if (sqlite3_open(QFile::encodeName(path).constData(), &db_) != SQLITE_OK) return;
    // The writer's own tables are keyed by time without rowids and keep one row per outage.
    const bool indexed = layout == Layout::Indexed;
    const QByteArray sql =
        QString::fromLatin1(
            "PRAGMA journal_mode=WAL;"
            "CREATE TABLE outages(started_ms INTEGER NOT NULL, ended_ms INTEGER, failures INTEGER "
            "NOT NULL, reason TEXT NOT NULL, host TEXT NOT NULL, address TEXT NOT NULL);%1"
            "CREATE TABLE minutes(minute_ms INTEGER NOT NULL, host TEXT NOT NULL, probes INTEGER "
            "NOT NULL, answered INTEGER NOT NULL, rtt_min_ms REAL, rtt_median_ms REAL, rtt_max_ms "
            "REAL, PRIMARY KEY(minute_ms, host))%2;"
            "CREATE TABLE outcomes(time_ms INTEGER NOT NULL, host TEXT NOT NULL, answered INTEGER "
            "NOT NULL, rtt_ms REAL, status INTEGER NOT NULL%3)%2;")
            .arg(indexed ? QStringLiteral("CREATE UNIQUE INDEX outages_by_start ON "
                                          "outages(started_ms, host);")
                         : QString(),
                 indexed ? QStringLiteral(" WITHOUT ROWID") : QString(),
                 indexed ? QStringLiteral(", name_not_found INTEGER NOT NULL DEFAULT 0, "
                                          "PRIMARY KEY(time_ms, host)")
                         : QString())
            .toUtf8();
    ok_ = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db_, "INSERT INTO minutes VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?5)", -1,
                             &minute_, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db_,
                             "INSERT INTO outcomes(time_ms, host, answered, rtt_ms, status) "
                             "VALUES(?1, ?2, ?3, ?4, ?5)",
                             -1, &outcome_, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db_, "INSERT INTO outages VALUES(?1, ?2, ?3, ?4, ?5, ?6)", -1,
                             &outage_, nullptr) == SQLITE_OK;
}

TestJournal::~TestJournal() {
    sqlite3_finalize(minute_);
    sqlite3_finalize(outcome_);
    sqlite3_finalize(outage_);
    sqlite3_close(db_);
}

void TestJournal::Begin() {
    sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
}

void TestJournal::Commit() {
    ok_ = ok_ && sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

void TestJournal::Run(sqlite3_stmt* statement) {
    ok_ = ok_ && sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_reset(statement);
}

void TestJournal::Minute(int64_t minuteMs, int64_t probes, int64_t answered,
                         std::optional<double> medianMs, const char* host) {
    sqlite3_bind_int64(minute_, 1, minuteMs);
    sqlite3_bind_text(minute_, 2, host, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(minute_, 3, probes);
    sqlite3_bind_int64(minute_, 4, answered);
    BindOptional(minute_, 5, medianMs);
    Run(minute_);
}

void TestJournal::Outcome(int64_t timeMs, bool answered, std::optional<double> rttMs,
                          const char* host) {
    sqlite3_bind_int64(outcome_, 1, timeMs);
    sqlite3_bind_text(outcome_, 2, host, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(outcome_, 3, answered ? 1 : 0);
    BindOptional(outcome_, 4, rttMs);
    sqlite3_bind_int(outcome_, 5, answered ? 0 : 11010);
    Run(outcome_);
}

void TestJournal::Outage(int64_t startedMs, std::optional<int64_t> endedMs, int64_t failures,
                         const char* reason, const char* host, const char* address) {
    sqlite3_bind_int64(outage_, 1, startedMs);
    if (endedMs) {
        sqlite3_bind_int64(outage_, 2, *endedMs);
    } else {
        sqlite3_bind_null(outage_, 2);
    }
    sqlite3_bind_int64(outage_, 3, failures);
    sqlite3_bind_text(outage_, 4, reason, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(outage_, 5, host, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(outage_, 6, address, -1, SQLITE_TRANSIENT);
    Run(outage_);
}

}  // namespace nodrel::testing
