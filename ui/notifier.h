#pragma once

#include <QObject>
#include <QString>
#include <map>

#include "desktop_notifications.h"

namespace nodrel {

class TFloatingWindow;

// Tells the user what happened while they may not be looking: through the desktop's notification
// server, or, where none runs or it refuses the notice, in a message at the notification-area
// icon, where it can be seen.
class TNotifier : public QObject {
    Q_OBJECT

public:
    enum class TChannel { Server, TrayMessage, Nowhere };
    // Without a server: a message only at an icon already shown, or the icon shown for it.
    enum class TFallback { ShownIcon, ShowIcon };

    explicit TNotifier(TFloatingWindow& window);

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

    TFloatingWindow& window_;
    platform::DesktopNotifications server_;
    std::map<QString, TFallback> fallbacks_;  // by topic, as last told
    TChannel refusedTo_ = TChannel::Nowhere;  // where the notice the server refused went
};

}  // namespace nodrel
