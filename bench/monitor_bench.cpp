// The GUI thread's cost of one probe outcome: recording it and composing the whole 60-column
// picture, against the floor of making that picture and filling it with one colour; and what
// handing the outcome to the journal adds to it.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "history_renderer.h"
#include "journal.h"

namespace nodrel {
namespace {

// Arguments: cell width, cell height, space width, space height.
TRenderSettings Large(const benchmark::State& state) {
    TRenderSettings settings;
    settings.modenum = 1;
    settings.viewmode = 2;
    settings.blinkmode = 3;
    settings.w = static_cast<uint16_t>(state.range(0));
    settings.h = static_cast<uint16_t>(state.range(1));
    settings.ws = static_cast<uint16_t>(state.range(2));
    settings.hs = static_cast<uint16_t>(state.range(3));
    return settings;
}

QSize Panel(const TRenderSettings& s) {
    return {static_cast<int>(PictureWidth(s)), 10 * (s.h + s.hs) - s.hs + 4};
}

int32_t Surface(const TRenderSettings& s) {
    return 10 * (s.h + s.hs) + 1;
}

void OutcomeWithFullRedraw(benchmark::State& state) {
    TRenderSettings settings = Large(state);
    settings.viewmode = static_cast<uint8_t>(state.range(4));
    TResultHistory history;
    for (int n = 0; n < 700; ++n) history.AddResult(n % 7 != 0);
    TColourRegister colourRegister;
    bool success = false;
    for (auto _ : state) {
        history.AddResult(success);
        success = !success;
        QImage picture =
            ComposeHistory(history, settings, Panel(settings), Surface(settings), colourRegister);
        benchmark::DoNotOptimize(picture.constBits());
    }
}

void FloorOneFill(benchmark::State& state) {
    const TRenderSettings settings = Large(state);
    const QSize size = Panel(settings);
    for (auto _ : state) {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(ToRgb(settings.col5));
        benchmark::DoNotOptimize(picture.constBits());
    }
}

// The first-start geometry, and the largest the options dialog offers. The last argument of the
// outcome is the view: 2 History, 1 Graph.
BENCHMARK(OutcomeWithFullRedraw)->Args({5, 3, 1, 1, 2})->Args({10, 10, 5, 5, 2});
BENCHMARK(OutcomeWithFullRedraw)->Args({5, 3, 1, 1, 1})->Args({10, 10, 5, 5, 1});
BENCHMARK(FloorOneFill)->Args({5, 3, 1, 1})->Args({10, 10, 5, 5});

// An outcome handed to a started journal, as the window hands each one. Between the writer's
// minutes they only pile up: past its bound the oldest half goes at once, which this includes.
void OutcomeToJournal(benchmark::State& state) {
    QTemporaryDir stateHome;
    TJournal journal(stateHome.path() + QStringLiteral("/Nodrel.sqlite"));
    journal.Start();
    const QString host = QStringLiteral("dns.google");
    TOutcomeRecord record;
    record.Address = platform::IpAddress::FromIpv4(0x08080808);
    record.Milliseconds = 12;
    for (auto _ : state) {
        journal.Add(true, record, host);
        record.StartTime += 1000;
    }
}
BENCHMARK(OutcomeToJournal);

}  // namespace
}  // namespace nodrel
BENCHMARK_MAIN();
