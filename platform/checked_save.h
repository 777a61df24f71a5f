#pragma once

// A file replaced as a whole, with every step checked: the new contents go to a file of their own
// beside it, reach the disk, and only then take the file's name, so a crash or a full disk leaves
// either the old file or the new one.

#include <QByteArrayView>
#include <QString>
#include <optional>

namespace nodrel::platform {

// Replaces the file at `path` with `bytes`, keeping its permissions; nullopt when the new bytes
// are in place and on the disk, else the system's reason, with the old file as it was.
std::optional<QString> SaveWholeFile(const QString& path, QByteArrayView bytes);

// Removes what saves of `path` that were killed more than a minute ago left behind.
void RemoveLeftoverSaveFiles(const QString& path);

// The system's text for an errno value, e.g. "No space left on device".
QString SystemError(int number);

}  // namespace nodrel::platform
