#include "settings.h"

#include <algorithm>
#include <utility>

namespace nodrel {

namespace {

// Stored names in the order both procedures visit them.
constexpr std::pair<const char*, ColourSlot> kStoredColours[] = {
    {"col1", ColourSlot::Success},    {"col2", ColourSlot::NoResult},
    {"col3", ColourSlot::Failure},    {"col4", ColourSlot::FailureBlink},
    {"col5", ColourSlot::Background},
};
constexpr std::pair<const char*, GeometryValue> kStoredGeometry[] = {
    {"w", GeometryValue::Width},
    {"h", GeometryValue::Height},
    {"ws", GeometryValue::SpaceWidth},
    {"hs", GeometryValue::SpaceHeight},
};

// An edited store can hold anything; the window and the worker are only ever tested with what
// the options dialog offers.
int32_t ClampProbeMilliseconds(uint32_t stored) {
    return std::clamp(static_cast<int32_t>(stored), kMinProbeMilliseconds, kMaxProbeMilliseconds);
}

uint16_t ClampGeometry(GeometryValue which, uint32_t stored) {
    const auto value = static_cast<uint16_t>(stored);
    const bool space = which == GeometryValue::SpaceWidth || which == GeometryValue::SpaceHeight;
    return space ? std::min<uint16_t>(value, 5) : std::clamp<uint16_t>(value, 1, 10);
}

// Reads one integer and hands it to apply; false when the read failed.
template <typename Apply>
bool ReadInteger(SettingsStore& store, const char* name, Apply apply) {
    const std::optional<uint32_t> value = store.ReadInteger(QString::fromLatin1(name));
    if (value) apply(*value);
    return value.has_value();
}

// Applies each value right after reading it; false at the first read that fails, leaving the
// values before it applied and the ones after it untouched.
bool ReadAll(SettingsHolders& holders, SettingsStore& store) {
    const auto readMode = [&](const char* name, ModeByte which) {
        return ReadInteger(store, name,
                           [&](uint32_t v) { holders.SetMode(which, static_cast<uint8_t>(v)); });
    };

    if (!ReadInteger(store, "left", [&](uint32_t v) { holders.SetWindowLeft(int32_t(v)); }) ||
        !ReadInteger(store, "top", [&](uint32_t v) { holders.SetWindowTop(int32_t(v)); }) ||
        !readMode("viewmode", ModeByte::View) || !readMode("modenum", ModeByte::Size) ||
        !readMode("blinkmode", ModeByte::Blink)) {
        return false;
    }
    for (const auto& stored : kStoredColours) {
        const ColourSlot slot = stored.second;
        if (!ReadInteger(store, stored.first, [&](uint32_t v) { holders.SetColour(slot, v); })) {
            return false;
        }
    }
    if (!ReadInteger(store, "col6", [&](uint32_t v) { holders.SetFrameColour(v); }) ||
        !ReadInteger(store, "sound", [&](uint32_t v) { holders.SetSoundsMarked(v == 1); }) ||
        !ReadInteger(store, "timeout",
                     [&](uint32_t v) { holders.SetTimeout(ClampProbeMilliseconds(v)); })) {
        return false;
    }
    // A missing host reads as empty text and is no failure.
    const std::optional<QString> host = store.ReadString(QStringLiteral("host"));
    if (!host) return false;
    holders.SetAddress(*host);
    if (!ReadInteger(store, "interval",
                     [&](uint32_t v) { holders.SetInterval(ClampProbeMilliseconds(v)); }) ||
        !ReadInteger(store, "alpha", [&](uint32_t v) { holders.SetTransparentMarked(v == 1); })) {
        return false;
    }
    for (const auto& stored : kStoredGeometry) {
        const GeometryValue which = stored.second;
        if (!ReadInteger(store, stored.first, [&](uint32_t v) {
                holders.SetGeometry(which, ClampGeometry(which, v));
            })) {
            return false;
        }
    }

    holders.MarkViewModeItem(holders.Mode(ModeByte::View) == 1 ? 1 : 2);
    const uint8_t blinkMode = holders.Mode(ModeByte::Blink);
    if (blinkMode >= 1 && blinkMode <= 3) holders.MarkBlinkModeItem(blinkMode);

    return ReadInteger(store, "minimized", [&](uint32_t v) { holders.SetShowAtStart(v == 0); });
}

// Deliberately leaves the colours, geometry, switches and menu marks as they are.
void ApplyFallback(SettingsHolders& holders) {
    holders.SetShowAtStart(true);
    holders.SetMode(ModeByte::View, 2);
    holders.SetMode(ModeByte::Blink, 1);
    holders.SetMode(ModeByte::Size, 2);
    holders.SetWindowLeft(kFallbackLeft);
    holders.SetWindowTop(holders.FirstMonitorHeight() - holders.WindowHeight());
    holders.SetTimeout(kFallbackProbeMilliseconds);
    holders.SetAddress(kDefaultHost);
    holders.SetInterval(kFallbackProbeMilliseconds);
}

// False at the first write that fails. The writes reach the store only at its Commit.
bool WriteAll(const SettingsHolders& holders, SettingsStore& store) {
    const auto write = [&store](const char* name, uint32_t value) {
        return store.WriteInteger(QString::fromLatin1(name), value);
    };

    if (!write("left", uint32_t(holders.WindowLeft())) ||
        !write("top", uint32_t(holders.WindowTop())) ||
        !write("viewmode", holders.Mode(ModeByte::View)) ||
        !write("modenum", holders.Mode(ModeByte::Size)) ||
        !write("blinkmode", holders.Mode(ModeByte::Blink))) {
        return false;
    }
    for (const auto& [name, slot] : kStoredColours) {
        if (!write(name, holders.Colour(slot))) return false;
    }
    if (!write("col6", holders.FrameColour())) return false;
    for (const auto& [name, which] : kStoredGeometry) {
        if (!write(name, holders.Geometry(which))) return false;
    }
    return write("sound", holders.SoundsMarked() ? 1 : 0) &&
           write("alpha", holders.TransparentMarked() ? 1 : 0) &&
           write("timeout", uint32_t(holders.Timeout())) &&
           write("interval", uint32_t(holders.Interval())) &&
           store.WriteString(QStringLiteral("host"), holders.Address()) &&
           write("minimized", holders.WindowVisible() ? 0 : 1) &&
           write("journal", holders.JournalOn() ? 1 : 0) &&
           write("notify", holders.NotifyMarked() ? 1 : 0);
}

}  // namespace

bool UserSettingsStore::Open(const QString& keyPath) {
    path_ = platform::RegistryFilePath(keyPath);
    key_ = platform::RegistryKey::Open(keyPath, &openFailure_);
    if (key_) key_->BeginBatch();
    return key_.has_value();
}

std::optional<uint32_t> UserSettingsStore::ReadInteger(const QString& name) {
    return key_ ? key_->ReadInteger(name) : std::nullopt;
}

std::optional<QString> UserSettingsStore::ReadString(const QString& name) {
    return key_ ? key_->ReadString(name) : std::nullopt;
}

bool UserSettingsStore::WriteInteger(const QString& name, uint32_t value) {
    return key_ && key_->WriteInteger(name, value);
}

bool UserSettingsStore::WriteString(const QString& name, const QString& text) {
    return key_ && key_->WriteString(name, text);
}

bool UserSettingsStore::Commit() {
    return key_ && key_->CommitBatch();
}

void UserSettingsStore::Close() {
    key_.reset();
}

StoreFailure UserSettingsStore::LastFailure() const {
    if (!key_) return {path_, openFailure_};
    if (!key_->LastFailureAfterReplacing()) return {path_, key_->LastFailure()};
    return {path_, kSavedUnconfirmed + QStringLiteral(": ") + key_->LastFailure(), true};
}

void LoadSettings(SettingsHolders& holders, SettingsStore& store) {
    // A key that can be neither opened nor created gets the fallback values as well: without
    // them the modes and the interval would stay 0 and the worker would probe without pause.
    const bool opened = store.Open(kSettingsKeyPath);
    if (!opened || !ReadAll(holders, store)) ApplyFallback(holders);
    // Past the twenty-one, each read on its own: a store without it, or with an earlier value
    // missing, leaves the holder's default.
    if (opened) {
        ReadInteger(store, "journal", [&](uint32_t v) { holders.SetJournalOn(v != 0); });
        ReadInteger(store, "notify", [&](uint32_t v) { holders.SetNotifyMarked(v != 0); });
    }
    store.Close();
}

std::optional<StoreFailure> SaveSettings(const SettingsHolders& holders, SettingsStore& store) {
    std::optional<StoreFailure> failure;
    if (!store.Open(kSettingsKeyPath) || !WriteAll(holders, store) || !store.Commit()) {
        failure = store.LastFailure();
    }
    store.Close();
    return failure;
}

void LoadSettings(SettingsHolders& holders) {
    UserSettingsStore store;
    LoadSettings(holders, store);
}

std::optional<StoreFailure> SaveSettings(const SettingsHolders& holders) {
    UserSettingsStore store;
    return SaveSettings(holders, store);
}

}  // namespace nodrel
