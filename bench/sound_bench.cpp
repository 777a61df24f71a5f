// What a cue costs the caller beyond the sound itself: finding and decoding the file, connecting
// to the sound server, and the drain's wait after the last sample, against a private PulseAudio
// server with a null sink (which plays in real time, like a sound card).

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "sound_player.h"
#include "support/private_sound_server.h"

namespace {

double SoundSeconds(const std::filesystem::path& file) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
    if (!sound) return 0.0;
    sf_close(sound);
    return static_cast<double>(info.frames) / info.samplerate;
}

// Each iteration's time is the call's time less the sound's length.
void PlayBeyondTheSoundsLength(benchmark::State& state, const char* name) {
    nodrel::testing::PrivateSoundServer server;
    if (!server.failure().empty()) {
        state.SkipWithError(server.failure().c_str());
        return;
    }
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    std::filesystem::current_path(NODREL_SOUNDS_BUILD_DIR);
    const double soundSeconds = SoundSeconds(name);
    int failures = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        failures += !nodrel::platform::PlaySoundFile(name);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() - soundSeconds);
    }
    state.counters["sound_s"] = soundSeconds;
    state.counters["failures"] = failures;
}
BENCHMARK_CAPTURE(PlayBeyondTheSoundsLength, alarm, "sound1.wav")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlayBeyondTheSoundsLength, recovery, "sound.wav")
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
