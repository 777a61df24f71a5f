#include "autostart_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "user_folders.h"

namespace nodrel::platform {

AutostartEntry::AutostartEntry(const QString& applicationId, const QString& executable)
    : applicationId_(applicationId), executable_(executable) {}

QString AutostartEntry::Path() const {
    return UserConfigHome() + QStringLiteral("/autostart/") + applicationId_ +
           QStringLiteral(".desktop");
}

bool AutostartEntry::Present() const {
    return QFileInfo::exists(Path());
}

QString AutostartEntry::InstalledLauncher() const {
    const QString launcher = QFileInfo(executable_).absolutePath() +
                             QStringLiteral("/../share/applications/") + applicationId_ +
                             QStringLiteral(".desktop");
    return QFileInfo::exists(launcher) ? QDir::cleanPath(launcher) : QString();
}

QString DesktopExecArgument(const QString& argument) {
    // Inside double quotes, ", `, $ and \ take a backslash; the key's value is then a string in
    // which every backslash is doubled, and a field code's % is written twice.
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

std::optional<QString> AutostartEntry::Write() const {
    QByteArray entry;
    if (const QString launcher = InstalledLauncher(); !launcher.isEmpty()) {
        QFile installed(launcher);
        if (!installed.open(QIODevice::ReadOnly)) return installed.errorString();
        entry = installed.readAll();
    } else {
        entry =
            QStringLiteral(
                "[Desktop Entry]\n"
                "Type=Application\n"
                "Name=KAVREN Nodrel\n"
                "Comment=Network monitor\n"
                "Exec=%1\n"
                "Icon=%2\n"
                "Terminal=false\n")
                .arg(DesktopExecArgument(QFileInfo(executable_).absoluteFilePath()), applicationId_)
                .toUtf8();
    }
    const QString path = Path();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("cannot make the folder of %1").arg(path);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit()) {
        return file.errorString();
    }
    return std::nullopt;
}

std::optional<QString> AutostartEntry::Remove() const {
    QFile file(Path());
    if (!file.exists() || file.remove()) return std::nullopt;
    return file.errorString();
}

}  // namespace nodrel::platform
