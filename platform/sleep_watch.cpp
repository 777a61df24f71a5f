#include "sleep_watch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace nodrel::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

SleepWatch::SleepWatch(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    bus.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(PrepareForSleep(bool)));
    TakeDelayLock();
}

void SleepWatch::TakeDelayLock() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("KAVREN Nodrel")
         << QStringLiteral("Stops probing, so that the sleep is no outage")
         << QStringLiteral("delay");
    // No logind started for a program that only wants to know of sleep.
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* c) {
        c->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *c;
        if (reply.isValid()) delayLock_ = reply.value();
    });
}

void SleepWatch::PrepareForSleep(bool sleeping) {
    if (!sleeping) {
        emit Woke();
        TakeDelayLock();
        return;
    }
    emit Sleeping();
    delayLock_ = QDBusUnixFileDescriptor();
}

}  // namespace nodrel::platform
