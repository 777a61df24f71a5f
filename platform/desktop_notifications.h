#pragma once

// The desktop's notification server: org.freedesktop.Notifications on the session bus.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "notice_ledger.h"

class QDBusPendingCallWatcher;

namespace nodrel::platform {

struct DesktopNotice {
    QString summary;
    QString body;
    bool urgent = false;  // shown until dismissed, where the server keeps urgent ones
    // News of the program's end that stays after it: not withdrawn when the program closes.
    bool lasting = false;
};

// The program's icon as pixels: `rgba` holds `height` rows of `width` pixels, four bytes each
// (red, green, blue, alpha; not premultiplied).
struct NoticeImage {
    int width = 0;
    int height = 0;
    QByteArray rgba;
};

// Each notification goes to a named place (a "topic"): a later one of the same topic replaces the
// one the server still shows, so that repeated news never pile up. Calls never block the caller;
// a notification asked for while the server has not yet numbered the previous one of its topic
// waits for that number. What the program shows is kept in a ledger (notice_ledger.h) while it
// is shown, so the next run can take back what a run that was killed left.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    // `applicationId` names the icon and the desktop entry the server groups the notifications by.
    // `ledgerPath`: the ledger's file; empty, none is kept.
    DesktopNotifications(const QString& applicationName, const QString& applicationId,
                         const QString& ledgerPath, QObject* parent = nullptr);

    // Sent with every notification in place of the icon's name, which the server would not find.
    void SetImage(NoticeImage image) { image_ = std::move(image); }

    // Whether a server runs on the session bus, or the bus would start one.
    bool Available() const;
    void Show(const QString& topic, const DesktopNotice& notice);
    // Takes the topic's notification away, if the server still shows it.
    void Withdraw(const QString& topic);
    // Takes every notification away but the lasting ones, the program being about to end: the
    // withdrawals have left the process when this returns. Waits a second at most for the
    // numbers of notifications the server has not answered yet.
    void WithdrawAll();

    // Takes back what an earlier run left in the ledger at `ledgerPath`, where the server that
    // numbered it still runs.
    static void WithdrawLeftBehind(const QString& ledgerPath);

signals:
    // The user clicked a notification of the topic.
    void Activated(const QString& topic);
    // The server has the topic's latest notification, or could not be reached (`delivered`
    // false).
    void Answered(const QString& topic, bool delivered);
    // The server answered the topic's latest notification with an error: it is to be told
    // another way. Comes before Answered.
    void Refused(const QString& topic, const nodrel::platform::DesktopNotice& notice);

private slots:
    void ActionInvoked(uint id, const QString& action);

private:
    struct Topic {
        uint32_t id = 0;  // the server's number for the topic's notification shown last
        bool lasting = false;
        bool waiting = false;
        DesktopNotice sent;                 // the notification the server was asked for last
        std::optional<DesktopNotice> next;  // asked for while waiting
        bool withdrawNext = false;
    };

    void Send(const QString& topic, const DesktopNotice& notice);
    void Numbered(const QString& topic, QDBusPendingCallWatcher* call);
    bool Waiting() const;
    // The ledger holds the numbers shown now.
    void KeepLedger();

    QString applicationName_;
    QString applicationId_;
    NoticeLedger ledger_;
    std::vector<uint32_t> kept_;  // what the ledger holds
    QString busId_;               // asked for at the first need
    QString server_;              // the unique name of the server that gave the numbers
    std::optional<NoticeImage> image_;
    std::map<QString, Topic> topics_;
};

}  // namespace nodrel::platform
