#pragma once

// A per-user store of typed named values, one file per key, standing in for the registry's
// HKEY_CURRENT_USER. The key "\Software\KAVREN\Nodrel\" is the file KAVREN/Nodrel.reg under the
// user's configuration folder, written in the registry editor's export format (registry_format.h)
// so the value types survive: a typed read fails on the wrong type exactly as it does on the
// registry.

#include <QString>
#include <cstdint>
#include <optional>

#include "registry_format.h"

namespace nodrel::platform {

// The file of a key path like "\Software\KAVREN\Nodrel\": its components after "Software" become
// folders under the user's configuration folder and the last one the file name with ".reg". Empty
// for a path that names no such file.
QString RegistryFilePath(const QString& keyPath);

// One open key. Every successful write has reached the disk when it returns, through a whole-file
// replacement (checked_save.h), so a crash or a full disk leaves either the old file or the new
// one; a file that is a symbolic link stays one, its target holding the values.
// A file that cannot be parsed reads as an empty key and is moved aside as
// "<file>.broken-<UTC time>" (said once on standard error) instead of being overwritten.
class RegistryKey {
public:
    // Opens the key, creating its folders and an empty file when they are missing; nullopt when
    // the path is not valid or the file can neither be read nor created, with the reason in
    // `failure` when given. Removes what saves killed more than a minute ago left behind.
    static std::optional<RegistryKey> Open(const QString& keyPath, QString* failure = nullptr);

    // The value when it is a REG_DWORD of at most 4 bytes (fewer bytes are zero-extended).
    std::optional<uint32_t> ReadInteger(const QString& name) const;
    // Empty text for a missing or empty value; for REG_SZ and REG_EXPAND_SZ the text up to its
    // first NUL, unexpanded; nullopt for any other type.
    std::optional<QString> ReadString(const QString& name) const;

    // Replace a value of any type; false, with the file and the key unchanged, when the file
    // can't be saved, LastFailure() then saying why (see also LastFailureAfterReplacing).
    bool WriteInteger(const QString& name, uint32_t value);
    bool WriteString(const QString& name, const QString& text);

    // Writes from BeginBatch on are read back at once but reach the file together, in one save at
    // CommitBatch; a failed commit leaves the file and the key as they were before the batch.
    void BeginBatch();
    bool CommitBatch();

    QString LastFailure() const { return lastFailure_; }
    // Whether the last failure came after the new file had taken the old one's place (only the
    // disk's confirmation failed): the key then holds what the file does.
    bool LastFailureAfterReplacing() const { return failedAfterReplacing_; }

    // Afterwards every read and write fails.
    void Close();

    QString FilePath() const { return path_; }

private:
    RegistryKey(QString path, RegistryFile contents, bool broken);

    // What reads see: the batch's values during one, else what the file holds.
    const RegistryFile& Current() const { return batch_ ? *batch_ : contents_; }
    const RegistryValue* Find(const QString& name) const;
    bool Write(RegistryValue value);
    bool Save(RegistryFile updated);
    bool Fail(const QString& reason, bool afterReplacing = false);  // keeps the reason, false
    bool MoveBrokenFileAside();

    QString path_;
    RegistryFile contents_;  // as in the file
    std::optional<RegistryFile> batch_;
    bool broken_ = false;  // the file on disk could not be parsed and is still in place
    bool open_ = true;
    QString lastFailure_;
    bool failedAfterReplacing_ = false;
};

}  // namespace nodrel::platform
