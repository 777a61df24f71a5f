#include "window_tray.h"

#include <QMenu>

#include "menu_items.h"
#include "program_icon.h"
#include "tray_presence.h"
#include "window_commands.h"

namespace nodrel {

TWindowTray::TWindowTray(QWidget& window, TWindowCommands& commands)
    : QObject(&window),
      commands_(commands),
      presence_(new TrayPresence(this)),
      icon_(new QSystemTrayIcon(this)),
      menu_(new QMenu(&window)),
      images_{DrawTrayImage(0), DrawTrayImage(1)} {
    icon_->setObjectName(QStringLiteral("TrayIcon"));
    menu_->setObjectName(QStringLiteral("PopupMenu2"));
    SetDefaultItem(menu_, AddMenuItem(menu_, "N20", QStringLiteral("Show Floating Window"), this,
                                      [&commands] { commands.ShowFromTray(); }));
    AddMenuItem(menu_, "NJournal", QStringLiteral("Journal..."), this,
                [&commands] { commands.ShowJournal(); });
    AddMenuItem(menu_, "N23", QStringLiteral("Close KAVREN Nodrel"), this,
                [&commands] { commands.CloseProgram(); });
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, &TWindowTray::Activated);
    connect(presence_, &TrayPresence::Changed, this, &TWindowTray::PresenceChanged);
}

void TWindowTray::ShowImage(int index) {
    icon_->setIcon(images_[index]);
}

bool TWindowTray::Available() const {
    return presence_->Available();
}

void TWindowTray::Activated(QSystemTrayIcon::ActivationReason reason) {
    // StatusNotifierItem hosts report one activation and never a double-click.
    if (reason == QSystemTrayIcon::DoubleClick ||
        (reason == QSystemTrayIcon::Trigger && presence_->ThroughStatusNotifier())) {
        commands_.ShowFromTray();
    }
}

}  // namespace nodrel
