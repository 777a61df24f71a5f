#include "sound_player.h"

#include <dlfcn.h>
#include <pulse/simple.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace nodrel::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kSoundsFolder = "kavren-nodrel/sounds";

// A cue is short: these keep a stray or hostile file from taking the caller's time or memory.
constexpr double kMaxSoundSeconds = 30.0;
constexpr sf_count_t kMaxSamples = sf_count_t{8} << 20;  // 16 MiB of 16-bit samples

// How long connecting and draining may take beyond the sound's own length.
constexpr std::chrono::milliseconds kServerAllowance{1000};

// The server holds this much ahead of what is heard, so the drain ends soon after the sound does.
constexpr pa_usec_t kServerBufferUsec = 100'000;

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void AddDataFolder(std::vector<fs::path>& folders, const fs::path& dataFolder) {
    if (dataFolder.is_absolute()) folders.push_back(dataFolder / kSoundsFolder);
}

// libsndfile and libpulse, with the codecs and the D-Bus client they bring along, are loaded at
// the first cue instead of at program start: many runs play none, and loading them took a fifth of
// the program's start-up. They stay loaded from then on.
struct SoundLibraries {
    decltype(&::sf_open) Open = nullptr;
    decltype(&::sf_close) Close = nullptr;
    decltype(&::sf_readf_short) ReadFrames = nullptr;
    decltype(&::pa_simple_new) NewStream = nullptr;
    decltype(&::pa_simple_write) Write = nullptr;
    decltype(&::pa_simple_drain) Drain = nullptr;
    decltype(&::pa_simple_free) Free = nullptr;
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
    function = library ? reinterpret_cast<Function>(dlsym(library, name)) : nullptr;
    return function != nullptr;
}

// Null where either library cannot be had: then no cue plays.
const SoundLibraries* LoadSoundLibraries() {
    static const SoundLibraries* const loaded = []() -> const SoundLibraries* {
        static SoundLibraries libraries;
        void* sndfile = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
        void* pulse = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
        const bool complete = Resolve(sndfile, "sf_open", libraries.Open) &&
                              Resolve(sndfile, "sf_close", libraries.Close) &&
                              Resolve(sndfile, "sf_readf_short", libraries.ReadFrames) &&
                              Resolve(pulse, "pa_simple_new", libraries.NewStream) &&
                              Resolve(pulse, "pa_simple_write", libraries.Write) &&
                              Resolve(pulse, "pa_simple_drain", libraries.Drain) &&
                              Resolve(pulse, "pa_simple_free", libraries.Free);
        return complete ? &libraries : nullptr;
    }();
    return loaded;
}

// PulseAudio's record of a stream's sample format, rate and channel count.
using SampleFormat = pa_sample_spec;

struct DecodedSound {
    SampleFormat format{};
    std::vector<int16_t> samples;  // interleaved frames
    double seconds = 0.0;
};

// Reads a whole sound file as 16-bit samples, refusing before any allocation what no sound server
// plays (rate, channel count) or what no cue needs (length), and refusing a file whose samples
// cannot all be read. (A file cut short within its samples counts, for libsndfile, only the frames
// it still holds.)
std::optional<DecodedSound> DecodeSoundFile(const SoundLibraries& libraries, const fs::path& file) {
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, decltype(&::sf_close)> sound(
        libraries.Open(file.c_str(), SFM_READ, &info), libraries.Close);
    if (!sound) return std::nullopt;
    if (info.samplerate <= 0 || static_cast<unsigned>(info.samplerate) > PA_RATE_MAX ||
        info.channels <= 0 || static_cast<unsigned>(info.channels) > PA_CHANNELS_MAX ||
        info.frames <= 0 || info.frames > kMaxSamples / info.channels) {
        return std::nullopt;
    }
    DecodedSound decoded;
    decoded.format = {PA_SAMPLE_S16NE, static_cast<uint32_t>(info.samplerate),
                      static_cast<uint8_t>(info.channels)};
    decoded.seconds = static_cast<double>(info.frames) / info.samplerate;
    if (decoded.seconds > kMaxSoundSeconds) return std::nullopt;
    decoded.samples.resize(static_cast<size_t>(info.frames * info.channels));
    if (libraries.ReadFrames(sound.get(), decoded.samples.data(), info.frames) != info.frames) {
        return std::nullopt;
    }
    return decoded;
}

// The servers to try, for pa_simple_new. libpulse starts a sound server of its own when it reaches
// none ("autospawn") unless the caller names one; pa_simple has no flag against that. PULSE_SERVER
// turns it off by itself, so then libpulse is left to read it (empty result); otherwise the list
// names libpulse's own default places: the per-user socket, then the system-wide one. A configured
// default-server of client.conf is not consulted in that case. Entries with white space, which
// the list format cannot carry, are left out.
std::string PulseServerList() {
    if (std::getenv("PULSE_SERVER")) return {};
    std::string runtimeFolder = EnvironmentValue("PULSE_RUNTIME_PATH");
    if (runtimeFolder.empty()) {
        const std::string xdgRuntime = EnvironmentValue("XDG_RUNTIME_DIR");
        if (!xdgRuntime.empty()) runtimeFolder = xdgRuntime + "/pulse";
    }
    std::string servers;
    if (!runtimeFolder.empty() && runtimeFolder.find_first_of(" \t\n") == std::string::npos) {
        servers = "unix:" + runtimeFolder + "/native ";
    }
    return servers + "unix:/var/run/pulse/native";
}

