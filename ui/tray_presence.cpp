#include "tray_presence.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#include "x11_desktop.h"

namespace nodrel {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

// The watcher's IsStatusNotifierHostRegistered property, asked without starting a watcher that
// the bus could activate.
QDBusMessage HostRegisteredQuery() {
    QDBusMessage query = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    query << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    query.setAutoStartService(false);
    return query;
}

bool HostRegisteredIn(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

}  // namespace

TrayPresence::TrayPresence(QObject* parent) : QObject(parent) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        x11Watcher_ = std::make_unique<X11TrayWatcher>([this] { emit Changed(); });
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    if (bus.interface()->isServiceRegistered(kWatcherService)) {
        statusNotifierHost_ = HostRegisteredIn(bus.call(HostRegisteredQuery()));
    }
    throughStatusNotifier_ = statusNotifierHost_;
    if (!throughStatusNotifier_) return;

    auto* watcher = new QDBusServiceWatcher(
        kWatcherService, bus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &TrayPresence::AskStatusNotifierHost);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { SetStatusNotifierHost(false); });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus.connect(kWatcherService, kWatcherPath, kWatcherService, QLatin1String(signal), this,
                    SLOT(AskStatusNotifierHost()));
    }
}

TrayPresence::~TrayPresence() = default;

bool TrayPresence::Available() const {
    return statusNotifierHost_ || (x11Watcher_ && X11TrayPresent());
}

void TrayPresence::AskStatusNotifierHost() {
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(HostRegisteredQuery()), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                SetStatusNotifierHost(HostRegisteredIn(call->reply()));
            });
}

void TrayPresence::SetStatusNotifierHost(bool registered) {
    if (registered == statusNotifierHost_) return;
    statusNotifierHost_ = registered;
    emit Changed();
}

}  // namespace nodrel
