#pragma once

// Journals for tests and benchmarks: a database with the journal's tables, filled with rows the
// caller gives, through a connection of its own.

#include <QString>
#include <cstdint>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace nodrel::testing {

// Friday 11 December 2026, 12:00:00 UTC, in milliseconds: the day the journal tests' rows fall on.
inline constexpr int64_t kNoon = 1'796'990'400'000;

// A time of that day.
constexpr int64_t At(int hour, int minute, int second = 0) {
    return kNoon + ((hour - 12) * 3600 + minute * 60 + second) * 1000LL;
}

class TestJournal {
public:
    // The tables as the schema names them, or as the writer makes them: minutes and outcomes
    // without rowids, keyed by time and host, one row per outage.
    enum class Layout { Base, Indexed };

    // Creates `path` with the journal's tables, in WAL mode; Ok() false when it could not.
    explicit TestJournal(const QString& path, Layout layout = Layout::Base);
    ~TestJournal();
    TestJournal(const TestJournal&) = delete;
    TestJournal& operator=(const TestJournal&) = delete;

    bool Ok() const { return ok_; }
    // Rows added between Begin and Commit reach the file in one transaction.
    void Begin();
    void Commit();
    void Minute(int64_t minuteMs, int64_t probes, int64_t answered, std::optional<double> medianMs,
                const char* host = "127.0.0.1");
    void Outcome(int64_t timeMs, bool answered, std::optional<double> rttMs,
                 const char* host = "127.0.0.1");
    void Outage(int64_t startedMs, std::optional<int64_t> endedMs, int64_t failures,
                const char* reason, const char* host = "127.0.0.1",
                const char* address = "127.0.0.1");

private:
    void Run(sqlite3_stmt* statement);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* minute_ = nullptr;
    sqlite3_stmt* outcome_ = nullptr;
    sqlite3_stmt* outage_ = nullptr;
    bool ok_ = false;
};

}  // namespace nodrel::testing
