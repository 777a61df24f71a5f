#include "window_tray.h"

#include <QMenu>

#include "floating_window.h"
#include "menu_items.h"
#include "program_icon.h"
#include "tray_presence.h"

namespace nodrel {

TWindowTray::TWindowTray(TFloatingWindow& window)
    : QObject(&window),
      window_(window),
      presence_(new TrayPresence(this)),
      icon_(new QSystemTrayIcon(this)),
      menu_(new QMenu(&window)),
      images_{DrawTrayImage(0), DrawTrayImage(1)} {
    icon_->setObjectName(QStringLiteral("TrayIcon"));
    menu_->setObjectName(QStringLiteral("PopupMenu2"));
    SetDefaultItem(menu_, AddMenuItem(menu_, "N20", QStringLiteral("Show Floating Window"), &window,
                                      [&window] { window.ShowFromTray(); }));
    AddMenuItem(menu_, "NJournal", QStringLiteral("Journal..."), &window,
                [&window] { window.ShowJournal(); });
    AddMenuItem(menu_, "N23", QStringLiteral("Close KAVREN Nodrel"), &window,
                [&window] { window.close(); });
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
        window_.ShowFromTray();
    }
}

}  // namespace nodrel
