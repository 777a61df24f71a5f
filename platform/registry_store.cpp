#include "registry_store.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "checked_save.h"
#include "user_folders.h"

namespace nodrel::platform {

namespace {

// "\Software\KAVREN\Nodrel\" -> {"Software", "KAVREN", "Nodrel"}; empty when not under Software or
// when a component could leave the configuration folder.
QStringList KeyComponents(const QString& keyPath) {
    const QStringList parts = keyPath.split(u'\\', Qt::SkipEmptyParts);
    if (parts.size() < 2 || parts.front().compare(u"Software", Qt::CaseInsensitive) != 0) return {};
    for (const QString& part : parts) {
        if (part == u"." || part == u".." || part.contains(u'/') || part.contains(QChar(0))) {
            return {};
        }
    }
    return parts;
}

}  // namespace

QString RegistryFilePath(const QString& keyPath) {
    const QStringList parts = KeyComponents(keyPath);
    if (parts.isEmpty()) return {};
    return UserConfigHome() + u'/' + parts.mid(1).join(u'/') + QStringLiteral(".reg");
}

std::optional<RegistryKey> RegistryKey::Open(const QString& keyPath, QString* failure) {
    const auto fail = [failure](const QString& reason) {
        if (failure) *failure = reason;
        return std::nullopt;
    };
    const QString path = RegistryFilePath(keyPath);
    if (path.isEmpty()) return fail(QStringLiteral("not a key of this store"));
    const RegistryFile empty{
        QStringLiteral("HKEY_CURRENT_USER\\") + KeyComponents(keyPath).join(u'\\'), {}};

    RemoveLeftoverSaveFiles(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        std::error_code error;
        std::filesystem::create_directories(QFile::encodeName(info.absolutePath()).toStdString(),
                                            error);
        if (error) return fail(QString::fromStdString(error.message()));
        const SaveOutcome created = SaveWholeFile(path, SerializeRegistryFile(empty));
        if (!created.replaced) return fail(created.failure);
        return RegistryKey(path, empty, false);
    }
    if (!info.isFile()) {
        return fail(info.isDir() ? SystemError(EISDIR) : QStringLiteral("not a regular file"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    // One byte past the limit is enough to know the file is too big; a smaller file is read
    // into a buffer of its own size, not of the limit's.
    const QByteArray bytes = file.read(std::min<qint64>(file.size(), kMaxRegistryFileSize) + 1);
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());

    std::optional<RegistryFile> contents = ParseRegistryFile(bytes);
    if (!contents || contents->keyPath.compare(empty.keyPath, Qt::CaseInsensitive) != 0) {
        // Set aside at once, so the user hears of it when the defaults take its place; where
        // that fails, the first write tries again.
        RegistryKey key(path, empty, true);
        if (key.MoveBrokenFileAside()) key.broken_ = false;
        return key;
    }
    return RegistryKey(path, std::move(*contents), false);
}

RegistryKey::RegistryKey(QString path, RegistryFile contents, bool broken)
    : path_(std::move(path)), contents_(std::move(contents)), broken_(broken) {}

const RegistryValue* RegistryKey::Find(const QString& name) const {
    const QString key = RegistryNameKey(name);
    for (const RegistryValue& value : Current().values) {
        if (RegistryNameKey(value.name) == key) return &value;
    }
    return nullptr;
}

std::optional<uint32_t> RegistryKey::ReadInteger(const QString& name) const {
    const RegistryValue* value = open_ ? Find(name) : nullptr;
    if (!value || value->type != REG_DWORD || value->data.size() > 4) return std::nullopt;
    return DwordValue(value->data);
}

std::optional<QString> RegistryKey::ReadString(const QString& name) const {
    if (!open_) return std::nullopt;
    const RegistryValue* value = Find(name);
    if (!value || value->data.isEmpty()) return QString();
    if (value->type != REG_SZ && value->type != REG_EXPAND_SZ) return std::nullopt;
    return Utf16Text(value->data);
}

bool RegistryKey::WriteInteger(const QString& name, uint32_t value) {
    return Write({name, REG_DWORD, DwordData(value)});
}

bool RegistryKey::WriteString(const QString& name, const QString& text) {
    return Write({name, REG_SZ, Utf16Data(text)});
}

bool RegistryKey::Write(RegistryValue value) {
    if (!open_) return Fail(QStringLiteral("the key is closed"));
    // The file format has no way to carry a line break in a name.
    if (value.name.contains(u'\n') || value.name.contains(u'\r')) {
        return Fail(QStringLiteral("a value name with a line break"));
    }

    RegistryFile updated = Current();
    if (const RegistryValue* existing = Find(value.name)) {
        RegistryValue& slot = updated.values[existing - Current().values.data()];
        slot.type = value.type;
        slot.data = std::move(value.data);
    } else {
        updated.values.push_back(std::move(value));
    }
    if (!batch_) return Save(std::move(updated));
    *batch_ = std::move(updated);
    return true;
}

void RegistryKey::BeginBatch() {
    if (open_ && !batch_) batch_ = contents_;
}

bool RegistryKey::CommitBatch() {
    if (!batch_) return true;
    RegistryFile updated = std::move(*batch_);
    batch_.reset();
    if (!open_) return Fail(QStringLiteral("the key is closed"));
    return Save(std::move(updated));
}

bool RegistryKey::Save(RegistryFile updated) {
    if (!broken_ && updated == contents_) return true;
    if (broken_) {
        if (!MoveBrokenFileAside()) return false;
        broken_ = false;
    }
    const SaveOutcome saved = SaveWholeFile(path_, SerializeRegistryFile(updated));
    // Once renamed, the new file is what any reader gets, whatever the folder's sync said.
    if (saved.replaced) contents_ = std::move(updated);
    if (!saved.failure.isEmpty()) return Fail(saved.failure, saved.replaced);
    return true;
}

bool RegistryKey::Fail(const QString& reason, bool afterReplacing) {
    lastFailure_ = reason;
    failedAfterReplacing_ = afterReplacing;
    return false;
}

bool RegistryKey::MoveBrokenFileAside() {
    // Beside the file a link leads to, which is where the broken bytes are.
    const std::optional<QString> file = SaveTarget(path_);
    if (!file) return Fail(SystemError(errno));
    if (!QFileInfo::exists(*file)) return true;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'");
    const QString base = *file + QStringLiteral(".broken-") + stamp;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString target = attempt == 0 ? base : base + u'-' + QString::number(attempt);
        if (QFileInfo::exists(target)) continue;
        if (::rename(QFile::encodeName(*file).constData(), QFile::encodeName(target).constData()) !=
            0) {
            return Fail(SystemError(errno));
        }
        // A link must not be left leading nowhere: its target starts again as an empty key.
        if (*file != path_) {
            const SaveOutcome emptied = SaveWholeFile(*file, SerializeRegistryFile(contents_));
            if (!emptied.replaced) return Fail(emptied.failure);
        }
        // Said where a user looks for it: the settings that failed to load are kept here.
        qWarning().noquote()
            << QStringLiteral("Unreadable settings kept as %1; defaults apply").arg(target);
        return true;
    }
    return Fail(SystemError(EEXIST));
}

void RegistryKey::Close() {
    open_ = false;
}

}  // namespace nodrel::platform
