#pragma once

// Moves the twenty-one persisted settings, and the journal and notification switches after them,
// between the per-user store and the objects that hold them while the program runs. Loading
// happens once while the window is being created, saving when it closes (and at a session save),
// all values in one file written once; a load absorbs every store failure, a save tells its
// caller what became of it.

#include <QString>
#include <cstdint>
#include <optional>

#include "registry_store.h"

namespace nodrel {

enum class ModeByte { View, Size, Blink };

// The colour table, in its order in memory (the stored names are col2, col1, col3, col4, col5).
enum class ColourSlot { NoResult, Success, Failure, FailureBlink, Background };

// The cell geometry, in its order in memory.
enum class GeometryValue { Width, Height, SpaceHeight, SpaceWidth };

inline const QString kSettingsKeyPath = QStringLiteral("\\Software\\KAVREN\\Nodrel\\");

// Probed when nothing is stored: Google's public resolver, which answers echo requests and is
// served from nearby everywhere.
inline const QString kDefaultHost = QStringLiteral("dns.google");

// Timeout and interval, milliseconds, as the options dialog offers them.
inline constexpr int32_t kMinProbeMilliseconds = 1000;
inline constexpr int32_t kMaxProbeMilliseconds = 60000;
inline constexpr int32_t kFallbackProbeMilliseconds = 5000;
inline constexpr int32_t kFallbackLeft = 20;

// Where each setting lives while the program runs; the main window's settings implement this,
// forwarding timeout and address to its ping component and the interval to the worker.
class SettingsHolders {
public:
    virtual ~SettingsHolders() = default;

    virtual int32_t WindowLeft() const = 0;
    virtual void SetWindowLeft(int32_t left) = 0;
    virtual int32_t WindowTop() const = 0;
    virtual void SetWindowTop(int32_t top) = 0;
    virtual int32_t WindowHeight() const = 0;
    virtual int32_t FirstMonitorHeight() const = 0;
    virtual bool WindowVisible() const = 0;
    virtual void SetShowAtStart(bool show) = 0;

    virtual uint8_t Mode(ModeByte which) const = 0;
    virtual void SetMode(ModeByte which, uint8_t value) = 0;
    virtual uint32_t Colour(ColourSlot slot) const = 0;
    virtual void SetColour(ColourSlot slot, uint32_t colour) = 0;
    virtual uint32_t FrameColour() const = 0;  // Panel2's colour, stored as col6
    virtual void SetFrameColour(uint32_t colour) = 0;
    virtual uint16_t Geometry(GeometryValue which) const = 0;
    virtual void SetGeometry(GeometryValue which, uint16_t value) = 0;

    // The check marks that are the sound and alpha settings themselves.
    virtual bool SoundsMarked() const = 0;
    virtual void SetSoundsMarked(bool marked) = 0;
    virtual bool TransparentMarked() const = 0;
    virtual void SetTransparentMarked(bool marked) = 0;
    // Stored past the twenty-one, as `notify`; on unless the store says otherwise.
    virtual bool NotifyMarked() const = 0;
    virtual void SetNotifyMarked(bool marked) = 0;
    // Marks the radio item of a view mode (1 graph, otherwise history) or a blink mode (1 to 3),
    // clearing the other items of its group.
    virtual void MarkViewModeItem(uint8_t viewMode) = 0;
    virtual void MarkBlinkModeItem(uint8_t blinkMode) = 0;

    virtual int32_t Timeout() const = 0;
    virtual void SetTimeout(int32_t milliseconds) = 0;
    virtual QString Address() const = 0;
    virtual void SetAddress(const QString& host) = 0;
    virtual int32_t Interval() const = 0;
    virtual void SetInterval(int32_t milliseconds) = 0;

    // Past the twenty-one values: whether the journal is kept (on unless stored off).
    virtual bool JournalOn() const = 0;
    virtual void SetJournalOn(bool on) = 0;
};

// Said of a save whose new file took the old one's place but whose folder the disk did not
// confirm: the values are in the file, but a crash may still bring the old file back.
inline const QString kSavedUnconfirmed = QStringLiteral("saved, but the disk did not confirm it");

// Why the store refused an open or a save.
struct StoreFailure {
    QString path;  // the store's file
    // As the system said it, e.g. "No space left on device"; after kSavedUnconfirmed and ": "
    // when the values are in the file all the same.
    QString reason;
    bool written = false;  // the file holds the values; only the disk's confirmation failed
};

// The operations the two procedures need of the store; a seam for tests.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Writes after an Open reach the store together, at Commit.
    virtual bool Open(const QString& keyPath) = 0;
    virtual std::optional<uint32_t> ReadInteger(const QString& name) = 0;
    virtual std::optional<QString> ReadString(const QString& name) = 0;
    virtual bool WriteInteger(const QString& name, uint32_t value) = 0;
    virtual bool WriteString(const QString& name, const QString& text) = 0;
    virtual bool Commit() = 0;
    virtual void Close() = 0;
    // After a failed Open, write or Commit: what failed and why.
    virtual StoreFailure LastFailure() const = 0;
};

// The user's own store (platform::RegistryKey).
class UserSettingsStore : public SettingsStore {
public:
    bool Open(const QString& keyPath) override;
    std::optional<uint32_t> ReadInteger(const QString& name) override;
    std::optional<QString> ReadString(const QString& name) override;
    bool WriteInteger(const QString& name, uint32_t value) override;
    bool WriteString(const QString& name, const QString& text) override;
    bool Commit() override;
    void Close() override;
    StoreFailure LastFailure() const override;

private:
    std::optional<platform::RegistryKey> key_;
    QString path_;
    QString openFailure_;
};

void LoadSettings(SettingsHolders& holders, SettingsStore& store);
// Nothing when every value reached the store, else what became of the save: a failed save leaves
// the store as it was.
std::optional<StoreFailure> SaveSettings(const SettingsHolders& holders, SettingsStore& store);

// With the user's own store.
void LoadSettings(SettingsHolders& holders);
std::optional<StoreFailure> SaveSettings(const SettingsHolders& holders);

}  // namespace nodrel
