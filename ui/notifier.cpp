#include "notifier.h"

#include <QSystemTrayIcon>
#include <QTimer>

#include "floating_window.h"
#include "program_icon.h"

namespace nodrel {

namespace {

// How long a message at the icon stays.
constexpr int kTrayMessageMilliseconds = 8000;

}  // namespace

TNotifier::TNotifier(TFloatingWindow& window)
    : QObject(&window),
      window_(window),
      server_(QStringLiteral("KAVREN Nodrel"), QString::fromLatin1(kApplicationId)) {
    connect(&server_, &platform::DesktopNotifications::Activated, this, &TNotifier::Activated);
    connect(&server_, &platform::DesktopNotifications::Answered, this, &TNotifier::Answered);
}

TNotifier::TChannel TNotifier::Tell(const QString& topic, const platform::DesktopNotice& notice,
                                    TFallback fallback) {
    if (server_.Available()) {
        server_.Show(topic, notice);
        return TChannel::Server;
    }
    if (!window_.TrayAvailable()) return TChannel::Nowhere;
    QSystemTrayIcon& tray = window_.TrayIcon();
    // The icon shows while the window is hidden; a window on screen tells the outcomes itself.
    const bool shownForMessage = fallback == TFallback::ShowIcon && !tray.isVisible();
    if (shownForMessage) tray.show();
    if (!tray.isVisible()) return TChannel::Nowhere;
    tray.showMessage(notice.summary, notice.body,
                     notice.urgent ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                     kTrayMessageMilliseconds);
    // Shown for the message beside a window on screen, the icon goes again with it.
    if (shownForMessage) {
        QTimer::singleShot(kTrayMessageMilliseconds, &window_, [this] {
            if (window_.isVisible()) window_.TrayIcon().setVisible(false);
        });
    }
    connect(&tray, &QSystemTrayIcon::messageClicked, this, &TNotifier::Activated,
            Qt::UniqueConnection);
    return TChannel::TrayMessage;
}

void TNotifier::Withdraw(const QString& topic) {
    server_.Withdraw(topic);
}

}  // namespace nodrel
