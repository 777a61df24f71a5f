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

// Where the X server has the window's top-left corner, in Qt's (device-independent) pixels;
// nothing off X11 or before the window exists there.
std::optional<QPoint> X11WindowOrigin(const QWidget* window);

// Whether a native event may have changed where a window is: its mapping, reparenting into a
// frame, a configure or expose event, or the window manager's properties arriving.
bool X11PlacementEvent(const QByteArray& eventType, const void* message);

}  // namespace nodrel
