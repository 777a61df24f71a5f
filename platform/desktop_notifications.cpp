#include "desktop_notifications.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
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
// How long the end of the program waits at most, for the numbers and for the bus.
constexpr int kClosingWaitMilliseconds = 1000;

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

void Close(QDBusConnection& bus, uint32_t id) {
    QDBusMessage call = Call(QStringLiteral("CloseNotification"));
    call << id;
    bus.send(call);
}

// The bus daemon's id for this run of it. Since a reply comes only after the daemon has read
// what was sent before the call, it also makes sure that has left the process.
QString BusId(QDBusConnection& bus, int timeoutMilliseconds = -1) {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId"));
    return bus.call(call, QDBus::Block, timeoutMilliseconds).arguments().value(0).toString();
}

// The image-data hint: (iiibiiay) width, height, row stride, alpha, bits per sample, channels,
// the pixels.
QDBusArgument ImageHint(const NoticeImage& image) {
    QDBusArgument hint;
    hint.beginStructure();
    hint << image.width << image.height << image.width * 4 << true << 8 << 4 << image.rgba;
    hint.endStructure();
    return hint;
}

}  // namespace

DesktopNotifications::DesktopNotifications(const QString& applicationName,
                                           const QString& applicationId, const QString& ledgerPath,
                                           QObject* parent)
    : QObject(parent),
      applicationName_(applicationName),
      applicationId_(applicationId),
      ledger_(ledgerPath) {
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
    QDBusConnection bus = QDBusConnection::sessionBus();
    Close(bus, place.id);
    place.id = 0;
    if (!place.lasting) KeepLedger();
}

void DesktopNotifications::WithdrawAll() {
    if (topics_.empty()) return;
    for (auto& [topic, place] : topics_) {
        if (!place.lasting) Withdraw(topic);
    }
    if (Waiting()) {
        QEventLoop loop;
        QTimer::singleShot(kClosingWaitMilliseconds, &loop, &QEventLoop::quit);
        connect(this, &DesktopNotifications::Answered, &loop, [this, &loop] {
            if (!Waiting()) loop.quit();
        });
        loop.exec();
    }
    ledger_.Remove();
    kept_.clear();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) BusId(bus, kClosingWaitMilliseconds);
}

void DesktopNotifications::WithdrawLeftBehind(const QString& ledgerPath) {
    const NoticeLedger ledger(ledgerPath);
    const std::optional<NoticeLedger::Entries> left = ledger.Read();
    if (!left) return;
    ledger.Remove();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || left->bus != BusId(bus)) return;
    // Where another server took the place, the numbers are not its.
    if (bus.interface()->serviceOwner(kService).value() != left->server) return;
    for (const uint32_t id : left->ids) Close(bus, id);
}

void DesktopNotifications::Send(const QString& topic, const DesktopNotice& notice) {
    Topic& place = topics_[topic];
    QDBusMessage call = Call(QStringLiteral("Notify"));
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), applicationId_},
        {QStringLiteral("urgency"),
         QVariant::fromValue(notice.urgent ? kCriticalUrgency : kNormalUrgency)},
    };
    if (image_) hints.insert(QStringLiteral("image-data"), QVariant::fromValue(ImageHint(*image_)));
    call << applicationName_ << place.id << (image_ ? QString() : applicationId_) << notice.summary
         << notice.body << QStringList{kDefaultAction, QStringLiteral("Show")} << hints
         << kServerExpiry;
    place.waiting = true;
    place.sent = notice;
    place.lasting = notice.lasting;
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
    const bool delivered = reply.isValid();
    // A server started anew numbers anew: the numbers of the one before mean nothing to it.
    if (delivered && reply.reply().service() != server_) {
        server_ = reply.reply().service();
        for (auto& [name, other] : topics_) other.id = 0;
    }
    // Without a number the next one of the topic is a new notification.
    place.id = delivered ? reply.value() : 0;
    KeepLedger();
    if (!delivered && !place.next && !place.withdrawNext) emit Refused(topic, place.sent);
    emit Answered(topic, delivered);
    if (place.next) {
        const DesktopNotice next = *place.next;
        place.next.reset();
        Send(topic, next);
    } else if (place.withdrawNext) {
        place.withdrawNext = false;
        Withdraw(topic);
    }
}

bool DesktopNotifications::Waiting() const {
    for (const auto& [topic, place] : topics_) {
        if (place.waiting && !place.lasting) return true;
    }
    return false;
}

void DesktopNotifications::KeepLedger() {
    NoticeLedger::Entries shown;
    for (const auto& [topic, place] : topics_) {
        if (place.id != 0 && !place.lasting) shown.ids.push_back(place.id);
    }
    if (shown.ids == kept_) return;
    kept_ = shown.ids;
    if (!shown.ids.empty()) {
        if (busId_.isEmpty()) {
            QDBusConnection bus = QDBusConnection::sessionBus();
            busId_ = BusId(bus);
        }
        shown.bus = busId_;
        shown.server = server_;
    }
    ledger_.Keep(shown);
}

void DesktopNotifications::ActionInvoked(uint id, const QString& action) {
    if (action != kDefaultAction || id == 0) return;
    for (const auto& [topic, place] : topics_) {
        if (place.id == id) emit Activated(topic);
    }
}

}  // namespace nodrel::platform
