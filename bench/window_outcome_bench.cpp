// The floating window's outcome path as a whole, from the worker's hand-over to the painted
// drawing surface, with the pause between probes set to nothing:
//   BM_OutcomeToPaintedSurface   per outcome, on an echo platform that answers at once; the CPU
//                                time is the GUI thread's, the real time the outcome period
//   BM_ResidentMemoryOverOutcomes  10,000 outcomes of real echo exchanges with 127.0.0.1; the
//                                resident memory after the history filled up and at the end
// Needs a display (xcb, e.g. under Xvfb) or QT_QPA_PLATFORM=offscreen. Every window reads a
// store of its own that probes 127.0.0.1.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fake_echo_platform.h"
#include "floating_window.h"
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

// Serves events until the worker has started `cycles` probe cycles (each start follows the
// delivery of the previous outcome) and the surface has been painted `paints` times.
void ServeUntil(TFloatingWindow& window, const PaintCounter& counter, int64_t cycles, int paints) {
    while (window.Worker()->Cycle() < cycles || counter.paints < paints) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// Closes the window and stops its worker, which the program itself leaves to the process's end.
void CloseAndStop(TFloatingWindow& window) {
    window.close();
    delete window.Worker();
}

// Shows the window and waits for its first paint; the worker probes without pause. The first
// pause starts only after the GUI thread took the first outcome, so it is already none.
void ShowAndFlood(TFloatingWindow& window, PaintCounter& counter) {
    if (window.Address() != QStringLiteral("127.0.0.1")) {
        std::fprintf(stderr, "the store was not read: the window probes %s\n",
                     qPrintable(window.Address()));
        std::abort();
    }
    window.SetInterval(0);
    window.findChild<QWidget*>(QStringLiteral("Image1"))->installEventFilter(&counter);
    window.show();
    ServeUntil(window, counter, 1, 1);
}

void BM_OutcomeToPaintedSurface(benchmark::State& state) {
    nodrel::testing::FakeEchoPlatform echoPlatform;
    TFloatingWindow window(echoPlatform);
    PaintCounter counter;
    ShowAndFlood(window, counter);
    const int64_t firstCycle = window.Worker()->Cycle();
    for (auto _ : state) {
        ServeUntil(window, counter, window.Worker()->Cycle() + 1, counter.paints + 1);
    }
    state.counters["outcomes_per_iteration"] =
        double(window.Worker()->Cycle() - firstCycle) / double(state.iterations());
    CloseAndStop(window);
}
BENCHMARK(BM_OutcomeToPaintedSurface)->MinTime(3);

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

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    if (!nodrel::testing::WriteStore(nodrel::testing::CompleteStore())) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
