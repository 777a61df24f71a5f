#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>

#include "desktop_notifications.h"

class QWidget;

namespace nodrel {

class TWindowTray;

// Tells the user what happened while they may not be looking: through the desktop's notification
// server, or, where none runs or it refuses the notice, in a message at the notification-area
// icon, where it can be seen.
class TNotifier : public QObject {
    Q_OBJECT

public:
    enum class TChannel { Server, TrayMessage, Nowhere };
    // Without a server: a message only at an icon already shown, or the icon shown for it.
    enum class TFallback { ShownIcon, ShowIcon };

    // Without a server, tells at the icon of `tray`, made at its first need; an icon shown only
    // for the message goes again with it while `window` is on screen.
    TNotifier(QWidget& window, std::function<TWindowTray&()> tray);

    // Takes back what an earlier run of the program left shown: it was killed.
    static void WithdrawEarlierRun();

    // A notice of the same topic replaces the one still shown.
    TChannel Tell(const QString& topic, const platform::DesktopNotice& notice,
                  TFallback fallback = TFallback::ShownIcon);
    void Withdraw(const QString& topic);
    // Takes back every notice but the lasting ones: the program ends.
    void WithdrawAll();

signals:
    // The user clicked a notice.
    void Activated();
    // The server has the topic's notice (`channel` Server), or refused it, which then went where
    // `channel` says.
    void Answered(const QString& topic, nodrel::TNotifier::TChannel channel);

private:
    TChannel TellAtIcon(const platform::DesktopNotice& notice, TFallback fallback);

    QWidget& window_;
    std::function<TWindowTray&()> tray_;
    platform::DesktopNotifications server_;
    std::map<QString, TFallback> fallbacks_;  // by topic, as last told
    TChannel refusedTo_ = TChannel::Nowhere;  // where the notice the server refused went
};

}  // namespace nodrel
