#include "user_folders.h"

#include <QDir>

namespace nodrel::platform {

namespace {

// Relative values are to be ignored, as the rules say.
QString Configured(const char* variable) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString ConfiguredOr(const char* variable, const QString& underHome) {
    const QString value = Configured(variable);
    return value.isEmpty() ? QDir::homePath() + underHome : value;
}

}  // namespace

QString UserConfigHome() {
    return ConfiguredOr("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

QString UserStateHome() {
    return ConfiguredOr("XDG_STATE_HOME", QStringLiteral("/.local/state"));
}

QString UserRuntimeFolder() {
    return Configured("XDG_RUNTIME_DIR");
}

}  // namespace nodrel::platform
