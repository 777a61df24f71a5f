// Writes the program's two cue sounds into the folder given as the only argument:
//   sound1.wav  the alarm: two short tones, the second lower than the first
//   sound.wav   the recovery: one tone gliding upwards
// Both are 16-bit PCM WAV, mono at 44.1 kHz, about 0.4 s long and quiet (peak at -14 dBFS), with
// short fades so that no tone starts or stops with a click.

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr int kSampleRate = 44100;
constexpr double kPeak = 0.2;  // -14 dBFS
constexpr double kFadeSeconds = 0.012;

struct Tone {
    double startHz;
    double endHz;
    double seconds;
};

// Appends a tone whose pitch moves linearly from startHz to endHz, with raised-cosine fades at
// both ends.
void AppendTone(std::vector<short>& samples, const Tone& tone) {
    const int count = static_cast<int>(tone.seconds * kSampleRate);
    const int fadeCount = static_cast<int>(kFadeSeconds * kSampleRate);
    double phase = 0.0;
    for (int i = 0; i < count; ++i) {
        const double progress = static_cast<double>(i) / count;
        const double hz = tone.startHz + (tone.endHz - tone.startHz) * progress;
        phase += 2.0 * std::numbers::pi * hz / kSampleRate;
        const int edgeDistance = std::min(i, count - 1 - i);
        const double fade = edgeDistance >= fadeCount
                                ? 1.0
                                : 0.5 - 0.5 * std::cos(std::numbers::pi * edgeDistance / fadeCount);
        samples.push_back(
            static_cast<short>(std::lround(32767.0 * kPeak * fade * std::sin(phase))));
    }
}

void AppendSilence(std::vector<short>& samples, double seconds) {
    samples.insert(samples.end(), static_cast<size_t>(seconds * kSampleRate), 0);
}

bool WriteWav(const std::filesystem::path& file, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = kSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const std::unique_ptr<SNDFILE, decltype(&sf_close)> sound(
        sf_open(file.c_str(), SFM_WRITE, &info), &sf_close);
    if (!sound) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), sf_strerror(nullptr));
        return false;
    }
    const auto count = static_cast<sf_count_t>(samples.size());
    return sf_write_short(sound.get(), samples.data(), count) == count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];

    std::vector<short> alarm;
    AppendTone(alarm, {880.0, 880.0, 0.17});
    AppendSilence(alarm, 0.05);
    AppendTone(alarm, {660.0, 660.0, 0.18});

    std::vector<short> recovery;
    AppendTone(recovery, {520.0, 1040.0, 0.40});

    return WriteWav(folder / "sound1.wav", alarm) && WriteWav(folder / "sound.wav", recovery) ? 0
                                                                                              : 1;
}
