#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <array>

class QMenu;
class QWidget;

namespace nodrel {

class TWindowCommands;
class TrayPresence;

// The floating window's notification-area icon with its menu and its two images, and the
// following of whether a notification area is there to show it. The window makes it at its
// first need: most runs never hide the window, and made at the start it would cost a megabyte of
// resident memory (a twentieth of the whole program's) that the first paint does not need.
class TWindowTray : public QObject {
    Q_OBJECT

public:
    // The menu is `window`'s child; its items, and a click on the icon, ask the window through
    // `commands`.
    TWindowTray(QWidget& window, TWindowCommands& commands);

    QSystemTrayIcon& Icon() { return *icon_; }
    QMenu& Menu() { return *menu_; }
    // 0 red, 1 blue.
    void ShowImage(int index);
    // Whether the notification area can show the icon now.
    bool Available() const;

signals:
    // The notification area came or went.
    void PresenceChanged();

private:
    void Activated(QSystemTrayIcon::ActivationReason reason);

    TWindowCommands& commands_;
    TrayPresence* presence_;  // made before the icon: Qt chooses the icon's path then
    QSystemTrayIcon* icon_;
    QMenu* menu_;                  // the window's child: a menu needs a widget for its parent
    std::array<QIcon, 2> images_;  // drawn once: red after a failure, blue after a success
};

}  // namespace nodrel
