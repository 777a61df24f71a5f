#include "settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <string_view>
#include <variant>

#include "support/small_file_system.h"
#include "support/test_store.h"

namespace nodrel {
namespace {

using platform::RegistryKey;

// What the window holds at process start, before any load: colours 0x00BBGGRR.
constexpr std::array<uint32_t, 5> kFirstStartColours{
    0x00C0C0C0,  // silver: no result yet
    0x00FF0000,  // blue: success
    0x000000FF,  // red: failure
    0x000080FF,  // orange: failure, blink phase
    0x00FFFFFF,  // white: background
};
constexpr uint32_t kFirstStartFrameColour = 0x00000000;  // black
constexpr std::array<uint16_t, 4> kFirstStartGeometry{5, 3, 1, 1};

// The mode bytes, colour table and geometry, in their orders in memory.
struct DisplaySettings {
    std::array<uint8_t, 3> modes{};  // zero until loaded
    std::array<uint32_t, 5> colours = kFirstStartColours;
    std::array<uint16_t, 4> geometry = kFirstStartGeometry;

    uint8_t& Mode(ModeByte which) { return modes[static_cast<size_t>(which)]; }
    uint32_t& Colour(ColourSlot slot) { return colours[static_cast<size_t>(slot)]; }
    uint16_t& Geometry(GeometryValue which) { return geometry[static_cast<size_t>(which)]; }

    bool operator==(const DisplaySettings&) const = default;
};

struct HeldValues {
    int32_t left = 192, top = 107;
    int32_t windowHeight = 99, monitorHeight = 1080;
    bool visible = true, showAtStart = false;
    DisplaySettings display;
    uint32_t frame = kFirstStartFrameColour;
    bool sounds = false, transparent = false;
    bool notify = true;
    uint8_t viewItem = 2, blinkItem = 1;  // the marks the menus are designed with
    int32_t timeout = 4000, interval = 0;
    QString address;
    bool journal = true;
    bool operator==(const HeldValues&) const = default;
};

class TestHolders : public SettingsHolders {
public:
    explicit TestHolders(HeldValues values = {}) : v(std::move(values)) {}
    int32_t WindowLeft() const override { return v.left; }
    void SetWindowLeft(int32_t left) override { v.left = left; }
    int32_t WindowTop() const override { return v.top; }
    void SetWindowTop(int32_t top) override { v.top = top; }
    int32_t WindowHeight() const override { return v.windowHeight; }
    int32_t FirstMonitorHeight() const override { return v.monitorHeight; }
    bool WindowVisible() const override { return v.visible; }
    void SetShowAtStart(bool show) override { v.showAtStart = show; }
    uint8_t Mode(ModeByte which) const override {
        return v.display.modes[static_cast<size_t>(which)];
    }
    void SetMode(ModeByte which, uint8_t value) override { v.display.Mode(which) = value; }
    uint32_t Colour(ColourSlot slot) const override {
        return v.display.colours[static_cast<size_t>(slot)];
    }
    void SetColour(ColourSlot slot, uint32_t colour) override { v.display.Colour(slot) = colour; }
    uint32_t FrameColour() const override { return v.frame; }
    void SetFrameColour(uint32_t colour) override { v.frame = colour; }
    uint16_t Geometry(GeometryValue which) const override {
        return v.display.geometry[static_cast<size_t>(which)];
    }
    void SetGeometry(GeometryValue which, uint16_t value) override {
        v.display.Geometry(which) = value;
    }
    bool SoundsMarked() const override { return v.sounds; }
    void SetSoundsMarked(bool marked) override { v.sounds = marked; }
    bool TransparentMarked() const override { return v.transparent; }
    void SetTransparentMarked(bool marked) override { v.transparent = marked; }
    bool NotifyMarked() const override { return v.notify; }
    void SetNotifyMarked(bool marked) override { v.notify = marked; }
    void MarkViewModeItem(uint8_t viewMode) override { v.viewItem = viewMode; }
    void MarkBlinkModeItem(uint8_t blinkMode) override { v.blinkItem = blinkMode; }
    int32_t Timeout() const override { return v.timeout; }
    void SetTimeout(int32_t milliseconds) override { v.timeout = milliseconds; }
    QString Address() const override { return v.address; }
    void SetAddress(const QString& host) override { v.address = host; }
    int32_t Interval() const override { return v.interval; }
    void SetInterval(int32_t milliseconds) override { v.interval = milliseconds; }
    bool JournalOn() const override { return v.journal; }
    void SetJournalOn(bool on) override { v.journal = on; }

