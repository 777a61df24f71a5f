// The floating window's outcome path as a whole, from the worker's hand-over to the painted
// drawing surface's pixels on the X server, with the pause between probes set to nothing:
//   BM_OutcomeToPaintedSurface   per outcome, on an echo platform that answers at once; the CPU
//                                time is the GUI thread's, the real time the outcome period
//   BM_OutcomeToPaintedSurfaceWithJournal  the same with the journal on, wired as the program
//                                wires it; the last line prints its times over the one without
//   BM_BareWidgetRepaint         the floor: a bare window of the drawing surface's size filled
//                                with one colour, from update() to its pixels on the X server;
//                                the last line prints the outcome's times over the floor's
//   BM_ResidentMemoryOverOutcomes  10,000 outcomes of real echo exchanges with 127.0.0.1; the
//                                resident memory after the history filled up and at the end
// Needs a display (xcb, e.g. under Xvfb) or QT_QPA_PLATFORM=offscreen. Every window reads a
// store of its own that probes 127.0.0.1.

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_echo_platform.h"
#include "floating_window.h"
#include "journal.h"
#include "program.h"
#include "support/paint_counter.h"
#include "support/test_store.h"

namespace {

using nodrel::TFloatingWindow;
using nodrel::testing::PaintCounter;

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return -1;
}

// Returns once the X server has handled every request sent so far, the painted image among them
// (a round trip); at once without an X display.
void SyncWithServer() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) return;
    xcb_connection_t* connection = x11->connection();
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

// Serves events until the worker has started `cycles` probe cycles (each start follows the
// delivery of the previous outcome) and the surface has been painted `paints` times.
void ServeUntil(TFloatingWindow& window, const PaintCounter& counter, int64_t cycles, int paints) {
    while (window.Worker()->Cycle() < cycles || counter.paints < paints) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// The drawing surface's size, as the store of the benchmarks lays it out.
QSize SurfaceSize() {
    static const QSize size = [] {
        nodrel::testing::FakeEchoPlatform echoPlatform;
        TFloatingWindow window(echoPlatform);
        const QSize surface = window.findChild<QWidget*>(QStringLiteral("Image1"))->size();
        delete window.Worker();
        return surface;
    }();
    return size;
}

// Closes the window and stops its worker, which the program itself leaves to the process's end.
void CloseAndStop(TFloatingWindow& window) {
    window.close();
    delete window.Worker();
}

// Shows the window and waits for its first paint; the worker probes without pause. The first
// pause starts only after the GUI thread took the first outcome, so it is already none.
void ShowAndFlood(TFloatingWindow& window, PaintCounter& counter) {
    if (window.Settings().Address() != QStringLiteral("127.0.0.1")) {
        std::fprintf(stderr, "the store was not read: the window probes %s\n",
                     qPrintable(window.Settings().Address()));
        std::abort();
    }
    window.Settings().SetInterval(0);
    window.findChild<QWidget*>(QStringLiteral("Image1"))->installEventFilter(&counter);
    window.show();
    ServeUntil(window, counter, 1, 1);
}

void OutcomeToPaintedSurface(benchmark::State& state, bool withJournal) {
    nodrel::testing::FakeEchoPlatform echoPlatform;
    TFloatingWindow window(echoPlatform);
    // Wired as the program wires it, its database in a folder of its own.
    QTemporaryDir stateHome;
    std::optional<nodrel::TJournal> journal;
    if (withJournal) {
        journal.emplace(stateHome.path() + QStringLiteral("/KAVREN/Nodrel.sqlite"));
        nodrel::ConnectJournal(window, *journal);
        journal->Start();
    }
    PaintCounter counter;
    ShowAndFlood(window, counter);
    const int64_t firstCycle = window.Worker()->Cycle();
    for (auto _ : state) {
        ServeUntil(window, counter, window.Worker()->Cycle() + 1, counter.paints + 1);
        SyncWithServer();
    }
    state.counters["outcomes_per_iteration"] =
        double(window.Worker()->Cycle() - firstCycle) / double(state.iterations());
    CloseAndStop(window);
}

void BM_OutcomeToPaintedSurface(benchmark::State& state) {
    OutcomeToPaintedSurface(state, false);
}
BENCHMARK(BM_OutcomeToPaintedSurface)->MinTime(3);

// The same with the journal on: each outcome is also handed to the journal's writer.
void BM_OutcomeToPaintedSurfaceWithJournal(benchmark::State& state) {
    OutcomeToPaintedSurface(state, true);
}
BENCHMARK(BM_OutcomeToPaintedSurfaceWithJournal)->MinTime(3);

// A window that fills itself with one colour and counts its paints.
class BareSurface : public QWidget {
public:
    BareSurface()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(0xC0, 0xC0, 0xC0));
        ++paints;
    }
};

void BM_BareWidgetRepaint(benchmark::State& state) {
    BareSurface bare;
    bare.resize(SurfaceSize());
    bare.show();
    while (bare.paints < 1) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (auto _ : state) {
        const int paints = bare.paints + 1;
        bare.update();
        while (bare.paints < paints) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        SyncWithServer();
    }
}
BENCHMARK(BM_BareWidgetRepaint)->MinTime(3);

void BM_ResidentMemoryOverOutcomes(benchmark::State& state) {
    TFloatingWindow window;
    if (window.StartError()) {
        state.SkipWithError(qPrintable("no echo service: " + *window.StartError()));
        return;
    }
    PaintCounter counter;
    ShowAndFlood(window, counter);
    // The history holds 600 outcomes: from then on every outcome replaces an old one.
    ServeUntil(window, counter, 601, 0);
    const long filled = ResidentKilobytes();
    for (auto _ : state) {
        ServeUntil(window, counter, window.Worker()->Cycle() + 1, 0);
    }
    const long end = ResidentKilobytes();
    state.counters["rss_filled_kB"] = double(filled);
    state.counters["rss_end_kB"] = double(end);
    state.counters["growth_percent"] = 100.0 * double(end - filled) / double(filled);
    CloseAndStop(window);
}
BENCHMARK(BM_ResidentMemoryOverOutcomes)->Iterations(10000)->Unit(benchmark::kMicrosecond);

// Prints the benchmarks as usual, then the outcome's real and CPU times over the bare floor's.
class FloorRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, their median stands (it comes after them).
            if (!run.aggregate_name.empty() && run.aggregate_name != "median") continue;
            times_[run.run_name.function_name] = {run.GetAdjustedRealTime(),
                                                  run.GetAdjustedCPUTime()};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        Ratio("outcome over bare repaint", "BM_OutcomeToPaintedSurface", "BM_BareWidgetRepaint");
        Ratio("outcome with the journal over without", "BM_OutcomeToPaintedSurfaceWithJournal",
              "BM_OutcomeToPaintedSurface");
    }

private:
    void Ratio(const char* what, const std::string& measured, const std::string& floor) const {
        const auto over = times_.find(measured);
        const auto under = times_.find(floor);
        if (over == times_.end() || under == times_.end()) return;
        std::printf("%s: real %.2f, CPU %.2f\n", what, over->second.first / under->second.first,
                    over->second.second / under->second.second);
    }

    std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    if (!nodrel::testing::WriteStore(nodrel::testing::CompleteStore())) return 1;
    benchmark::Initialize(&argc, argv);
    FloorRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
