#pragma once

// What the windows need of an X11 desktop beyond Qt: no taskbar or pager entry, every workspace,
// and the window's true place. Off X11 (Wayland, offscreen) these do nothing.

#include <QPoint>
#include <optional>

class QWidget;

namespace nodrel {

// Asks the window manager to leave the window out of taskbars and pagers and to show it on every
// workspace. Call it while the window is unmapped, just before each showing: managers drop a
// window's states when it is withdrawn, and Qt merges what is set here into the states it writes
// at mapping.
void SetDesktopStates(QWidget* window);

// After mapping, asks the window manager for the same as SetDesktopStates: a manager may ignore
// property changes on a window it manages, and EWMH has clients ask with messages instead.
void RequestDesktopStates(QWidget* window);

// Whether the window is on the workspace shown now (or on all). A manager hides the windows of
// other workspaces, and may mark them iconified as ICCCM has it: no minimise of the user's.
bool X11OnCurrentWorkspace(const QWidget* window);

// Where the X server has a window, in Qt's (device-independent) pixels: its own top-left corner,
// and the outer one, the window manager's frame included, which a window asks for when it is
// placed.
struct X11Place {
    QPoint client;
    QPoint outer;
};

// Nothing off X11 or before the window exists there.
std::optional<X11Place> X11WindowPlace(const QWidget* window);

// Whether a native event may have changed where a window is: its mapping, reparenting into a
// frame, a configure or expose event, or the window manager's properties arriving.
bool X11PlacementEvent(const QByteArray& eventType, const void* message);

}  // namespace nodrel
