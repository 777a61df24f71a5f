#include "x11_desktop.h"

#include <QScreen>
#include <QWidget>
#include <array>
#include <cstdlib>

#include "x11_connection.h"

namespace nodrel {

void SetDesktopStates(QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    // Asked once: a round trip on every showing would hold up its first paint.
    static const auto [state, skipTaskbar, skipPager, sticky, desktop] = X11Atoms<5>(
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
        connection, xcb_translate_coordinates(connection, id, X11RootWindow(connection), 0, 0),
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

}  // namespace nodrel
