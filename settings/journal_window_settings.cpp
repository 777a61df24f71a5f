#include "journal_window_settings.h"

#include <algorithm>

namespace nodrel {

namespace {

const QString kWidthName = QStringLiteral("historywidth");
const QString kHeightName = QStringLiteral("historyheight");
const QString kSpanName = QStringLiteral("journalspan");
const QString kExportFolderName = QStringLiteral("journalexportfolder");
// An edited store can hold anything; a window outside these would be unusable.
constexpr uint32_t kMinSide = 200;
constexpr uint32_t kMaxSide = 16384;
constexpr uint32_t kSpans = 5;

bool Plausible(uint32_t side) {
    return side >= kMinSide && side <= kMaxSide;
}

}  // namespace

TJournalWindowSettings LoadJournalWindowSettings(SettingsStore& store) {
    TJournalWindowSettings settings;
    if (!store.Open(kSettingsKeyPath)) return settings;
    const std::optional<uint32_t> width = store.ReadInteger(kWidthName);
    const std::optional<uint32_t> height = store.ReadInteger(kHeightName);
    if (width && height && Plausible(*width) && Plausible(*height)) {
        settings.Size = QSize(int(*width), int(*height));
    }
    settings.Span = store.ReadInteger(kSpanName);
    if (settings.Span && *settings.Span >= kSpans) settings.Span.reset();
    settings.ExportFolder = store.ReadString(kExportFolderName).value_or(QString());
    store.Close();
    return settings;
}

bool SaveJournalWindowSettings(SettingsStore& store, const TJournalWindowSettings& settings) {
    bool saved = store.Open(kSettingsKeyPath);
    if (saved && settings.Size) {
        saved = store.WriteInteger(kWidthName, uint32_t(std::max(0, settings.Size->width()))) &&
                store.WriteInteger(kHeightName, uint32_t(std::max(0, settings.Size->height())));
    }
    if (saved && settings.Span) saved = store.WriteInteger(kSpanName, *settings.Span);
    if (saved && !settings.ExportFolder.isEmpty()) {
        saved = store.WriteString(kExportFolderName, settings.ExportFolder);
    }
    saved = saved && store.Commit();
    store.Close();
    return saved;
}

}  // namespace nodrel