// Everything a player thread uses. The caller and the thread share it, so a thread the caller has
// stopped waiting for still owns all it touches.
struct Playback {
    DecodedSound sound;
    std::string server;
    std::string name;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool played = false;
    bool abandoned = false;
};

// Player threads whose callers gave up on them and that still wait in libpulse for a server that
// stopped answering; libpulse's own 30 s reply timeout ends them.
std::atomic<int> abandonedPlayers{0};

bool GivenUp(Playback& playback) {
    const std::lock_guard lock(playback.mutex);
    return playback.abandoned;
}

void PlayOnServer(const SoundLibraries& libraries, const std::shared_ptr<Playback>& playback) {
    const DecodedSound& sound = playback->sound;
    pa_buffer_attr buffer;
    buffer.maxlength = static_cast<uint32_t>(-1);
    buffer.tlength = static_cast<uint32_t>(kServerBufferUsec * sound.format.rate / 1'000'000 *
                                           sound.format.channels * sizeof(int16_t));
    buffer.prebuf = static_cast<uint32_t>(-1);
    buffer.minreq = static_cast<uint32_t>(-1);
    buffer.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    pa_simple* stream =
        libraries.NewStream(playback->server.empty() ? nullptr : playback->server.c_str(),
                            "KAVREN Nodrel", PA_STREAM_PLAYBACK, nullptr, playback->name.c_str(),
                            &sound.format, nullptr, &buffer, &error);
    bool played = false;
    if (stream) {
        // A cue whose caller has moved on is not played late.
        played = !GivenUp(*playback) &&
                 libraries.Write(stream, sound.samples.data(),
                                 sound.samples.size() * sizeof(int16_t), &error) == 0 &&
                 libraries.Drain(stream, &error) == 0;
        libraries.Free(stream);
    }
    const std::lock_guard lock(playback->mutex);
    playback->done = true;
    playback->played = played;
    if (playback->abandoned) --abandonedPlayers;
    playback->finished.notify_all();
}

// pa_simple blocks without a time limit (a stopped server answers neither the connection's
// handshake nor the drain), so it runs on a thread of its own and the caller waits for the sound's
// length plus kServerAllowance. A thread still blocked then is left behind, owning its Playback;
// while one is, further plays are refused at once, so a stopped server costs one wait and at most
// one thread rather than one per cue.
bool Play(const SoundLibraries& libraries, std::shared_ptr<Playback> playback) {
    const auto deadline = Clock::now() + kServerAllowance +
                          std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(playback->sound.seconds));
    std::thread player(PlayOnServer, std::cref(libraries), playback);
    std::unique_lock lock(playback->mutex);
    if (playback->finished.wait_until(lock, deadline, [&] { return playback->done; })) {
        lock.unlock();
        player.join();
        return playback->played;
    }
    playback->abandoned = true;
    ++abandonedPlayers;
    player.detach();
    return false;
}

}  // namespace

SoundSearchEnvironment ProcessSoundSearchEnvironment() {
    SoundSearchEnvironment environment;
    std::error_code error;
    environment.currentDirectory = fs::current_path(error);
    environment.xdgDataHome = EnvironmentValue("XDG_DATA_HOME");
    environment.home = EnvironmentValue("HOME");
    environment.xdgDataDirs = EnvironmentValue("XDG_DATA_DIRS");
    environment.programFile = fs::read_symlink("/proc/self/exe", error);
    return environment;
}

std::vector<fs::path> SoundSearchFolders(const SoundSearchEnvironment& environment) {
    std::vector<fs::path> folders;
    if (!environment.currentDirectory.empty()) folders.push_back(environment.currentDirectory);

    if (fs::path(environment.xdgDataHome).is_absolute()) {
        AddDataFolder(folders, environment.xdgDataHome);
    } else if (!environment.home.empty()) {
        AddDataFolder(folders, fs::path(environment.home) / ".local/share");
    }

    const std::string_view dataDirs = environment.xdgDataDirs.empty()
                                          ? std::string_view("/usr/local/share:/usr/share")
                                          : std::string_view(environment.xdgDataDirs);
    for (size_t start = 0; start <= dataDirs.size();) {
        const size_t end = std::min(dataDirs.find(':', start), dataDirs.size());
        AddDataFolder(folders, fs::path(dataDirs.substr(start, end - start)));
        start = end + 1;
    }

    if (environment.programFile.is_absolute()) {
        AddDataFolder(folders, environment.programFile.parent_path().parent_path() / "share");
    }
    return folders;
}

std::optional<fs::path> FindSoundFile(std::string_view bareName,
                                      const std::vector<fs::path>& folders) {
    if (bareName.empty() || bareName == "." || bareName == ".." ||
        bareName.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    for (const fs::path& folder : folders) {
        fs::path candidate = folder / bareName;
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

bool PlaySoundFile(std::string_view bareName) {
    if (abandonedPlayers > 0) return false;
    try {
        const std::optional<fs::path> file =
            FindSoundFile(bareName, SoundSearchFolders(ProcessSoundSearchEnvironment()));
        const SoundLibraries* libraries = file ? LoadSoundLibraries() : nullptr;
        if (libraries == nullptr) return false;
        std::optional<DecodedSound> sound = DecodeSoundFile(*libraries, *file);
        if (!sound) return false;
        auto playback = std::make_shared<Playback>();
        playback->sound = std::move(*sound);
        playback->server = PulseServerList();
        playback->name = std::string(bareName);
        return Play(*libraries, std::move(playback));
    } catch (const std::exception&) {
        // No memory or no thread to spare: the cue is skipped, the caller carries on.
        return false;
    }
}

}  // namespace nodrel::platform
