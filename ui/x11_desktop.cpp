#include "x11_desktop.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace nodrel {

namespace {

xcb_connection_t* X11Connection() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The atoms of `names`, asked for together: one round trip to the server for all of them.
template <size_t Count>
std::array<xcb_atom_t, Count> Atoms(xcb_connection_t* connection,
                                    const std::array<const char*, Count>& names) {
    std::array<xcb_intern_atom_cookie_t, Count> cookies;
    for (size_t i = 0; i < Count; ++i) {
        cookies[i] =
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(names[i])), names[i]);
    }
    std::array<xcb_atom_t, Count> atoms;
    for (size_t i = 0; i < Count; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
    }
    return atoms;
}

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    return Atoms<1>(connection, {name})[0];
}

xcb_window_t RootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

constexpr const char* kTraySelection = "_NET_SYSTEM_TRAY_S0";

}  // namespace

void SetDesktopStates(QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    // Asked once: a round trip on every showing would hold up its first paint.
    static const auto [state, skipTaskbar, skipPager, sticky, desktop] = Atoms<5>(
        connection, {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                     "_NET_WM_STATE_STICKY", "_NET_WM_DESKTOP"});
    // Written before Qt maps the window, which then adds the states of its own to these; what
    // was there stayed from before the window was withdrawn, when the manager stopped keeping it.
    const std::array<xcb_atom_t, 3> states{skipTaskbar, skipPager, sticky};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    constexpr uint32_t kEveryWorkspace = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                        &kEveryWorkspace);
    xcb_flush(connection);
}

std::optional<QPoint> X11WindowOrigin(const QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || !window->testAttribute(Qt::WA_WState_Created)) return std::nullopt;
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, id, RootWindow(connection), 0, 0),
        nullptr);
    if (reply == nullptr) return std::nullopt;
    const QPoint origin(reply->dst_x, reply->dst_y);
    free(reply);
    // Qt scales about each screen's top-left corner, which both units share.
    const QScreen* screen = window->screen();
    const QPoint screenOrigin = screen->geometry().topLeft();
    return screenOrigin + (origin - screenOrigin) / screen->devicePixelRatio();
}

bool X11PlacementEvent(const QByteArray& eventType, const void* message) {
    if (eventType != "xcb_generic_event_t") return false;
    switch (static_cast<const xcb_generic_event_t*>(message)->response_type & 0x7F) {
        case XCB_MAP_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_CONFIGURE_NOTIFY:
        case XCB_EXPOSE:
        case XCB_PROPERTY_NOTIFY:
            return true;
        default:
            return false;
    }
}

bool X11TrayPresent() {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return false;
    const xcb_get_selection_owner_cookie_t cookie =
        xcb_get_selection_owner(connection, Atom(connection, kTraySelection));
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
    xcb_xfixes_select_selection_input(connection, RootWindow(connection),
                                      Atom(connection, kTraySelection),
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

}  // namespace nodrel
