#include "x11_desktop.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "x11_connection.h"

namespace nodrel {

namespace {

// The atoms of the desktop states, asked once: a round trip on every showing would hold up its
// first paint.
struct DesktopStateAtoms {
    xcb_atom_t state, skipTaskbar, skipPager, sticky, desktop, currentDesktop;
};

const DesktopStateAtoms& StateAtoms(xcb_connection_t* connection) {
    static const DesktopStateAtoms atoms = [connection] {
        const auto [state, skipTaskbar, skipPager, sticky, desktop, currentDesktop] = X11Atoms<6>(
            connection, {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                         "_NET_WM_STATE_STICKY", "_NET_WM_DESKTOP", "_NET_CURRENT_DESKTOP"});
        return DesktopStateAtoms{state, skipTaskbar, skipPager, sticky, desktop, currentDesktop};
    }();
    return atoms;
}

constexpr uint32_t kEveryWorkspace = 0xFFFFFFFF;

// A request about `window` to the window manager, as EWMH has clients send them: a client
// message to the root window.
void SendToRoot(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
                std::array<uint32_t, 5> data) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    std::copy(data.begin(), data.end(), message.data.data32);
    xcb_send_event(connection, 0, X11RootWindow(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
}

// A CARDINAL property's first value, nothing when there is none.
std::optional<uint32_t> Cardinal(xcb_connection_t* connection, xcb_window_t window,
                                 xcb_atom_t property) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    std::optional<uint32_t> value;
    if (reply != nullptr && reply->format == 32 && reply->value_len == 1) {
        value = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
    }
    free(reply);
    return value;
}

}  // namespace

void SetDesktopStates(QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const DesktopStateAtoms& atoms = StateAtoms(connection);
    // Written before Qt maps the window, which then adds the states of its own to these; what
    // was there stayed from before the window was withdrawn, when the manager stopped keeping it.
    const std::array<xcb_atom_t, 3> states{atoms.skipTaskbar, atoms.skipPager, atoms.sticky};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atoms.state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atoms.desktop, XCB_ATOM_CARDINAL, 32,
                        1, &kEveryWorkspace);
    xcb_flush(connection);
}

void RequestDesktopStates(QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const DesktopStateAtoms& atoms = StateAtoms(connection);
    constexpr uint32_t kAdd = 1, kFromApplication = 1;
    SendToRoot(connection, id, atoms.desktop, {kEveryWorkspace, kFromApplication, 0, 0, 0});
    SendToRoot(connection, id, atoms.state,
               {kAdd, atoms.skipTaskbar, atoms.skipPager, kFromApplication, 0});
    SendToRoot(connection, id, atoms.state, {kAdd, atoms.sticky, 0, kFromApplication, 0});
    xcb_flush(connection);
}

bool X11OnCurrentWorkspace(const QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || !window->testAttribute(Qt::WA_WState_Created)) return true;
    const DesktopStateAtoms& atoms = StateAtoms(connection);
    const std::optional<uint32_t> own =
        Cardinal(connection, static_cast<xcb_window_t>(window->winId()), atoms.desktop);
    const std::optional<uint32_t> current =
        Cardinal(connection, X11RootWindow(connection), atoms.currentDesktop);
    // Without workspaces as EWMH has them, every window is on the only one.
    return !own || !current || *own == kEveryWorkspace || *own == *current;
}

namespace {

// What the window manager's frame adds left of and above the window, in server pixels: its
// _NET_FRAME_EXTENTS where it tells them, else the window's offset inside the frame window it was
// reparented into (i3 tells no extents). A frame as large as the screen is a virtual root, no
// frame.
QPoint FrameOffset(xcb_connection_t* connection, xcb_window_t window) {
    static const xcb_atom_t extents = X11Atom(connection, "_NET_FRAME_EXTENTS");
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4),
        nullptr);
    std::optional<QPoint> offset;
    if (property != nullptr && property->format == 32 && property->value_len == 4) {
        const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(property));
        offset = QPoint(int(values[0]), int(values[2]));  // left, right, top, bottom
    }
    free(property);
    if (offset) return *offset;
    const xcb_window_t root = X11RootWindow(connection);
    xcb_window_t frame = window;
    for (;;) {
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, frame), nullptr);
        if (tree == nullptr) return {};
        const xcb_window_t parent = tree->parent;
        free(tree);
        if (parent == root || parent == XCB_WINDOW_NONE) break;
        frame = parent;
    }
    if (frame == window) return {};
    xcb_get_geometry_reply_t* frameGeometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, frame), nullptr);
    xcb_translate_coordinates_reply_t* inFrame = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, frame, 0, 0), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    QPoint inside;
    if (frameGeometry != nullptr && inFrame != nullptr &&
        (frameGeometry->width < screen->width_in_pixels ||
         frameGeometry->height < screen->height_in_pixels)) {
        inside = QPoint(inFrame->dst_x + frameGeometry->border_width,
                        inFrame->dst_y + frameGeometry->border_width);
    }
    free(frameGeometry);
    free(inFrame);
    return inside;
}

}  // namespace

std::optional<X11Place> X11WindowPlace(const QWidget* window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr || !window->testAttribute(Qt::WA_WState_Created)) return std::nullopt;
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_translate_coordinates_reply_t* reply = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, id, X11RootWindow(connection), 0, 0),
        nullptr);
    if (reply == nullptr) return std::nullopt;
    const QPoint client(reply->dst_x, reply->dst_y);
    free(reply);
    // Qt scales about each screen's top-left corner, which both units share.
    const QScreen* screen = window->screen();
    const QPoint screenOrigin = screen->geometry().topLeft();
    const auto inQtPixels = [&](QPoint server) {
        return screenOrigin + (server - screenOrigin) / screen->devicePixelRatio();
    };
    return X11Place{inQtPixels(client), inQtPixels(client - FrameOffset(connection, id))};
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
