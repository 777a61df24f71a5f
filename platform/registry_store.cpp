#include "registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace nodrel::platform {

namespace {

constexpr QStringView kHeader = u"Windows Registry Editor Version 5.00";
constexpr qsizetype kWrapColumn = 78;

// Value names are matched without regard to case, as the registry does.
QString NameKey(const QString& name) {
    return name.toCaseFolded();
}

QByteArray Utf16Data(QStringView text) {
    QByteArray data;
    data.reserve((text.size() + 1) * 2);
    for (QChar c : text) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    data.append(2, '\0');
    return data;
}

// A REG_DWORD's data: four bytes, little-endian.
QByteArray DwordData(uint32_t number) {
    QByteArray data;
    for (int shift = 0; shift < 32; shift += 8) data.append(char(number >> shift));
    return data;
}

// The number in up to four little-endian bytes.
uint32_t DwordValue(const QByteArray& data) {
    uint32_t number = 0;
    for (qsizetype i = 0; i < data.size(); ++i) number |= uint32_t(uint8_t(data[i])) << (8 * i);
    return number;
}

char16_t CodeUnitAt(const QByteArray& data, qsizetype index) {
    return char16_t(uint8_t(data[2 * index]) | uint8_t(data[2 * index + 1]) << 8);
}

std::optional<QString> DecodeText(QByteArrayView bytes) {
    const bool utf16 = bytes.startsWith("\xFF\xFE");
    if (utf16) {
        bytes = bytes.sliced(2);
        if (bytes.size() % 2 != 0) return std::nullopt;
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    // Stateless: a sequence cut off at the end counts as an error instead of waiting for more.
    QStringDecoder decoder(
        utf16 ? QStringConverter::Utf16LE : QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || !QStringView(text).isValidUtf16()) return std::nullopt;
    return text;
}

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// A cursor over the decoded text. Every parse step either advances or fails; a failure anywhere
// rejects the whole file.
class Parser {
public:
    explicit Parser(QStringView text) : text_(text) {}

    std::optional<RegistryFile> Parse() {
        SkipEmptyLines();
        if (RestOfLine().trimmed() != kHeader) return std::nullopt;
        SkipEmptyLines();
        RegistryFile file;
        if (!ParseSection(file.keyPath)) return std::nullopt;

        QHash<QString, qsizetype> indexByName;
        while (SkipEmptyLines()) {
            if (Peek() == u'[') return std::nullopt;  // a key of its own: not part of this one
            RegistryValue value;
            if (!ParseValue(value)) return std::nullopt;
            const QString key = NameKey(value.name);
            if (const auto found = indexByName.constFind(key); found != indexByName.cend()) {
                RegistryValue& earlier = file.values[*found];
                earlier.type = value.type;
                earlier.data = std::move(value.data);
            } else {
                indexByName.insert(key, qsizetype(file.values.size()));
                file.values.push_back(std::move(value));
            }
        }
        return file;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    QChar Peek() const { return AtEnd() ? QChar(u'\n') : text_[pos_]; }
    bool AtLineEnd() const {
        if (AtEnd() || text_[pos_] == u'\n') return true;
        return text_[pos_] == u'\r' && (pos_ + 1 == text_.size() || text_[pos_ + 1] == u'\n');
    }
    void SkipLineEnd() {
        if (!AtEnd() && text_[pos_] == u'\r') ++pos_;
        if (!AtEnd() && text_[pos_] == u'\n') ++pos_;
    }
    void SkipBlanks() {
        while (!AtEnd() && (text_[pos_] == u' ' || text_[pos_] == u'\t')) ++pos_;
    }
    QStringView RestOfLine() {
        const qsizetype start = pos_;
        while (!AtLineEnd()) ++pos_;
        return text_.sliced(start, pos_ - start);
    }
    bool Take(QStringView expected) {
        if (!text_.sliced(pos_).startsWith(expected, Qt::CaseInsensitive)) return false;
        pos_ += expected.size();
        return true;
    }

    // Skips blank and comment lines; false at the end of the text, else stands at the first
    // character of the next line with content.
    bool SkipEmptyLines() {
        for (;;) {
            SkipBlanks();
            if (AtEnd()) return false;
            if (Peek() == u';') RestOfLine();
            if (!AtLineEnd()) return true;
            SkipLineEnd();
        }
    }

    bool ParseSection(QString& keyPath) {
        if (Peek() != u'[') return false;
        const QStringView line = RestOfLine().trimmed();
        if (!line.endsWith(u']')) return false;
        keyPath = line.sliced(1, line.size() - 2).toString();
        return !keyPath.isEmpty() && !keyPath.startsWith(u'-');  // "[-key]" deletes a key
    }

    bool ParseQuoted(QString& out) {
        if (Peek() != u'"') return false;
        ++pos_;
        for (;;) {
            if (AtLineEnd()) return false;
            const QChar c = text_[pos_++];
            if (c == u'"') return true;
            if (c == u'\\') {
                if (AtLineEnd()) return false;
                const QChar escaped = text_[pos_++];
                if (escaped != u'\\' && escaped != u'"') return false;
                out.append(escaped);
            } else {
                out.append(c);
            }
        }
    }

    // One to maxDigits hex digits; more digits than that is an error, not a wrap-around.
    bool ParseHexNumber(int maxDigits, uint32_t& out) {
        out = 0;
        int digits = 0;
        for (; !AtEnd() && HexDigitValue(text_[pos_]) >= 0; ++pos_) {
            if (++digits > maxDigits) return false;
            out = out << 4 | uint32_t(HexDigitValue(text_[pos_]));
        }
        return digits > 0;
    }

    // A backslash at the end of a line continues a hex list on the next one.
    void SkipBlanksAndContinuations() {
        for (;;) {
            SkipBlanks();
            if (Peek() != u'\\') return;
            const qsizetype backslash = pos_;
            ++pos_;
            SkipBlanks();
            if (AtEnd() || !AtLineEnd()) {
                pos_ = backslash;
                return;
            }
            SkipLineEnd();
        }
    }

    bool ParseHexBytes(QByteArray& out) {
        SkipBlanksAndContinuations();
        if (AtLineEnd()) return true;
        for (;;) {
            uint32_t byte = 0;
            if (!ParseHexNumber(2, byte)) return false;
            out.append(char(byte));
            SkipBlanks();
            if (Peek() != u',') return true;
            ++pos_;
            SkipBlanksAndContinuations();
        }
    }

    bool ParseValue(RegistryValue& value) {
        if (Peek() == u'@') {
            ++pos_;
        } else if (!ParseQuoted(value.name)) {
            return false;
        }
        SkipBlanks();
        if (Peek() != u'=') return false;
        ++pos_;
        SkipBlanks();

        if (Peek() == u'"') {
            QString text;
            if (!ParseQuoted(text)) return false;
            value.type = REG_SZ;
            value.data = Utf16Data(text);
        } else if (Take(u"dword:")) {
            uint32_t number = 0;
            if (!ParseHexNumber(8, number)) return false;
            value.type = REG_DWORD;
            value.data = DwordData(number);
        } else if (Take(u"hex:")) {
            value.type = REG_BINARY;
            if (!ParseHexBytes(value.data)) return false;
        } else if (Take(u"hex(")) {
            if (!ParseHexNumber(8, value.type) || !Take(u"):")) return false;
            if (!ParseHexBytes(value.data)) return false;
        } else {
            return false;  // also "=-", which deletes a value on import
        }
        SkipBlanks();
        if (!AtLineEnd()) return false;
        SkipLineEnd();
        return true;
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

QString Quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == u'\\' || c == u'"') out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

// The text of a REG_SZ that a quoted string gives back byte for byte, if there is one.
std::optional<QString> QuotableText(const QByteArray& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
    const qsizetype units = data.size() / 2 - 1;
    if (CodeUnitAt(data, units) != 0) return std::nullopt;
    QString text;
    text.reserve(units);
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = CodeUnitAt(data, i);
        if (unit == 0 || unit == u'\n' || unit == u'\r') return std::nullopt;
        text.append(QChar(unit));
    }
    if (!QStringView(text).isValidUtf16()) return std::nullopt;
    return text;
}

void AppendHexBytes(QString& line, const QByteArray& data) {
    qsizetype column = line.size();
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i > 0) {
            line.append(u',');
            ++column;
            if (column + 3 > kWrapColumn) {
                line.append(QStringLiteral("\\\n  "));
                column = 2;
            }
        }
        line.append(QString::asprintf("%02x", unsigned(uint8_t(data[i]))));
        column += 2;
    }
}

QString SerializeValue(const RegistryValue& value) {
    QString line = value.name.isEmpty() ? QStringLiteral("@") : Quoted(value.name);
    line.append(u'=');
    if (value.type == REG_SZ) {
        if (const auto text = QuotableText(value.data)) return line + Quoted(*text);
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        return line + QString::asprintf("dword:%08x", DwordValue(value.data));
    }
    line.append(value.type == REG_BINARY ? QStringLiteral("hex:")
                                         : QString::asprintf("hex(%x):", value.type));
    AppendHexBytes(line, value.data);
    return line;
}

// A save killed between writing and renaming leaves its temporary file beside the store:
// "<file>.XXXXXX", six letters. Another instance may be saving right now, so only files older than
// a minute are taken for leftovers.
void RemoveLeftoverSaveFiles(const QString& path) {
    const QFileInfo store(path);
    const QString prefix = store.fileName() + u'.';
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-60);
    // Names are matched here: a wildcard filter would compile a regular expression at each start.
    QDirIterator files(store.absolutePath(), QDir::Files | QDir::Hidden);
    while (files.hasNext()) {
        files.next();
        const QFileInfo candidate = files.fileInfo();
        const QString name = candidate.fileName();
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix)) continue;
        const QString suffix = name.right(6);
        const bool lettersOnly = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        });
        if (lettersOnly && candidate.lastModified() < cutoff) {
            QFile::remove(candidate.absoluteFilePath());
        }
    }
}

