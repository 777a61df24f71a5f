#include "sound_player.h"

#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "support/private_sound_server.h"

namespace nodrel::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nodrel::testing::PrivateSoundServer;
using namespace std::chrono_literals;

#define START_SOUND_SERVER(server) \
    PrivateSoundServer server;     \
    if (!server.failure().empty()) GTEST_SKIP() << server.failure()

fs::path PathOf(const QTemporaryDir& folder) {
    return folder.path().toStdString();
}

void WriteFile(const fs::path& file, std::string_view content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Points the process at the sound server and at the shipped sounds alone (through XDG_DATA_DIRS,
// as an installed program finds them), from an empty current directory.
void UseServerAndShippedSounds(const std::string& server, const fs::path& emptyFolder) {
    setenv("PULSE_SERVER", server.c_str(), 1);
    setenv("XDG_DATA_HOME", emptyFolder.c_str(), 1);
    const fs::path shippedShare = fs::path(NODREL_SOUNDS_BUILD_DIR).parent_path().parent_path();
    setenv("XDG_DATA_DIRS", shippedShare.c_str(), 1);
    fs::current_path(emptyFolder);
}

constexpr int kRecordRate = 44100;

// Upward zero crossings per second.
double PitchHz(const std::vector<int16_t>& samples, size_t begin, size_t end) {
    int crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) crossings += samples[i - 1] < 0 && samples[i] >= 0;
    return crossings * static_cast<double>(kRecordRate) / static_cast<double>(end - begin);
}

struct HeardPlay {
    bool played = false;
    Clock::duration took{};
    double seconds = 0;  // from the first to the last loud sample on the sink
    int peak = 0;
    double startHz = 0;  // pitch over the first 0.1 s of the sound
    double endHz = 0;    // and over its last 0.1 s
};

// Plays a shipped sound while recording one second of the null sink's monitor (mono, 16-bit).
HeardPlay PlayAndRecord(const char* name, const PrivateSoundServer& server) {
    QTemporaryDir emptyFolder;
    UseServerAndShippedSounds(server.address(), PathOf(emptyFolder));
    const pa_sample_spec spec{PA_SAMPLE_S16NE, kRecordRate, 1};
    constexpr uint32_t kDefault = static_cast<uint32_t>(-1);
    constexpr uint32_t kTenMilliseconds = kRecordRate / 100 * sizeof(int16_t);
    const pa_buffer_attr buffer{kDefault, kDefault, kDefault, kDefault, kTenMilliseconds};
    pa_simple* recorder = pa_simple_new(server.address().c_str(), "recorder", PA_STREAM_RECORD,
                                        PrivateSoundServer::kMonitorSource, "monitor", &spec,
                                        nullptr, &buffer, nullptr);
    HeardPlay heard;
    if (!recorder) return heard;
    std::vector<int16_t> samples(kRecordRate);
    pa_simple_read(recorder, samples.data(), kTenMilliseconds, nullptr);  // now it runs
    auto play = std::async(std::launch::async, [name, &heard] {
        const auto start = Clock::now();
        heard.played = PlaySoundFile(name);
        heard.took = Clock::now() - start;
    });
    pa_simple_read(recorder, samples.data(), samples.size() * sizeof(int16_t), nullptr);
    pa_simple_free(recorder);
    play.get();

    size_t first = samples.size();
    size_t last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        heard.peak = std::max(heard.peak, std::abs(samples[i]));
        if (std::abs(samples[i]) > 1000) {
            first = std::min(first, i);
            last = i;
        }
    }
    const size_t window = kRecordRate / 10;
    if (first >= last || last - first < window) return heard;
    heard.seconds = static_cast<double>(last - first) / kRecordRate;
    heard.startHz = PitchHz(samples, first, first + window);
    heard.endHz = PitchHz(samples, last - window, last);
    return heard;
}

TEST(SoundPlayer, PutsTheShippedSoundsOnTheSinkAndReturnsWhenTheyHaveBeenPlayed) {
    START_SOUND_SERVER(server);
    struct Expected {
        const char* name;
        double startHz;
        double endHz;
    };
    // The alarm is two falling tones, 880 then 660 Hz; the recovery glides from 520 to 1040 Hz.
    for (const Expected& expected :
         {Expected{"sound1.wav", 880, 660}, Expected{"sound.wav", 585, 975}}) {
        SCOPED_TRACE(expected.name);
        const HeardPlay heard = PlayAndRecord(expected.name, server);
        EXPECT_TRUE(heard.played);
        EXPECT_GE(heard.took, 300ms);
        EXPECT_NEAR(heard.seconds, 0.4, 0.05);
        EXPECT_NEAR(heard.peak, 6553, 400);  // -14 dBFS
        EXPECT_NEAR(heard.startHz, expected.startHz, 30);
        EXPECT_NEAR(heard.endHz, expected.endHz, 30);
    }
}

