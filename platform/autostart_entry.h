#pragma once

// The application's entry in the session's autostart folder
// ($XDG_CONFIG_HOME/autostart/<application id>.desktop), which desktops start at login.

#include <QString>
#include <optional>

namespace nodrel::platform {

class AutostartEntry {
public:
    // `executable`: the running program's file; an installed one has its launcher beside it, in
    // ../share/applications/<application id>.desktop.
    AutostartEntry(const QString& applicationId, const QString& executable);

    QString Path() const;
    // Read afresh at each call: the user may edit the folder by hand.
    bool Present() const;
    // A copy of the installed launcher, else an entry that starts the executable by its path.
    // Nothing when the entry is written, else why not.
    std::optional<QString> Write() const;
    // Nothing when there is no entry any more, else why it stays.
    std::optional<QString> Remove() const;

private:
    QString InstalledLauncher() const;

    QString applicationId_;
    QString executable_;
};

// `argument` quoted for a desktop entry's Exec key (quoting and escaping included).
QString DesktopExecArgument(const QString& argument);

}  // namespace nodrel::platform