QString SystemError(int number) {
    return QString::fromLocal8Bit(std::strerror(number));
}

bool WriteAll(int fd, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno != EINTR) return false;
        if (written > 0) bytes = bytes.sliced(written);
    }
    return true;
}

// A new file beside the store, named as the leftover sweep expects: "<file>.XXXXXX", six letters.
int CreateSaveFile(const QString& path, QString& savePath) {
    static std::minstd_rand random(std::random_device{}());
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::uniform_int_distribution<int> letter(0, int(sizeof kLetters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        savePath = path + u'.';
        for (int i = 0; i < 6; ++i) savePath += QLatin1Char(kLetters[letter(random)]);
        const int fd = ::open(QFile::encodeName(savePath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Replaces the file as a whole: the new contents go to a file of their own, reach the disk, and
// only then take the store's name. Every step is checked, since a full disk shows only at the
// write, the sync or even the close; on any failure the store keeps its old bytes. Returns the
// system's reason when the save failed.
std::optional<QString> SaveFile(const QString& path, const RegistryFile& contents) {
    QString savePath;
    const int fd = CreateSaveFile(path, savePath);
    if (fd < 0) return SystemError(errno);
    struct stat existing {};
    bool saved = (::stat(QFile::encodeName(path).constData(), &existing) != 0 ||
                  ::fchmod(fd, existing.st_mode & 07777) == 0) &&
                 WriteAll(fd, SerializeRegistryFile(contents)) && ::fsync(fd) == 0;
    int failure = saved ? 0 : errno;
    if (::close(fd) != 0 && saved) {
        saved = false;
        failure = errno;
    }
    if (saved && ::rename(QFile::encodeName(savePath).constData(),
                          QFile::encodeName(path).constData()) != 0) {
        saved = false;
        failure = errno;
    }
    if (!saved) {
        ::unlink(QFile::encodeName(savePath).constData());
        return SystemError(failure);
    }
    // The rename itself is on disk only once the folder is.
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return SystemError(errno);
    const bool synced = ::fsync(folder) == 0;
    failure = errno;
    ::close(folder);
    if (!synced) return SystemError(failure);
    return std::nullopt;
}

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

std::optional<RegistryFile> ParseRegistryFile(QByteArrayView bytes) {
    if (bytes.size() > kMaxRegistryFileSize) return std::nullopt;
    const std::optional<QString> text = DecodeText(bytes);
    if (!text) return std::nullopt;
    return Parser(*text).Parse();
}

QByteArray SerializeRegistryFile(const RegistryFile& file) {
    QString text =
        kHeader.toString() + QStringLiteral("\n\n[") + file.keyPath + QStringLiteral("]\n");
    for (const RegistryValue& value : file.values) text += SerializeValue(value) + u'\n';
    text += u'\n';
    return text.toUtf8();
}

QString UserConfigHome() {
    // Relative values are to be ignored, as the XDG base directory rules say.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured)) {
        return QDir::cleanPath(configured);
    }
    return QDir::homePath() + QStringLiteral("/.config");
}

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
        if (const auto reason = SaveFile(path, empty)) return fail(*reason);
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
    const QString key = NameKey(name);
    for (const RegistryValue& value : contents_.values) {
        if (NameKey(value.name) == key) return &value;
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
    QString text;
    for (qsizetype i = 0; i < value->data.size() / 2; ++i) {
        const char16_t unit = CodeUnitAt(value->data, i);
        if (unit == 0) break;
        text.append(QChar(unit));
    }
    return text;
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

    RegistryFile updated = contents_;
    const RegistryValue* existing = Find(value.name);
    if (existing) {
        if (!broken_ && existing->type == value.type && existing->data == value.data) return true;
        RegistryValue& slot = updated.values[existing - contents_.values.data()];
        slot.type = value.type;
        slot.data = std::move(value.data);
    } else {
        updated.values.push_back(std::move(value));
    }

    if (broken_) {
        if (!MoveBrokenFileAside()) return false;
        broken_ = false;
    }
    if (const auto reason = SaveFile(path_, updated)) return Fail(*reason);
    contents_ = std::move(updated);
    return true;
}

bool RegistryKey::Fail(const QString& reason) {
    lastFailure_ = reason;
    return false;
}

bool RegistryKey::MoveBrokenFileAside() {
    if (!QFileInfo::exists(path_)) return true;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'");
    const QString base = path_ + QStringLiteral(".broken-") + stamp;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString target = attempt == 0 ? base : base + u'-' + QString::number(attempt);
        if (QFileInfo::exists(target)) continue;
        if (::rename(QFile::encodeName(path_).constData(), QFile::encodeName(target).constData()) !=
            0) {
            return Fail(SystemError(errno));
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
