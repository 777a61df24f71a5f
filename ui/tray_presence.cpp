#include "tray_presence.h"

#include <xcb/xfixes.h>

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <functional>

#include "x11_connection.h"

namespace nodrel {

// Follows the X system tray: the owner of the manager selection of screen 0, told of by the
// XFixes extension as it comes and goes.
class X11TrayWatcher : public QAbstractNativeEventFilter {
public:
    explicit X11TrayWatcher(std::function<void()> changed);
    ~X11TrayWatcher() override;
    X11TrayWatcher(const X11TrayWatcher&) = delete;
    X11TrayWatcher& operator=(const X11TrayWatcher&) = delete;

    // Whether an X system tray is running now.
    static bool Present();

    // Calls `changed` whenever a tray starts or goes away.
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::function<void()> changed_;
    uint8_t selectionNotifyEvent_ = 0;  // 0 while not watching
};

namespace {

constexpr const char* kTraySelection = "_NET_SYSTEM_TRAY_S0";

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

bool X11TrayWatcher::Present() {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return false;
    const xcb_get_selection_owner_cookie_t cookie =
        xcb_get_selection_owner(connection, X11Atom(connection, kTraySelection));
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection, cookie, nullptr);
    const bool present = reply != nullptr && reply->owner != XCB_NONE;
    free(reply);
    return present;
}

X11TrayWatcher::X11TrayWatcher(std::function<void()> changed) : changed_(std::move(changed)) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return;
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (xfixes == nullptr || !xfixes->present) return;
    free(xcb_xfixes_query_version_reply(
        connection,
        xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    xcb_xfixes_select_selection_input(connection, X11RootWindow(connection),
                                      X11Atom(connection, kTraySelection),
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(connection);
    selectionNotifyEvent_ = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11TrayWatcher::~X11TrayWatcher() {
    if (selectionNotifyEvent_ != 0 && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

bool X11TrayWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) == selectionNotifyEvent_) changed_();
    return false;
}

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
    return statusNotifierHost_ || (x11Watcher_ && X11TrayWatcher::Present());
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
