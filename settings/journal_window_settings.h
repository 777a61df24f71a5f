#pragma once

// The Journal window's own values, kept in the settings store beside the twenty-one: its size as
// the DWORDs "historywidth" and "historyheight" (the names from before the window had its own),
// the span it shows as the DWORD "journalspan" (0 the hour, 1 the day, 2 the week, 3 the month,
// 4 the year) and the folder of its last export as the string "journalexportfolder". The window
// writes them when it closes; a store without them opens it at its defaults.

#include <QSize>
#include <QString>
#include <optional>

#include "settings.h"

namespace nodrel {

struct TJournalWindowSettings {
    std::optional<QSize> Size;
    std::optional<uint32_t> Span;
    QString ExportFolder;  // empty when none was stored
    bool operator==(const TJournalWindowSettings&) const = default;
};

// What the store holds; a value it lacks, or that is out of bounds, is left out.
TJournalWindowSettings LoadJournalWindowSettings(SettingsStore& store);
// True when every value given reached the store.
bool SaveJournalWindowSettings(SettingsStore& store, const TJournalWindowSettings& settings);

}  // namespace nodrel
