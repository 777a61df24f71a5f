// The journal's file after a simulated year and more of probes at a one-second interval: one
// batch a minute through the journal's own writing, with round trips of a real line, a probe
// lost now and then and an outage of a few minutes every day. Prints the file's size after 365
// days and at the end (by then the oldest minutes are being dropped: the size the file keeps).
//   journal_bench [days (370)] [folder (a new one in /dev/shm, else in /tmp)]
// The file is closed before each measurement, as the writer closes it after each batch, so the
// write-ahead log has been folded into it.

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>

#include "database.h"
#include "journal_tables.h"

namespace {

using nodrel::kMinuteMs;
using nodrel::platform::Database;

std::optional<Database> OpenJournal(const QString& path) {
    nodrel::platform::DatabaseFailure failure;
    QString setAside;
    std::optional<Database> db =
        Database::Open(path, nodrel::kJournalSchema, false, failure, setAside);
    if (!db)
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(failure.reason));
    return db;
}

double Megabytes(const QString& path) {
    return double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) /
           (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    const int days = argc > 1 ? std::atoi(argv[1]) : 370;
    QTemporaryDir scratch(QDir::isAbsolutePath(QStringLiteral("/dev/shm")) &&
                                  QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                              ? QStringLiteral("/dev/shm/journal_bench-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/journal_bench-XXXXXX"));
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : scratch.path();
    const QString path = folder + QStringLiteral("/Nodrel.sqlite");
    QFile::remove(path);

    std::mt19937 random(20261208);
    std::gamma_distribution<double> jitter(2.0, 4.0);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> minuteOfDay(0, 24 * 60 - 10);

    const int64_t start = 1'767'225'600'000;  // 2026-01-01 00:00 UTC
    const QString host = QStringLiteral("dns.google");
    const QString reason = QStringLiteral("no reply within 1 s");
    std::optional<Database> db = OpenJournal(path);
    if (!db) return 1;
    const auto began = std::chrono::steady_clock::now();
    int outageMinute = minuteOfDay(random);
    for (int64_t minute = 0; minute < int64_t{days} * 24 * 60; ++minute) {
        const int64_t minuteMs = start + minute * kMinuteMs;
        const int64_t ofDay = minute % (24 * 60);
        if (ofDay == 0) outageMinute = minuteOfDay(random);
        const bool inOutage = ofDay >= outageMinute && ofDay < outageMinute + 3;
        nodrel::TJournalBatch batch;
        for (int second = 0; second < 60; ++second) {
            nodrel::TJournalOutcome outcome;
            outcome.TimeMs = minuteMs + second * 1000 + 3;
            outcome.Host = host;
            outcome.Answered = !inOutage && percent(random) != 0;
            outcome.RttMs = outcome.Answered ? uint32_t(11 + jitter(random)) : 0;
            outcome.Status = outcome.Answered ? 0 : 11010;
            batch.Outcomes.push_back(outcome);
        }
        if (ofDay == outageMinute || ofDay == outageMinute + 3) {
            const int64_t startedMs = start + (minute - ofDay + outageMinute) * kMinuteMs + 3;
            nodrel::TJournalOutage outage{startedMs, std::nullopt, 2,  reason,
                                          host,      "8.8.8.8",    "", ""};
            if (ofDay != outageMinute) {
                outage.EndedMs = minuteMs + 3;
                outage.Failures = 180;
            }
            batch.Outages.push_back(outage);
        }
        const int64_t nowMs = minuteMs + kMinuteMs + 2000;
        if (const auto failure = db->Transaction(
                [&](Database& open) { nodrel::WriteJournalBatch(open, batch, nowMs); })) {
            std::fprintf(stderr, "a batch failed: %s\n", qPrintable(failure->reason));
            return 1;
        }
        const bool yearDone = minute + 1 == int64_t{365} * 24 * 60;
        if (yearDone || minute + 1 == int64_t{days} * 24 * 60) {
            db.reset();
            std::printf("after %lld days: %.2f MB (%s)\n",
                        static_cast<long long>((minute + 1) / 1440), Megabytes(path),
                        qPrintable(path));
            std::fflush(stdout);
            std::optional<Database> reopened = OpenJournal(path);
            if (!reopened) return 1;
            db.emplace(std::move(*reopened));
        }
    }
    db.reset();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%d days of minutes in %.0f s (%.0f us a batch)\n", days, seconds,
                seconds * 1e6 / (double(days) * 1440));
    return 0;
}
