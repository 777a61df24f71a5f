#include "sound_player.h"

#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <ranges>
#include <thread>

#include "support/private_sound_server.h"

namespace nodrel::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
// PulseAudio's record of a stream's sample format, rate and channel count.
using SampleFormat = pa_sample_spec;

#define START_SOUND_SERVER(server)              \
    nodrel::testing::PrivateSoundServer server; \
    if (!server.failure().empty()) GTEST_SKIP() << server.failure()

void WriteFile(const fs::path& file, std::string_view content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

// Runs from an empty folder with only the shipped sounds to find (through XDG_DATA_DIRS, as an
// installed program finds them), and no PULSE_SERVER: the player looks for the server where
// libpulse does, in XDG_RUNTIME_DIR/pulse/native.
void UseShippedSoundsAndRuntimeFolder(const fs::path& runtimeFolder) {
    unsetenv("PULSE_SERVER");
    unsetenv("PULSE_RUNTIME_PATH");
    setenv("XDG_RUNTIME_DIR", runtimeFolder.c_str(), 1);
    fs::create_directory(runtimeFolder / "cwd");
    fs::current_path(runtimeFolder / "cwd");
    setenv("XDG_DATA_HOME", fs::current_path().c_str(), 1);
    const fs::path shippedShare = fs::path(NODREL_SOUNDS_BUILD_DIR).parent_path().parent_path();
    setenv("XDG_DATA_DIRS", shippedShare.c_str(), 1);
}

// The shipped alarm: a canonical 44-byte header, then its samples.
std::string ShippedSound() {
    std::ifstream in(fs::path(NODREL_SOUNDS_BUILD_DIR) / "sound1.wav", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The shipped sound with other header values.
std::string PatchedWav(uint32_t rate, uint16_t channels, uint32_t dataBytes) {
    std::string patched = ShippedSound();
    const auto put = [&patched](size_t offset, uint32_t value, size_t bytes) {
        std::memcpy(patched.data() + offset, &value, bytes);  // little-endian, like the file
    };
    put(22, channels, 2);
    put(24, rate, 4);
    put(28, rate * channels * 2, 4);
    put(32, channels * 2u, 2);
    put(40, dataBytes, 4);
    return patched;
}

// Whether the sound played, and how long the call took.
std::pair<bool, Clock::duration> TimedPlay(const char* name) {
    const auto start = Clock::now();
    const bool played = PlaySoundFile(name);
    return {played, Clock::now() - start};
}

// Whether the sound played; nullopt when the call has not returned within `bound` (its thread is
// then left to the end of the process).
std::optional<bool> PlayWithin(const std::string& name, Clock::duration bound) {
    auto outcome = std::make_shared<std::promise<bool>>();
    std::future<bool> played = outcome->get_future();
    std::thread([outcome, name] { outcome->set_value(PlaySoundFile(name)); }).detach();
    if (played.wait_for(bound) != std::future_status::ready) return std::nullopt;
    return played.get();
}

TEST(SoundPlayer, PutsTheShippedSoundsOnTheSinkAndReturnsWhenTheyHaveBeenPlayed) {
    START_SOUND_SERVER(server);
    UseShippedSoundsAndRuntimeFolder(server.folder());
    constexpr int kRate = 44100;
    constexpr uint32_t kTenMilliseconds = kRate / 100 * sizeof(int16_t);
    const SampleFormat format{PA_SAMPLE_S16NE, kRate, 1};
    const pa_buffer_attr buffer{~0u, ~0u, ~0u, ~0u, kTenMilliseconds};
    // The alarm is two falling tones, 880 then 660 Hz; the recovery glides from 520 to 1040 Hz.
    for (const auto& [name, startHz, endHz] :
         {std::tuple{"sound1.wav", 880, 660}, std::tuple{"sound.wav", 585, 975}}) {
        SCOPED_TRACE(name);
        pa_simple* recorder =
            pa_simple_new(server.address().c_str(), "recorder", PA_STREAM_RECORD,
                          server.kMonitorSource, "monitor", &format, nullptr, &buffer, nullptr);
        ASSERT_TRUE(recorder);
        std::vector<int16_t> samples(kRate);  // one second of the sink
        pa_simple_read(recorder, samples.data(), kTenMilliseconds, nullptr);  // now it runs
        auto play = std::async(std::launch::async, TimedPlay, name);
        pa_simple_read(recorder, samples.data(), samples.size() * sizeof(int16_t), nullptr);
        pa_simple_free(recorder);
        const auto [played, took] = play.get();
        EXPECT_TRUE(played);
        EXPECT_GE(took, 300ms);

        const auto loudness = [](int16_t sample) { return std::abs(sample); };
        EXPECT_NEAR(std::ranges::max(samples | std::views::transform(loudness)), 6553, 400);
        const auto loud = [&](int16_t sample) { return loudness(sample) > 1000; };
        const auto first = std::ranges::find_if(samples, loud);
        const auto last = std::ranges::find_if(samples | std::views::reverse, loud).base();
        ASSERT_GT(last - first, kRate / 5);
        EXPECT_NEAR(double(last - first) / kRate, 0.4, 0.05);
        const auto pitchHz = [](auto from) {  // upward zero crossings over 0.1 s
            int crossings = 0;
            for (auto i = from + 1; i < from + kRate / 10; ++i) crossings += i[-1] < 0 && *i >= 0;
            return crossings * 10;
        };
        EXPECT_NEAR(pitchHz(first), startHz, 30);
        EXPECT_NEAR(pitchHz(last - kRate / 10), endHz, 30);
    }
}

TEST(SoundLookup, FollowsTheXdgOrderAndTheFirstFolderHoldingTheFileWins) {
    EXPECT_EQ(SoundSearchFolders({"/work", "", "/home/ann", "", "/opt/nodrel/bin/nodrel"}),
              (std::vector<fs::path>{"/work", "/home/ann/.local/share/kavren-nodrel/sounds",
                                     "/usr/local/share/kavren-nodrel/sounds",
                                     "/usr/share/kavren-nodrel/sounds",
                                     "/opt/nodrel/share/kavren-nodrel/sounds"}));

    // Real files; the relative and empty entries of the data folders do not count.
    QTemporaryDir root;
    const fs::path r = root.path().toStdString();
    const std::string dataDirs = "rel::" + (r / "d1").string() + ":" + (r / "d2").string();
    const std::vector<fs::path> folders =
        SoundSearchFolders({r / "cwd", r / "data", "/home/ann", dataDirs, r / "p/bin/nodrel"});
    const std::vector<fs::path> holders = {
        r / "cwd", r / "data/kavren-nodrel/sounds", r / "d1/kavren-nodrel/sounds",
        r / "d2/kavren-nodrel/sounds", r / "p/share/kavren-nodrel/sounds"};
    for (const fs::path& holder : holders) WriteFile(holder / "ding.wav", "");
    for (const fs::path& holder : holders) {
        EXPECT_EQ(FindSoundFile("ding.wav", folders), holder / "ding.wav");
        fs::remove(holder / "ding.wav");
    }
    EXPECT_FALSE(FindSoundFile("ding.wav", folders));
}

// A name that stands in a folder as something other than a file (a folder, a link to nothing, a
// pipe) is passed over for the next folder; a link to a file is taken as the file it names.
TEST(SoundLookup, ANameThatIsNoRegularFileIsPassedOverForTheNextFolder) {
    QTemporaryDir root;
    const fs::path r = root.path().toStdString();
    const std::vector<fs::path> folders = {r / "cwd", r / "data", r / "d1", r / "d2", r / "d3"};
    for (const fs::path& folder : folders) fs::create_directories(folder);
    fs::create_directory(r / "cwd/ding.wav");
    fs::create_symlink(r / "nowhere.wav", r / "data/ding.wav");
    ASSERT_EQ(mkfifo((r / "d1/ding.wav").c_str(), 0600), 0);
    fs::create_symlink(r / "d3", r / "d2/ding.wav");  // a link to a folder
    EXPECT_EQ(FindSoundFile("ding.wav", folders), std::nullopt);

    WriteFile(r / "d3/ding.wav", "RIFF");
    EXPECT_EQ(FindSoundFile("ding.wav", folders), r / "d3/ding.wav");
    WriteFile(r / "elsewhere/chime.wav", "RIFF");
    fs::remove(r / "d2/ding.wav");
    fs::create_symlink(r / "elsewhere/chime.wav", r / "d2/ding.wav");
    EXPECT_EQ(FindSoundFile("ding.wav", folders), r / "d2/ding.wav");
    EXPECT_EQ(FindSoundFile("ding.wav", {r / "cwd", r / "data", r / "d1"}), std::nullopt);
}

TEST(SoundPlayerFaults, NoServerIsSilentAndPrompt) {
    QTemporaryDir emptyFolder;
    UseShippedSoundsAndRuntimeFolder(emptyFolder.path().toStdString());
    // None where libpulse looks (which must start none of its own), then a named one not there.
    for (const bool named : {false, true}) {
        if (named) setenv("PULSE_SERVER", "unix:/nonexistent/pulse/native", 1);
        if (!named && fs::exists("/var/run/pulse/native")) continue;  // a system-wide one answers
        const auto [played, took] = TimedPlay("sound1.wav");
        EXPECT_FALSE(played);
        EXPECT_LT(took, 1s);
    }
}

TEST(SoundPlayerFaults, StoppedServerCostsOneBoundedWaitAndPlaysAgainOnceResumed) {
    START_SOUND_SERVER(server);
    UseShippedSoundsAndRuntimeFolder(server.folder());
    ASSERT_EQ(kill(server.pid(), SIGSTOP), 0);
    for (const auto bound : {400ms + 3s, 500ms}) {  // the second is refused at once
        const auto [played, took] = TimedPlay("sound1.wav");
        EXPECT_FALSE(played);
        EXPECT_LT(took, bound);
    }
    ASSERT_EQ(kill(server.pid(), SIGCONT), 0);
    bool played = false;
    for (const auto giveUp = Clock::now() + 10s; !played && Clock::now() < giveUp;) {
        played = PlaySoundFile("sound1.wav");
        if (!played) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(played);
}

TEST(SoundPlayerFaults, BadFilesAreRefusedSilentlyAndPromptly) {
    START_SOUND_SERVER(server);
    UseShippedSoundsAndRuntimeFolder(server.folder());
    const std::string good = ShippedSound();
    fs::create_directory("folder.wav");
    fs::create_symlink("nowhere.wav", "dangling.wav");
    // Where the current folder holds the shipped names as no file, the shipped cues still play.
    fs::create_directory("sound1.wav");
    fs::create_symlink("nowhere.wav", "sound.wav");
    // A file cut short after its header plays the samples it holds (libsndfile counts only those),
    // however many the header promised.
    const std::tuple<const char*, std::optional<std::string>, bool> cases[] = {
        {"good.wav", good, true},
        {"cut-data.wav", good.substr(0, good.size() / 2), true},
        {"frames-2G.wav", PatchedWav(44100, 1, 0xFFFFFF00u), true},
        {"missing.wav", std::nullopt, false},
        {"folder.wav", std::nullopt, false},
        {"dangling.wav", std::nullopt, false},
        {"sound1.wav", std::nullopt, true},
        {"sound.wav", std::nullopt, true},
        {"empty.wav", "", false},
        {"text.wav", "this is no sound at all\n", false},
        {"cut-header.wav", good.substr(0, 30), false},
        {"rate-0.wav", PatchedWav(0, 1, 4000), false},
        {"rate-10MHz.wav", PatchedWav(10'000'000, 1, 4000), false},
        {"channels-1000.wav", PatchedWav(44100, 1000, 4000), false},
        {"a-minute.wav", PatchedWav(8000, 1, 960'000) + std::string(960'000, '\0'), false}};
    for (const auto& [name, content, plays] : cases) {
        if (content) std::ofstream(name, std::ios::binary) << *content;
        EXPECT_EQ(PlayWithin(name, 1s), std::optional(plays)) << name;
    }
}

TEST(SoundPlayer, ACueLongerThanTheServersAllowancePlaysToItsEndAndTheNextIsNotRefused) {
    START_SOUND_SERVER(server);
    UseShippedSoundsAndRuntimeFolder(server.folder());
    std::ofstream("two-seconds.wav", std::ios::binary)
        << PatchedWav(8000, 1, 32000).substr(0, 44 + 32000);
    const auto [played, took] = TimedPlay("two-seconds.wav");
    EXPECT_TRUE(played);
    EXPECT_GE(took, 2s);
    EXPECT_TRUE(PlaySoundFile("sound1.wav"));
}

}  // namespace
}  // namespace nodrel::platform
