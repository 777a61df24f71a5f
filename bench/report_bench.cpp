// A report of a year's journal of a monitor probing every second (per-minute rows for 365 days,
// raw outcomes for the last three, 3,000 outages), made as the command line makes it:
//   BM_ReadReport/<span>   reading its figures, buckets and outages in one read transaction
//   BM_WriteReport/<span>  that, and drawing and writing the PDF
// for the last week (the command line's default) and the last year.
//   report_bench [benchmark options] [folder]
// The journal is written to <folder>/KAVREN/Nodrel.sqlite and kept there, for timing the command
// line on it (XDG_STATE_HOME=<folder> nodrel --report ...); without a folder, to one of its own.
// Runs on Qt's offscreen platform.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>

#include "journal_report.h"
#include "report_document.h"
#include "support/test_journal.h"

namespace {

using nodrel::TJournalSpan;

// Noon UTC on Friday 11 December 2026: the journal ends here.
constexpr int64_t kNowMs = 1'796'990'400'000;

QString journalPath;
QString reportPath;

nodrel::TJournalReport Read(TJournalSpan span) {
    nodrel::TJournalReader reader(journalPath);
    QString error;
    std::optional<nodrel::TJournalReport> report = nodrel::ReadJournalReport(
        reader, nodrel::SpanPeriod(span, kNowMs, 0), QString(), kNowMs, &error);
    if (!report) std::fprintf(stderr, "no report: %s\n", qPrintable(error));
    return report.value_or(nodrel::TJournalReport{});
}

void BM_ReadReport(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Read(TJournalSpan(state.range(0))));
}
BENCHMARK(BM_ReadReport)
    ->Arg(int(TJournalSpan::Week))
    ->Arg(int(TJournalSpan::Year))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void BM_WriteReport(benchmark::State& state) {
    for (auto _ : state) {
        QString error;
        if (!nodrel::WriteReportPdf(Read(TJournalSpan(state.range(0))), reportPath, &error)) {
            state.SkipWithError(qPrintable(error));
        }
    }
}
BENCHMARK(BM_WriteReport)
    ->Arg(int(TJournalSpan::Week))
    ->Arg(int(TJournalSpan::Year))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir scratch;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path();
    journalPath = folder + QStringLiteral("/KAVREN/Nodrel.sqlite");
    reportPath = QDir(scratch.path()).filePath(QStringLiteral("report.pdf"));
    QFile::remove(journalPath);
    if (!nodrel::testing::WriteYearJournal(journalPath, kNowMs)) {
        std::fprintf(stderr, "could not write the journal at %s\n", qPrintable(journalPath));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
