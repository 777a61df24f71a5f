#include "history_window_size.h"

#include <algorithm>

namespace nodrel {

namespace {

const QString kWidthName = QStringLiteral("historywidth");
const QString kHeightName = QStringLiteral("historyheight");
// An edited store can hold anything; a window outside these would be unusable.
constexpr uint32_t kMinSide = 200;
constexpr uint32_t kMaxSide = 16384;

bool Plausible(uint32_t side) {
    return side >= kMinSide && side <= kMaxSide;
}

}  // namespace

std::optional<QSize> LoadHistoryWindowSize(SettingsStore& store) {
    if (!store.Open(kSettingsKeyPath)) return std::nullopt;
    const std::optional<uint32_t> width = store.ReadInteger(kWidthName);
    const std::optional<uint32_t> height = store.ReadInteger(kHeightName);
    store.Close();
    if (!width || !height || !Plausible(*width) || !Plausible(*height)) return std::nullopt;
    return QSize(int(*width), int(*height));
}

std::optional<StoreFailure> SaveHistoryWindowSize(SettingsStore& store, QSize size) {
    std::optional<StoreFailure> failure;
    if (!store.Open(kSettingsKeyPath) ||
        !store.WriteInteger(kWidthName, uint32_t(std::max(0, size.width()))) ||
        !store.WriteInteger(kHeightName, uint32_t(std::max(0, size.height()))) || !store.Commit()) {
        failure = store.LastFailure();
    }
    store.Close();
    return failure;
}

}  // namespace nodrel
