#include "checked_save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <random>

namespace nodrel::platform {

namespace {

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

}  // namespace

std::optional<QString> SaveTarget(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    // Every link on the way resolved; a target that does not exist fails here with ENOENT.
    char target[PATH_MAX];
    if (::realpath(name.constData(), target) == nullptr) return std::nullopt;
    return QFile::decodeName(target);
}

// The new contents go to a file of their own beside the target, reach the disk, and only then
// take the target's name. Every step is checked, since a full disk shows only at the write, the
// sync or even the close; until the rename the target keeps its old bytes.
SaveOutcome SaveWholeFile(const QString& path, QByteArrayView bytes) {
    const std::optional<QString> target = SaveTarget(path);
    if (!target) return {false, SystemError(errno)};
    const QByteArray targetName = QFile::encodeName(*target);
    QString savePath;
    const int fd = CreateSaveFile(*target, savePath);
    if (fd < 0) return {false, SystemError(errno)};
    const QByteArray saveName = QFile::encodeName(savePath);
    struct stat existing {};
    bool saved = (::stat(targetName.constData(), &existing) != 0 ||
                  ::fchmod(fd, existing.st_mode & 07777) == 0) &&
                 WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int failure = saved ? 0 : errno;
    if (::close(fd) != 0 && saved) {
        saved = false;
        failure = errno;
    }
    if (saved && ::rename(saveName.constData(), targetName.constData()) != 0) {
        saved = false;
        failure = errno;
    }
    if (!saved) {
        ::unlink(saveName.constData());
        return {false, SystemError(failure)};
    }
    // The rename itself is on disk only once the folder is.
    const int folder = ::open(QFile::encodeName(QFileInfo(*target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return {true, SystemError(errno)};
    const bool synced = ::fsync(folder) == 0;
    failure = errno;
    ::close(folder);
    return {true, synced ? QString() : SystemError(failure)};
}

// A save killed between writing and renaming leaves its temporary file beside the store:
// "<file>.XXXXXX", six letters. Another instance may be saving right now, so only files older than
// a minute are taken for leftovers.
void RemoveLeftoverSaveFiles(const QString& path) {
    const std::optional<QString> target = SaveTarget(path);
    if (!target) return;
    const QFileInfo store(*target);
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

}  // namespace nodrel::platform
