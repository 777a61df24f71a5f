// The journal fed as the window feeds it, and its writer against a database another program
// keeps locked (sqlite3 holding a write transaction, as a user's query tool might); the database
// read with sqlite3.

#include "journal.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/shell_command.h"

namespace nodrel {
namespace {

using namespace std::chrono_literals;

using testing::Capture;
using testing::PollUntil;

// Outcomes before the journal starts wait for it; an outage's reason is what most of its
// failures had, not its first; an outage in progress when the program closes ends at the close.
TEST(JournalTest, OutagesGetTheirMostCommonFailureAndTheOneInProgressEndsAtTheClose) {
    if (Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/Nodrel.sqlite";
    // The last whole minute: its outcomes are kept raw and folded into their minute's row.
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const int64_t minute = now - now % 60'000 - 60'000;
    {
        TOutageWatch watch;
        TJournal journal(QString::fromStdString(path));
        QObject::connect(&watch, &TOutageWatch::Started, &journal, &TJournal::OutageStarted);
        QObject::connect(&watch, &TOutageWatch::Extended, &journal, &TJournal::OutageExtended);
        QObject::connect(&watch, &TOutageWatch::Ended, &journal, &TJournal::OutageEnded);
        const QString host = QStringLiteral("router.example");
        const auto outcome = [&](int64_t second, uint32_t status) {
            TOutcomeRecord record;
            record.StartTime = minute + second * 1000;
            record.Status = status;
            record.Milliseconds = status == 0 ? 12 : 1000;
            record.Address = platform::IpAddress::FromIpv4(htonl(0xC0A80001));  // 192.168.0.1
            journal.Add(status == 0, record, host);
            watch.Add(status == 0, record, host);
        };
        outcome(1, 0);
        outcome(2, 11010);  // no reply
        outcome(3, 11003);  // host unreachable, twice
        outcome(4, 11003);
        outcome(5, 0);
        journal.Start();
        outcome(6, 11010);
        outcome(7, 11010);
        watch.Interrupt(QDateTime::currentMSecsSinceEpoch());  // the program closes
    }
    const std::string sql = "sqlite3 -batch '" + path + "' ";
    const std::string since = " - " + std::to_string(minute);
    EXPECT_EQ(Capture(sql + "\"SELECT started_ms" + since + ", CASE WHEN ended_ms" + since +
                      " > 7000 THEN 'at the close' ELSE ended_ms" + since +
                      " END, failures, reason, host, address FROM outages ORDER BY started_ms\""),
              "2000|5000|3|host unreachable|router.example|192.168.0.1\n"
              "6000|at the close|2|no reply within 1 s|router.example|192.168.0.1\n");
    EXPECT_EQ(Capture(sql + "'SELECT minute_ms" + since + ", probes, answered, rtt_min_ms, " +
                      "rtt_median_ms, rtt_max_ms FROM minutes'"),
              "0|7|2|12.0|12.0|12.0\n");
    EXPECT_EQ(Capture(sql + "'SELECT count(*) FROM outcomes'"), "7\n");
}

TJournalOutage Outage(int64_t startedMs, std::optional<int64_t> endedMs) {
    return {startedMs,
            endedMs,
            2,
            QStringLiteral("no reply within 1 s"),
            QStringLiteral("127.0.0.1"),
            QStringLiteral("127.0.0.1"),
            {},
            {}};
}

// Two writes refused while the lock is held: said once, and nothing of either is lost; the first
// good write says the journal resumed.
TEST(JournalWriterTest, ALockedDatabaseIsToldOnceAndItsRecordsWaitForTheNextWrite) {
    if (Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/Nodrel.sqlite";
    const std::string sql = "sqlite3 -batch '" + path + "' ";
    std::mutex mutex;
    std::vector<TJournalNotice> notices;
    const auto told = [&] {
        const std::lock_guard lock(mutex);
        return notices;
    };
    TJournalWriter writer(QString::fromStdString(path), {}, [&](const TJournalNotice& notice) {
        const std::lock_guard lock(mutex);
        notices.push_back(notice);
    });
    ASSERT_TRUE(
        PollUntil([&] { return Capture(sql + "'SELECT count(*) FROM outages'") == "0\n"; }, 20s));

    FILE* holder = popen((sql + ">/dev/null 2>&1").c_str(), "w");
    ASSERT_NE(holder, nullptr);
    std::fputs(
        "BEGIN IMMEDIATE;\nINSERT INTO outages(started_ms, ended_ms, failures, reason, host, "
        "address) VALUES(1, 2, 2, 'other', 'h', 'a');\n",
        holder);
    std::fflush(holder);
    ASSERT_TRUE(PollUntil(
        [&] { return Capture(sql + "'BEGIN IMMEDIATE' 2>&1").find("locked") != std::string::npos; },
        20s));
    writer.Add(Outage(1000, std::nullopt), true);
    ASSERT_TRUE(PollUntil([&] { return told().size() == 1; }, 20s));
    writer.Add(Outage(5000, std::nullopt), true);
    std::this_thread::sleep_for(3s);  // the second try waits and fails as well
    std::fputs("COMMIT;\n", holder);
    pclose(holder);

    writer.Add(Outage(1000, 3000), true);
    EXPECT_TRUE(PollUntil(
        [&] {
            return Capture(sql +
                           "'SELECT started_ms, ended_ms FROM outages ORDER BY started_ms'") ==
                   "1|2\n1000|3000\n5000|\n";
        },
        20s))
        << Capture(sql + "'SELECT * FROM outages'");
    writer.Stop();
    ASSERT_EQ(told().size(), 2u);
    EXPECT_EQ(told()[0].Event, TJournalEvent::Locked);
    EXPECT_EQ(told()[0].Detail.toStdString(), "database is locked");
    EXPECT_EQ(told()[1].Event, TJournalEvent::Resumed);
}

// A journal the program wrote before its tables had a version keeps every row and gains where its
// outages failed; one of a newer version is left byte for byte as it is, and that is said.
TEST(JournalWriterTest, AnEarlierJournalIsBroughtUpToDateAndANewerOneLeftAsItIs) {
    if (Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
    QTemporaryDir folder;
    const std::string earlier = folder.path().toStdString() + "/earlier.sqlite";
    const std::string newer = folder.path().toStdString() + "/newer.sqlite";
    const std::string now = std::to_string(QDateTime::currentMSecsSinceEpoch());
    Capture("sqlite3 -batch '" + earlier +
            "' \"CREATE TABLE outages(started_ms INTEGER NOT NULL, ended_ms INTEGER, failures "
            "INTEGER NOT NULL, reason TEXT NOT NULL, host TEXT NOT NULL, address TEXT NOT NULL); "
            "CREATE UNIQUE INDEX outages_by_start ON outages(started_ms, host); "
            "CREATE TABLE outcomes(time_ms INTEGER NOT NULL, host TEXT NOT NULL, answered INTEGER "
            "NOT NULL, rtt_ms REAL, status INTEGER NOT NULL, name_not_found INTEGER NOT NULL "
            "DEFAULT 0, PRIMARY KEY(time_ms, host)) WITHOUT ROWID; "
            "INSERT INTO outages VALUES(1000, 5000, 4, 'no reply within 1 s', 'h', '192.0.2.1'); "
            "INSERT INTO outcomes VALUES(" +
            now + ", 'h', 1, 0.42, 0, 0)\"");
    Capture("sqlite3 -batch '" + newer + "' 'CREATE TABLE later(x); PRAGMA user_version = 2'");
    const std::string newerBytes = Capture("od -An -tx1 '" + newer + "'");

    std::mutex mutex;
    std::vector<TJournalNotice> notices;
    for (const std::string& path : {earlier, newer}) {
        TJournalWriter(QString::fromStdString(path), {}, [&](const TJournalNotice& notice) {
            const std::lock_guard lock(mutex);
            notices.push_back(notice);
        }).Stop();
    }
    EXPECT_EQ(Capture("sqlite3 -batch '" + earlier +
                      "' 'PRAGMA user_version; SELECT * FROM outages; SELECT time_ms, rtt_ms "
                      "FROM outcomes'"),
              "1\n1000|5000|4|no reply within 1 s|h|192.0.2.1||\n" + now + "|0.42\n");
    EXPECT_EQ(Capture("od -An -tx1 '" + newer + "'"), newerBytes);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].Event, TJournalEvent::Newer);
}

}  // namespace
}  // namespace nodrel
