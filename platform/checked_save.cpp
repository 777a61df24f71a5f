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
#include <cstring>
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

// Replaces the file as a whole: the new contents go to a file of their own, reach the disk, and
// only then take the store's name. Every step is checked, since a full disk shows only at the
// write, the sync or even the close; on any failure the store keeps its old bytes. Returns the
// system's reason when the save failed.
std::optional<QString> SaveWholeFile(const QString& path, QByteArrayView bytes) {
    QString savePath;
    const int fd = CreateSaveFile(path, savePath);
    if (fd < 0) return SystemError(errno);
    struct stat existing {};
    bool saved = (::stat(QFile::encodeName(path).constData(), &existing) != 0 ||
                  ::fchmod(fd, existing.st_mode & 07777) == 0) &&
                 WriteAll(fd, bytes) && ::fsync(fd) == 0;
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

}  // namespace nodrel::platform