    HeldValues v;
};

using Stored = testing::StoredValue;

// A store written by an earlier run, in the order the program writes it.
const std::vector<std::pair<QString, Stored>> kSampleStore{
    {"left", uint32_t(-1200)},
    {"top", uint32_t(-50)},
    {"viewmode", 1u},
    {"modenum", 1u},
    {"blinkmode", 3u},
    {"col1", 0x11u},
    {"col2", 0x22u},
    {"col3", 0x33u},
    {"col4", 0x44u},
    {"col5", 0x55u},
    {"col6", 0x66u},
    {"w", 7u},
    {"h", 9u},
    {"ws", 4u},
    {"hs", 2u},
    {"sound", 1u},
    {"alpha", 1u},
    {"timeout", 12000u},
    {"interval", 30000u},
    {"host", QString("probe.example")},
    {"minimized", 1u},
    {"journal", 1u},
    {"notify", 1u},
};

// What kSampleStore loads into.
HeldValues Sample() {
    HeldValues v;
    v.left = -1200;
    v.top = -50;
    v.display = {{1, 1, 3}, {0x22, 0x11, 0x33, 0x44, 0x55}, {7, 9, 2, 4}};
    v.frame = 0x66;
    v.sounds = v.transparent = true;
    v.viewItem = 1;
    v.blinkItem = 3;
    v.timeout = 12000;
    v.interval = 30000;
    v.address = "probe.example";
    return v;
}

HeldValues WithFallback(HeldValues v) {
    v.showAtStart = true;
    v.display.modes = {2, 2, 1};
    v.left = 20;
    v.top = 1080 - 99;
    v.timeout = v.interval = 5000;
    v.address = kDefaultHost;
    return v;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    }

