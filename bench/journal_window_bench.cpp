// The Journal window opened on a year's journal of a monitor probing every second: per-minute
// rows for 365 days, raw outcomes for the last three, 3,000 outages, in the writer's tables.
//   BM_OpenToFirstPaint/<span>  from making the window to its plot's first paint of the span read
//                               (and, on an X display, its pixels on the server), for the hour,
//                               day and year
//   BM_LiveUpdate/<span>        one update of the shown window ten seconds later, to the repaint
//                               of what it read
//   BM_ReadSpan/<span>          the journal's part of it: reading the span, no window
//   BM_BareWindowFirstPaint     the floor: a bare window of the same size, made, shown, painted;
//                               the last lines print each opening's times over the floor's
// Needs a display (xcb, e.g. under Xvfb) or QT_QPA_PLATFORM=offscreen.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

#include "journal_plot.h"
#include "journal_window.h"
#include "support/paint_counter.h"
#include "support/test_journal.h"

namespace {

using nodrel::TJournalSpan;
using nodrel::TJournalWindow;
using nodrel::testing::PaintCounter;

constexpr int64_t kMinuteMs = 60'000;
constexpr int64_t kDayMs = 24 * 60 * kMinuteMs;
// Noon UTC on Friday 11 December 2026: the journal ends here.
constexpr int64_t kNowMs = 1'796'990'400'000;

QString journalPath;

void SyncWithServer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) return;
    xcb_connection_t* connection = x11->connection();
    // The offscreen platform answers with no connection.
    if (connection == nullptr) return;
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

bool MakeYearJournal(const QString& path) {
    nodrel::testing::TestJournal journal(path);
    std::mt19937 random(31);
    std::uniform_real_distribution<double> rtt(8.0, 40.0);
    std::uniform_int_distribution<int> lost(0, 50);
    const int64_t yearStart = (kNowMs - 365 * kDayMs) / kMinuteMs * kMinuteMs;
    for (int64_t minute = yearStart; minute < kNowMs - kMinuteMs; minute += kMinuteMs) {
        const int answered = 60 - std::max(0, lost(random) - 47);
        journal.Minute(minute, 60, answered, rtt(random));
    }
    for (int64_t time = kNowMs - 3 * kDayMs; time < kNowMs - kMinuteMs; time += 1000) {
        const bool answered = lost(random) != 0;
        journal.Outcome(time, answered, answered ? std::optional(rtt(random)) : std::nullopt);
    }
    for (int i = 0; i < 3000; ++i) {
        const int64_t start = yearStart + i * (365 * kDayMs / 3000);
        journal.Outage(start, start + 2000 + (i % 120) * 1000, 2 + i % 120, "Request timed out");
    }
    return journal.Commit();
}

// Serves events until the window shows a view newly read from the journal and its plot has
// painted it.
void ServeUntilViewPainted(TJournalWindow& window, const PaintCounter& counter) {
    int paintsBefore = -1;  // when the view was shown
    const QMetaObject::Connection shown = QObject::connect(&window, &TJournalWindow::ViewShown,
                                                           [&] { paintsBefore = counter.paints; });
    while (paintsBefore < 0 || counter.paints <= paintsBefore) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QObject::disconnect(shown);
    SyncWithServer();
}

void BM_OpenToFirstPaint(benchmark::State& state) {
    const auto span = TJournalSpan(state.range(0));
    for (auto _ : state) {
        TJournalWindow window(journalPath, [] { return kNowMs; });
        window.SetSpan(span);
        PaintCounter counter;
        window.findChild<nodrel::TJournalPlot*>()->installEventFilter(&counter);
        window.show();
        ServeUntilViewPainted(window, counter);
        state.PauseTiming();
        window.hide();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenToFirstPaint)
    ->Arg(int(TJournalSpan::Hour))
    ->Arg(int(TJournalSpan::Day))
    ->Arg(int(TJournalSpan::Year))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->UseRealTime();

void BM_LiveUpdate(benchmark::State& state) {
    int64_t now = kNowMs;
    TJournalWindow window(journalPath, [&now] { return now; });
    window.SetSpan(TJournalSpan(state.range(0)));
    PaintCounter counter;
    window.findChild<nodrel::TJournalPlot*>()->installEventFilter(&counter);
    window.show();
    ServeUntilViewPainted(window, counter);
    for (auto _ : state) {
        now += 10'000;
        window.Refresh();
        ServeUntilViewPainted(window, counter);
    }
}
BENCHMARK(BM_LiveUpdate)
    ->Arg(int(TJournalSpan::Hour))
    ->Arg(int(TJournalSpan::Day))
    ->Arg(int(TJournalSpan::Year))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseRealTime();

void BM_ReadSpan(benchmark::State& state) {
    nodrel::TJournalReader reader(journalPath);
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.Read(TJournalSpan(state.range(0)), kNowMs, 0));
    }
}
BENCHMARK(BM_ReadSpan)
    ->Arg(int(TJournalSpan::Hour))
    ->Arg(int(TJournalSpan::Day))
    ->Arg(int(TJournalSpan::Year))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

class BareWindow : public QWidget {
public:
    BareWindow() { setAttribute(Qt::WA_OpaquePaintEvent); }
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), palette().window());
        ++paints;
    }
};

void BM_BareWindowFirstPaint(benchmark::State& state) {
    const QSize size = TJournalWindow(journalPath).size();
    for (auto _ : state) {
        BareWindow bare;
        bare.resize(size);
        bare.show();
        while (bare.paints < 1) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        SyncWithServer();
        state.PauseTiming();
        bare.hide();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BareWindowFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// Prints the benchmarks as usual, then each opening's real time over the bare window's.
class FloorRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto floor = times_.find("BM_BareWindowFirstPaint/iterations:10/real_time");
        if (floor == times_.end()) return;
        for (const auto& [name, time] : times_) {
            if (name.starts_with("BM_OpenToFirstPaint")) {
                std::printf("%s over a bare window: %.2f\n", name.c_str(), time / floor->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    journalPath = folder.filePath(QStringLiteral("Nodrel.sqlite"));
    if (!MakeYearJournal(journalPath)) {
        std::fprintf(stderr, "could not write the journal at %s\n", qPrintable(journalPath));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    FloorRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
