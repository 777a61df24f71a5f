#pragma once

// The desktop's notification server: org.freedesktop.Notifications on the session bus.

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>

class QDBusPendingCallWatcher;

namespace nodrel::platform {

struct DesktopNotice {
    QString summary;
    QString body;
    bool urgent = false;  // shown until dismissed, where the server keeps urgent ones
};

// Each notification goes to a named place (a "topic"): a later one of the same topic replaces the
// one the server still shows, so that repeated news never pile up. Calls never block the caller;
// a notification asked for while the server has not yet numbered the previous one of its topic
// waits for that number.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    // `applicationId` names the icon and the desktop entry the server groups the notifications by.
    DesktopNotifications(const QString& applicationName, const QString& applicationId,
                         QObject* parent = nullptr);

    // Whether a server runs on the session bus, or the bus would start one.
    bool Available() const;
    void Show(const QString& topic, const DesktopNotice& notice);
    // Takes the topic's notification away, if the server still shows it.
    void Withdraw(const QString& topic);

signals:
    // The user clicked a notification of the topic.
    void Activated(const QString& topic);
    // The server has the topic's latest notification, or could not be reached (`delivered`
    // false).
    void Answered(const QString& topic, bool delivered);

private slots:
    void ActionInvoked(uint id, const QString& action);

private:
    struct Topic {
        uint32_t id = 0;  // the server's number for the topic's notification shown last
        bool waiting = false;
        std::optional<DesktopNotice> next;  // asked for while waiting
        bool withdrawNext = false;
    };

    void Send(const QString& topic, const DesktopNotice& notice);
    void Numbered(const QString& topic, QDBusPendingCallWatcher* call);

    QString applicationName_;
    QString applicationId_;
    std::map<QString, Topic> topics_;
};

}  // namespace nodrel::platform
