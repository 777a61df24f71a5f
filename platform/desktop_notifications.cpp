#include "desktop_notifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace nodrel::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kDefaultAction = QStringLiteral("default");

// The urgency hint's values, as the freedesktop notification protocol numbers them.
constexpr uchar kNormalUrgency = 1;
constexpr uchar kCriticalUrgency = 2;
// The server's own choice of how long a notification stays.
constexpr int kServerExpiry = -1;

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

}  // namespace

DesktopNotifications::DesktopNotifications(const QString& applicationName,
                                           const QString& applicationId, QObject* parent)
    : QObject(parent), applicationName_(applicationName), applicationId_(applicationId) {
    QDBusConnection::sessionBus().connect(kService, kPath, kService,
                                          QStringLiteral("ActionInvoked"), this,
                                          SLOT(ActionInvoked(uint, QString)));
}

bool DesktopNotifications::Available() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusConnectionInterface* daemon = bus.interface();
    return daemon->isServiceRegistered(kService) ||
           daemon->activatableServiceNames().value().contains(kService);
}

void DesktopNotifications::Show(const QString& topic, const DesktopNotice& notice) {
    Topic& place = topics_[topic];
    if (place.waiting) {
        place.next = notice;
        place.withdrawNext = false;
        return;
    }
    Send(topic, notice);
}

void DesktopNotifications::Withdraw(const QString& topic) {
    Topic& place = topics_[topic];
    if (place.waiting) {
        place.next.reset();
        place.withdrawNext = true;
        return;
    }
    if (place.id == 0) return;
    QDBusMessage call = Call(QStringLiteral("CloseNotification"));
    call << place.id;
    QDBusConnection::sessionBus().asyncCall(call);
    place.id = 0;
}

void DesktopNotifications::Send(const QString& topic, const DesktopNotice& notice) {
    Topic& place = topics_[topic];
    QDBusMessage call = Call(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), applicationId_},
        {QStringLiteral("urgency"),
         QVariant::fromValue(notice.urgent ? kCriticalUrgency : kNormalUrgency)},
    };
    call << applicationName_ << place.id << applicationId_ << notice.summary << notice.body
         << QStringList{kDefaultAction, QStringLiteral("Show")} << hints << kServerExpiry;
    place.waiting = true;
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, topic](QDBusPendingCallWatcher* answer) { Numbered(topic, answer); });
}

void DesktopNotifications::Numbered(const QString& topic, QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    Topic& place = topics_[topic];
    place.waiting = false;
    // Without a number the next one of the topic is a new notification.
    place.id = reply.isValid() ? reply.value() : 0;
    emit Answered(topic, reply.isValid());
    if (place.next) {
        const DesktopNotice next = *place.next;
        place.next.reset();
        Send(topic, next);
    } else if (place.withdrawNext) {
        place.withdrawNext = false;
        Withdraw(topic);
    }
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action) {
    if (action != kDefaultAction || id == 0) return;
    for (const auto& [topic, place] : topics_) {
        if (place.id == id) emit Activated(topic);
    }
}

}  // namespace nodrel::platform