TEST(SoundLookup, FollowsTheXdgDefaults) {
    SoundSearchEnvironment environment{"/work", "", "/home/ann", "", "/opt/nodrel/bin/nodrel"};
    EXPECT_EQ(SoundSearchFolders(environment),
              (std::vector<fs::path>{"/work", "/home/ann/.local/share/kavren-nodrel/sounds",
                                     "/usr/local/share/kavren-nodrel/sounds",
                                     "/usr/share/kavren-nodrel/sounds",
                                     "/opt/nodrel/share/kavren-nodrel/sounds"}));

    environment = {"/work", "/data", "/home/ann", "relative::/d1:/d2/", "/usr/bin/nodrel"};
    EXPECT_EQ(
        SoundSearchFolders(environment),
        (std::vector<fs::path>{"/work", "/data/kavren-nodrel/sounds", "/d1/kavren-nodrel/sounds",
                               "/d2/kavren-nodrel/sounds", "/usr/share/kavren-nodrel/sounds"}));

    environment.xdgDataHome = "relative";
    EXPECT_EQ(SoundSearchFolders(environment)[1], "/home/ann/.local/share/kavren-nodrel/sounds");
}

TEST(SoundLookup, FirstFolderHoldingTheFileWins) {
    QTemporaryDir root;
    const fs::path r = PathOf(root);
    const SoundSearchEnvironment environment{r / "cwd", "", (r / "home").string(),
                                             (r / "d1").string() + ":" + (r / "d2").string(),
                                             r / "prefix/bin/nodrel"};
    const std::vector<fs::path> holders = {
        r / "cwd", r / "home/.local/share/kavren-nodrel/sounds", r / "d1/kavren-nodrel/sounds",
        r / "d2/kavren-nodrel/sounds", r / "prefix/share/kavren-nodrel/sounds"};
    for (const fs::path& holder : holders) WriteFile(holder / "ding.wav", holder.string());

    const std::vector<fs::path> folders = SoundSearchFolders(environment);
    for (const fs::path& holder : holders) {
        const std::optional<fs::path> found = FindSoundFile("ding.wav", folders);
        ASSERT_TRUE(found);
        EXPECT_EQ(ReadFile(*found), holder.string());
        fs::remove(*found);
    }
    EXPECT_FALSE(FindSoundFile("ding.wav", folders));

    // A folder of that name is no sound; only bare names are looked up.
    fs::create_directories(r / "cwd/dong.wav");
    WriteFile(r / "d2/kavren-nodrel/sounds/dong.wav", "d2");
    EXPECT_EQ(FindSoundFile("dong.wav", folders), r / "d2/kavren-nodrel/sounds/dong.wav");
    WriteFile(r / "prefix/sounds.wav", "x");
    for (const char* name : {"../prefix/sounds.wav", "/etc/passwd", "", ".", ".."}) {
        EXPECT_FALSE(FindSoundFile(name, folders)) << name;
    }
}

// Without PULSE_SERVER the player names libpulse's usual places itself (so that libpulse starts
// no server of its own): the per-user socket under PULSE_RUNTIME_PATH, else XDG_RUNTIME_DIR/pulse.
TEST(SoundPlayer, FindsTheServerAtTheUsualPlaces) {
    START_SOUND_SERVER(server);
    QTemporaryDir emptyFolder;
    UseServerAndShippedSounds(server.address(), PathOf(emptyFolder));
    unsetenv("PULSE_SERVER");
    unsetenv("PULSE_RUNTIME_PATH");
    setenv("XDG_RUNTIME_DIR", server.folder().c_str(), 1);
    EXPECT_TRUE(PlaySoundFile("sound.wav"));
    setenv("XDG_RUNTIME_DIR", PathOf(emptyFolder).c_str(), 1);
    if (!fs::exists("/var/run/pulse/native")) {  // no system-wide server to fall back on
        EXPECT_FALSE(PlaySoundFile("sound.wav"));
    }
    setenv("PULSE_RUNTIME_PATH", (server.folder() / "pulse").c_str(), 1);
    EXPECT_TRUE(PlaySoundFile("sound.wav"));
}

