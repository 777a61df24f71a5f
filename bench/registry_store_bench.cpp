// What a settings save costs: every write replaces the whole file and syncs it to the disk.

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "registry_store.h"

namespace {

const QString kKey = QStringLiteral("\\Software\\KAVREN\\Nodrel\\");

// Twenty-one values, as a save writes them; changed selects whether any differ from the file.
void WriteTwentyOneValues(benchmark::State& state) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    uint32_t round = 0;
    for (auto _ : state) {
        auto key = nodrel::platform::RegistryKey::Open(kKey);
        if (state.range(0)) ++round;
        for (int i = 0; i < 20; ++i) key->WriteInteger(QString::number(i), round + i);
        key->WriteString(QStringLiteral("host"), QString::number(round));
    }
}
BENCHMARK(WriteTwentyOneValues)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
