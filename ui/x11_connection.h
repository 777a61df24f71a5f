#pragma once

// The X server connection Qt has, for the few requests Qt has no interface for.

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>

namespace nodrel {

// Qt's connection to the X server; null off X11 (Wayland, offscreen).
xcb_connection_t* X11Connection();

// The atoms of `names`, asked for together: one round trip to the server for all of them.
template <size_t Count>
std::array<xcb_atom_t, Count> X11Atoms(xcb_connection_t* connection,
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

inline xcb_atom_t X11Atom(xcb_connection_t* connection, const char* name) {
    return X11Atoms<1>(connection, {name})[0];
}

// The root window of the connection's first screen.
inline xcb_window_t X11RootWindow(xcb_connection_t* connection) {
    return xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
}

}  // namespace nodrel
