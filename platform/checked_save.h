#pragma once

// A file replaced as a whole, with every step checked, as QSaveFile does it: the new contents go
// to a file of their own beside the file, reach the disk, and only then take its name, so a crash
// or a full disk leaves either the old file or the new one. A symbolic link stays: the file it
// finally leads to is the one replaced.

#include <QByteArrayView>
#include <QString>
#include <optional>

#include "system_error.h"

namespace nodrel::platform {

// What became of a save.
struct SaveOutcome {
    // The new bytes took the file's name: whoever reads the file now reads them.
    bool replaced = false;
    // Empty when the save went through to the disk; else the system's reason. With `replaced`,
    // only the folder's sync failed: the new file is in place, but a crash may still bring the old
    // one back.
    QString failure;
};

// Replaces the file `path` leads to with `bytes`, keeping its permissions. A link that leads
// nowhere is a failed save.
SaveOutcome SaveWholeFile(const QString& path, QByteArrayView bytes);

// The file a save of `path` replaces: the final target of a symbolic link, else `path` itself,
// whether or not it exists. nullopt, with errno set, for a link that leads nowhere.
std::optional<QString> SaveTarget(const QString& path);

// Removes what saves of `path` that were killed more than a minute ago left behind.
void RemoveLeftoverSaveFiles(const QString& path);

}  // namespace nodrel::platform
