#pragma once

// The History window's size, kept in the settings store beside the twenty-one values as the
// DWORDs "historywidth" and "historyheight": the window writes them when it closes, and a store
// without them opens it at its default size.

#include <QSize>
#include <optional>

#include "settings.h"

namespace nodrel {

// Nothing when the store holds no plausible size.
std::optional<QSize> LoadHistoryWindowSize(SettingsStore& store);
// Nothing when both values reached the store, else why not.
std::optional<StoreFailure> SaveHistoryWindowSize(SettingsStore& store, QSize size);

}  // namespace nodrel
