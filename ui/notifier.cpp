#include "notifier.h"

#include <QIcon>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <utility>

#include "program_icon.h"
#include "user_folders.h"
#include "window_tray.h"

namespace nodrel {

namespace {

// How long a message at the icon stays.
constexpr int kTrayMessageMilliseconds = 8000;
// The size of the icon sent as pixels: what servers show beside a notification.
constexpr int kNoticeImageSize = 48;

// Where the numbers of the notices shown are kept for the next run; nowhere without a runtime
// folder.
QString LedgerPath() {
    const QString folder = platform::UserRuntimeFolder();
    if (folder.isEmpty()) return {};
    return folder + u'/' + QString::fromLatin1(kApplicationId) + QStringLiteral(".notices");
}

platform::NoticeImage IconPixels() {
    const QImage tile = DrawTrayTile(1, kNoticeImageSize).convertToFormat(QImage::Format_RGBA8888);
    platform::NoticeImage image{tile.width(), tile.height(), {}};
    for (int y = 0; y < tile.height(); ++y) {
        image.rgba.append(reinterpret_cast<const char*>(tile.constScanLine(y)), tile.width() * 4);
    }
    return image;
}

}  // namespace

TNotifier::TNotifier(QWidget& window, std::function<TWindowTray&()> tray)
    : QObject(&window),
      window_(window),
      tray_(std::move(tray)),
      server_(QStringLiteral("KAVREN Nodrel"), QString::fromLatin1(kApplicationId), LedgerPath()) {
    // Run from its build tree the program's icon is not installed: the server gets its pixels.
    if (!QIcon::hasThemeIcon(QString::fromLatin1(kApplicationId))) server_.SetImage(IconPixels());
    connect(&server_, &platform::DesktopNotifications::Activated, this, &TNotifier::Activated);
    connect(&server_, &platform::DesktopNotifications::Refused, this,
            [this](const QString& topic, const platform::DesktopNotice& notice) {
                refusedTo_ = TellAtIcon(notice, fallbacks_[topic]);
            });
    connect(&server_, &platform::DesktopNotifications::Answered, this,
            [this](const QString& topic, bool delivered) {
                emit Answered(topic, delivered ? TChannel::Server
                                               : std::exchange(refusedTo_, TChannel::Nowhere));
            });
}

void TNotifier::WithdrawEarlierRun() {
    platform::DesktopNotifications::WithdrawLeftBehind(LedgerPath());
}

TNotifier::TChannel TNotifier::Tell(const QString& topic, const platform::DesktopNotice& notice,
                                    TFallback fallback) {
    fallbacks_[topic] = fallback;
    if (server_.Available()) {
        server_.Show(topic, notice);
        return TChannel::Server;
    }
    return TellAtIcon(notice, fallback);
}

TNotifier::TChannel TNotifier::TellAtIcon(const platform::DesktopNotice& notice,
                                          TFallback fallback) {
    if (!tray_().Available()) return TChannel::Nowhere;
    QSystemTrayIcon& tray = tray_().Icon();
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
            if (window_.isVisible()) tray_().Icon().setVisible(false);
        });
    }
    connect(&tray, &QSystemTrayIcon::messageClicked, this, &TNotifier::Activated,
            Qt::UniqueConnection);
    return TChannel::TrayMessage;
}

void TNotifier::Withdraw(const QString& topic) {
    server_.Withdraw(topic);
}

void TNotifier::WithdrawAll() {
    server_.WithdrawAll();
}

}  // namespace nodrel