    // A fresh store holding kSampleStore, less one value or with some replaced.
    void Store(const QString& omitted = {}, const testing::StoreValues& replaced = {}) {
        testing::StoreValues values(kSampleStore.begin(), kSampleStore.end());
        values.erase(omitted);
        for (const auto& [name, value] : replaced) values[name] = value;
        ASSERT_TRUE(testing::WriteStore(values));
    }
    HeldValues Load() {
        TestHolders holders;
        LoadSettings(holders);
        return holders.v;
    }
    QString StorePath() const { return home_.path() + "/KAVREN/Nodrel.reg"; }
    QByteArray StoreBytes() const {
        QFile file(StorePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::optional<platform::RegistryFile> OnDisk() const {
        return platform::ParseRegistryFile(StoreBytes());
    }
    void ExpectSaveFailure(const QString& path, const QString& reason) {
        const std::optional<StoreFailure> failure = SaveSettings(TestHolders(WithFallback({})));
        ASSERT_TRUE(failure) << "saved to " << path.toStdString();
        EXPECT_EQ(failure->path, path);
        EXPECT_EQ(failure->reason, reason);
    }

    QTemporaryDir home_;
};

TEST_F(SettingsTest, FirstStartCreatesAnEmptyKeyAndTheCloseWritesAllValuesInOrder) {
    const HeldValues loaded = Load();
    EXPECT_EQ(loaded, WithFallback({}));
    ASSERT_TRUE(OnDisk());
    EXPECT_TRUE(OnDisk()->values.empty());

    SaveSettings(TestHolders(loaded));
    const auto file = OnDisk();
    ASSERT_TRUE(file && file->values.size() == kSampleStore.size());
    for (size_t i = 0; i < kSampleStore.size(); ++i) {
        EXPECT_EQ(file->values[i].name, kSampleStore[i].first);
    }
    auto key = RegistryKey::Open(kSettingsKeyPath);
    EXPECT_EQ(key->ReadInteger("minimized"), 0u);
    EXPECT_EQ(key->ReadString("host"), kDefaultHost);
}

TEST_F(SettingsTest, AllTwentyOneValuesSurviveACloseAndAStart) {
    HeldValues closing = Sample();
    closing.visible = false;
    SaveSettings(TestHolders(closing));
    EXPECT_EQ(Load(), Sample());
}

TEST_F(SettingsTest, AMissingValueEndsTheReadsWithTheFallbackExceptTheHost) {
    Store("interval");
    HeldValues expected;
    expected.display.colours = Sample().display.colours;
    expected.frame = Sample().frame;
    expected.sounds = true;
    EXPECT_EQ(Load(), WithFallback(expected));

    Store("minimized");
    EXPECT_EQ(Load(), WithFallback(Sample()));

    Store("host");  // no failure: the address is empty text
    expected = Sample();
    expected.address = "";
    EXPECT_EQ(Load(), expected);
}

// `journal` and `notify` come after the twenty-one: a store of an earlier version, without them,
// loads as before with both on; an "off" is kept also when an older value is missing.
TEST_F(SettingsTest, TheSwitchesAfterTheTwentyOneAreOnUnlessTheStoreTurnedThemOff) {
    for (const char* name : {"journal", "notify"}) {
        SCOPED_TRACE(name);
        const auto off = [&](HeldValues& v) -> bool& {
            return std::string_view(name) == "journal" ? v.journal : v.notify;
        };
        Store(QString::fromLatin1(name));
        EXPECT_EQ(Load(), Sample());

        Store({}, {{QString::fromLatin1(name), 0u}});
        HeldValues expected = Sample();
        off(expected) = false;
        EXPECT_EQ(Load(), expected);
        SaveSettings(TestHolders(expected));
        EXPECT_EQ(RegistryKey::Open(kSettingsKeyPath)->ReadInteger(name), 0u);

        Store("interval", {{QString::fromLatin1(name), 0u}});
        HeldValues loaded = Load();
        EXPECT_FALSE(off(loaded));
    }
}

TEST_F(SettingsTest, StoredValuesOfTheWrongTypeOrRangeHaveTheirDefinedEffect) {
    Store({}, {{"left", QString("20")}});
    EXPECT_EQ(Load(), WithFallback({}));

    Store({}, {{"left", 5u}, {"sound", 2u}, {"minimized", 2u}});
    HeldValues expected = Sample();
    expected.left = 5;
    expected.sounds = false;
    EXPECT_EQ(Load(), expected);

    // Modes keep any value after truncation; the renderer and menus define what others mean.
    // Geometry is cut to 16 bits before the range applies: 0x10005 is 5, 0x10103 is 259.
    Store({}, {{"viewmode", 258u},
               {"modenum", 3u},
               {"blinkmode", 0u},
               {"w", 65541u},
               {"h", 0x00010103u}});
    expected = Sample();
    expected.display.modes = {2, 3, 0};
    expected.viewItem = 2;
    expected.blinkItem = 1;  // no blink item marked: the designed one stays
    expected.display.Geometry(GeometryValue::Width) = 5;
    expected.display.Geometry(GeometryValue::Height) = 10;
    EXPECT_EQ(Load(), expected);

    // What the options dialog could not produce is brought into its ranges.
    Store({}, {{"timeout", 0xffffffffu},
               {"interval", 4000000u},
               {"h", 0x10000u},
               {"ws", 9u},
               {"hs", 65535u}});
    expected = Sample();
    expected.timeout = 1000;
    expected.interval = 60000;
    expected.display.geometry = {7, 1, 5, 5};
    EXPECT_EQ(Load(), expected);
}

TEST_F(SettingsTest, AKeyThatCannotBeOpenedGetsTheFallbackAndSavesNothing) {
    QFile blocker(home_.path() + "/KAVREN");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_EQ(Load(), WithFallback({}));
    SaveSettings(TestHolders(Sample()));
    EXPECT_EQ(blocker.size(), 0);
}

TEST_F(SettingsTest, AnUnreadableFileGetsTheFallbackAndIsKeptAtTheClose) {
    Store();
    QFile file(home_.path() + "/KAVREN/Nodrel.reg");
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("\"broken\n");
    file.close();
    EXPECT_EQ(Load(), WithFallback({}));

    SaveSettings(TestHolders(Sample()));
    EXPECT_EQ(OnDisk()->values.size(), kSampleStore.size());
    const QStringList kept = QDir(home_.path() + "/KAVREN").entryList({"Nodrel.reg.broken-*"});
    ASSERT_EQ(kept.size(), 1);
    QFile broken(home_.path() + "/KAVREN/" + kept[0]);
    ASSERT_TRUE(broken.open(QIODevice::ReadOnly));
    EXPECT_TRUE(broken.readAll().endsWith("\"broken\n"));
}

TEST_F(SettingsTest, ASaveThatCannotReachTheFileSaysWhereAndWhy) {
    QDir().mkpath(StorePath());  // a folder where the file should be
    ExpectSaveFailure(StorePath(), "Is a directory");

    const QString file = home_.path() + "/not-a-folder";
    QFile blocker(file);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    qputenv("XDG_CONFIG_HOME", file.toUtf8());
    ExpectSaveFailure(file + "/KAVREN/Nodrel.reg", "Not a directory");
}

// Full or read-only: the save of all values stops at once and the old file stays as it was.
TEST_F(SettingsTest, ASaveToAFullOrReadOnlyDiskKeepsTheStoreAndSaysWhy) {
    NODREL_REQUIRE_SMALL_FILE_SYSTEM((home_.path() + "/KAVREN").toStdString());
    Store();
    const QByteArray before = StoreBytes();
    ASSERT_TRUE(testing::FillFileSystem((home_.path() + "/KAVREN").toStdString()));
    ExpectSaveFailure(StorePath(), "No space left on device");
    EXPECT_EQ(StoreBytes(), before);

    ASSERT_TRUE(QFile::remove(home_.path() + "/KAVREN/filler"));
    ASSERT_TRUE(testing::RemountReadOnly((home_.path() + "/KAVREN").toStdString()));
    ExpectSaveFailure(StorePath(), "Read-only file system");
    EXPECT_EQ(StoreBytes(), before);
    EXPECT_EQ(Load(), Sample());
}

// Settings kept in a dotfiles folder: the store is a link, and stays one. The saved values go to
// its target, their temporary file beside it; a link to nothing or into a read-only folder is a
// failed save that says why and keeps what the target held.
TEST_F(SettingsTest, AStoreThatIsALinkStaysOneAndItsTargetHoldsTheSavedValues) {
    const QString dotfiles = home_.path() + "/dotfiles";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(dotfiles.toStdString());
    const QString target = dotfiles + "/nodrel.reg";
    Store();
    ASSERT_TRUE(QFile::rename(StorePath(), target));
    ASSERT_TRUE(QFile::link("../dotfiles/nodrel.reg", StorePath()));
    const auto targetBytes = [&] {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto linkStands = [&] {
        EXPECT_EQ(QFileInfo(StorePath()).symLinkTarget(), target);
        EXPECT_EQ(
            QDir(home_.path() + "/KAVREN")
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList("Nodrel.reg"));
    };

    HeldValues closing = Sample();
    closing.left = 33;
    EXPECT_EQ(SaveSettings(TestHolders(closing)), std::nullopt);
    linkStands();
    EXPECT_EQ(QDir(dotfiles).entryList(QDir::Files | QDir::Hidden), QStringList("nodrel.reg"));
    const auto saved = platform::ParseRegistryFile(targetBytes());
    ASSERT_TRUE(saved && saved->values.size() == 23u);
    const platform::RegistryValue left{"left", platform::REG_DWORD, QByteArray("\x21\0\0\0", 4)};
    EXPECT_EQ(std::ranges::count(saved->values, left), 1);
    HeldValues expected = Sample();
    expected.left = 33;
    expected.showAtStart = true;
    EXPECT_EQ(Load(), expected);

    // A broken target is kept beside itself, and the link leads to a fresh key.
    ASSERT_TRUE(QFile::remove(target));
    QFile broken(target);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly) && broken.write("garbage") == 7);
    broken.close();
    EXPECT_EQ(Load(), WithFallback({}));
    linkStands();
    const QStringList kept = QDir(dotfiles).entryList({"nodrel.reg.broken-*"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(SaveSettings(TestHolders(closing)), std::nullopt);
    EXPECT_EQ(Load(), expected);

    const QByteArray before = targetBytes();
    ASSERT_TRUE(testing::RemountReadOnly(dotfiles.toStdString()));
    ExpectSaveFailure(StorePath(), "Read-only file system");
    linkStands();
    EXPECT_EQ(targetBytes(), before);
    testing::UnmountSmallFileSystem(dotfiles.toStdString());

    ExpectSaveFailure(StorePath(), "No such file or directory");  // the target's folder is empty
    linkStands();
    EXPECT_EQ(QDir(dotfiles).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

class FailingStore : public UserSettingsStore {
public:
    explicit FailingStore(QString failingName) : failingName_(std::move(failingName)) {}
    bool WriteInteger(const QString& name, uint32_t value) override {
        return name != failingName_ && UserSettingsStore::WriteInteger(name, value);
    }

private:
    QString failingName_;
};

// All values of a close go in one save: a write that fails midway leaves none of them stored.
TEST_F(SettingsTest, AFailingWriteLeavesTheWholeStoreAsItWas) {
    Store();
    const QByteArray before = StoreBytes();
    FailingStore store("sound");
    EXPECT_TRUE(SaveSettings(TestHolders(WithFallback({})), store));
    EXPECT_EQ(StoreBytes(), before);
    EXPECT_EQ(Load(), Sample());
}

}  // namespace
}  // namespace nodrel
