#pragma once

#include <QObject>
#include <QString>

#include "desktop_notifications.h"

namespace nodrel {

class TFloatingWindow;

// Tells the user what happened while they may not be looking: through the desktop's notification
// server, or, where none runs, in a message at the notification-area icon, where it can be seen.
class TNotifier : public QObject {
    Q_OBJECT

public:
    enum class TChannel { Server, TrayMessage, Nowhere };
    // Without a server: a message only at an icon already shown, or the icon shown for it.
    enum class TFallback { ShownIcon, ShowIcon };

    explicit TNotifier(TFloatingWindow& window);

    // A notice of the same topic replaces the one still shown.
    TChannel Tell(const QString& topic, const platform::DesktopNotice& notice,
                  TFallback fallback = TFallback::ShownIcon);
    void Withdraw(const QString& topic);

signals:
    // The user clicked a notice.
    void Activated();
    // The server has the notice, or could not be reached.
    void Answered();

private:
    TFloatingWindow& window_;
    platform::DesktopNotifications server_;
};

}  // namespace nodrel