TEST(SoundPlayerFaults, NoServerIsSilentAndPrompt) {
    QTemporaryDir emptyFolder;
    UseServerAndShippedSounds("unix:" + (PathOf(emptyFolder) / "no-socket").string(),
                              PathOf(emptyFolder));
    const auto start = Clock::now();
    EXPECT_FALSE(PlaySoundFile("sound1.wav"));
    EXPECT_LT(Clock::now() - start, 1s);
}

TEST(SoundPlayerFaults, StoppedServerCostsOneBoundedWaitAndPlaysAgainOnceResumed) {
    START_SOUND_SERVER(server);
    QTemporaryDir emptyFolder;
    UseServerAndShippedSounds(server.address(), PathOf(emptyFolder));
    ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);

    auto start = Clock::now();
    EXPECT_FALSE(PlaySoundFile("sound1.wav"));
    EXPECT_LT(Clock::now() - start, 400ms + 3s);

    // While the first play still waits on the server, the next is refused at once.
    start = Clock::now();
    EXPECT_FALSE(PlaySoundFile("sound1.wav"));
    EXPECT_LT(Clock::now() - start, 500ms);

    ASSERT_EQ(kill(server.pid(), SIGCONT), 0);
    bool played = false;
    for (const auto giveUp = Clock::now() + 10s; !played && Clock::now() < giveUp;) {
        played = PlaySoundFile("sound1.wav");
        if (!played) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(played);
}

// A canonical 16-bit PCM WAV header followed by `dataPresent` bytes of silence.
std::string Wav(uint32_t rate, uint16_t channels, uint32_t dataDeclared, uint32_t dataPresent) {
    std::string wav;
    const auto put = [&wav](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>(value >> (8 * i)));
    };
    wav += "RIFF";
    put(36 + dataDeclared, 4);
    wav += "WAVEfmt ";
    put(16, 4);
    put(1, 2);
    put(channels, 2);
    put(rate, 4);
    put(rate * channels * 2, 4);
    put(channels * 2u, 2);
    put(16, 2);
    wav += "data";
    put(dataDeclared, 4);
    wav.append(dataPresent, '\0');
    return wav;
}

TEST(SoundPlayerFaults, BadFilesAreRefusedSilently) {
    START_SOUND_SERVER(server);
    QTemporaryDir folder;
    UseServerAndShippedSounds(server.address(), PathOf(folder));
    const std::string shipped = ReadFile(fs::path(NODREL_SOUNDS_BUILD_DIR) / "sound1.wav");
    const fs::path f = PathOf(folder);
    WriteFile(f / "good.wav", shipped);
    WriteFile(f / "empty.wav", "");
    WriteFile(f / "text.wav", "this is no sound at all\n");
    WriteFile(f / "cut-header.wav", shipped.substr(0, 30));
    WriteFile(f / "cut-data.wav", shipped.substr(0, shipped.size() / 2));
    WriteFile(f / "rate-0.wav", Wav(0, 1, 4000, 4000));
    WriteFile(f / "rate-10MHz.wav", Wav(10'000'000, 1, 4000, 4000));
    WriteFile(f / "channels-1000.wav", Wav(44100, 1000, 4000, 4000));
    WriteFile(f / "frames-2G.wav", Wav(44100, 1, 0xFFFFFF00u, 4000));
    WriteFile(f / "hours.wav", Wav(8000, 1, 8000 * 2 * 60, 8000 * 2 * 60));
    fs::create_directory(f / "folder.wav");

    EXPECT_TRUE(PlaySoundFile("good.wav"));  // the server plays what is sound
    for (const char* name : {"missing.wav", "empty.wav", "text.wav", "cut-header.wav", "rate-0.wav",
                             "rate-10MHz.wav", "channels-1000.wav", "hours.wav", "folder.wav"}) {
        const auto start = Clock::now();
        EXPECT_FALSE(PlaySoundFile(name)) << name;
        EXPECT_LT(Clock::now() - start, 1s) << name;
    }
    // Cut short after the header, a file plays the samples it holds (libsndfile counts only
    // those), however many its header promised.
    for (const char* name : {"cut-data.wav", "frames-2G.wav"}) {
        const auto start = Clock::now();
        EXPECT_TRUE(PlaySoundFile(name)) << name;
        EXPECT_LT(Clock::now() - start, 1s) << name;
    }
}

}  // namespace
}  // namespace nodrel::platform
