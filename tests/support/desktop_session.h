#pragma once

// The real program on a real desktop, looked at from outside with the tools a user would have:
// Xvfb under a window manager (openbox, xfwm4, kwin_x11, mutter, i3), tint2 as an X system tray
// or xfce4-panel as a StatusNotifierItem host, weston for Wayland, a private session bus, and a
// settings store written by the test. No Qt in the test itself.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell_command.h"

namespace nodrel::testing {

using Clock = std::chrono::steady_clock;

// The window managers' command lines, as DesktopSession::StartX takes them. kwin_x11 runs with
// Mesa's software GL and without compositing; mutter as an X11 manager; i3 with a configuration
// file of the session's own.
inline constexpr const char* kOpenbox = "openbox --sm-disable";
inline constexpr const char* kXfwm4 = "xfwm4 --sm-client-disable --compositor=off";
inline constexpr const char* kKwin = "kwin_x11 --replace";
inline constexpr const char* kMutter = "mutter --x11 --replace";
inline constexpr const char* kI3 = "i3";

// The window manager's name: its command's first word ("kwin_x11").
std::string WindowManagerName(const std::string& command);

bool Has(const std::string& text, const std::string& part);

std::vector<std::string> Words(const std::string& text);

// The floating window's title as the window manager shows it.
extern const std::string kTitle;

// The mapped windows of the program (decimal ids).
std::vector<std::string> ProgramWindows();

// Where the window is on the screen, as "WxH+X+Y": its client area, whatever frame it has.
std::string Geometry(const std::string& id);

// The window's two newest cells as a user sees them (5 x 3 pixels each at the bottom left, one
// above the other), newest first, each as its number of colours and its colour: "1:0000FF ...".
std::string NewestCells(const std::string& id);

// The colour of one pixel of a window, its place given as "x y": "RRGGBB".
std::string Pixel(const std::string& id, const std::string& at);

// The program's windows inside tint2's: its icons in the tray (decimal ids).
std::vector<std::string> TrayIcons();

// Whether the program's icon is in the tray with a message beside it: a mapped window of the
// program's that is no tray icon.
bool TrayMessageShown();

// Whether an X system tray owns its selection on screen 0.
bool TrayOwned();

// Never kill(-1, ...): that would reach every process the test may signal.
void Signal(pid_t pid, int signalNumber);

// A window property as xprop prints it after the '=', "" when the window has none.
std::string Property(const std::string& id, const std::string& name);

// Whether the window is mapped and all its ancestors too.
bool Viewable(const std::string& id);

// The menu's window, once one is mapped: it alone is override-redirect.
std::string MenuWindow();

// The program's mapped window of that title, once there is one.
std::string MappedWindow(const std::string& title);
std::string FloatingWindow();

// A StatusNotifierItem property of the program's item as gdbus prints it, "" without an item.
std::string ItemProperty(const std::string& item, const std::string& name);

// The items registered with the watcher: "service/path" each.
std::vector<std::string> StatusNotifierItems();

// The first registered item, "" without one.
std::string Item();

// The item's first (16 x 16) icon's colour as "RRGGBB": the pixel at (4, 12), clear of the
// emblem, from its ARGB bytes.
std::string ItemIconColour(const std::string& item);

// A desktop session of the test's own: a private session bus, a settings store, and the
// processes started for it, ended with the test.
class DesktopSession : public ::testing::Test {
protected:
    // A private bus and configuration folder; skips where loopback cannot be probed.
    void StartSession();

    // Xvfb with a window manager (a command line as the k... constants give), four workspaces,
    // the program on the xcb platform.
    void StartX(const std::string& windowManager);

    // A session on an X server with a window manager and an X system tray.
    void StartXDesktop(const std::string& windowManager);

    // tint2, an X system tray (XEmbed).
    void StartXTray();

    // Xfce's panel with its status tray, which is both the StatusNotifierItem watcher and a host,
    // as KDE's, GNOME's AppIndicator and Wayland panels are.
    void StartPanel();
    static bool HostRegistered();

    // Starts weston's headless back end; with XWayland, returns the X display it serves.
    std::string StartWeston(bool xwayland);

    // Picks an item of the window's menu, opened at `at` ("x y"), by Up presses from its end. The
    // pointer comes from elsewhere, as a user's does.
    static void MenuCommand(const std::string& at, int upPresses);

    // The tools of the list that are not installed.
    static std::string Missing(const std::string& tools);

    // Starts a shell command line in the background, its output in <dir>/<log>.log.
    pid_t Spawn(const std::string& log, const std::string& command);

    // Starts the program, under a launcher when one is given, its output in <log>.log.
    pid_t StartProgram(const std::string& launcher = "", const std::string& log = "nodrel");

    std::string Log(const std::string& name) const;
    std::string StorePath() const;

    // Writes a complete store that probes loopback once a second, `changes` applied.
    void WriteStore(std::map<std::string, long> changes = {});

    // A number in the store, -1 when it is not there.
    long Stored(const std::string& name) const;

    // Ends the program with SIGTERM, as the end of a session does: it must end with 0.
    void EndBySignal();

    // The exit status once the last program started has ended within the deadline (only to tell
    // a hang), else -1.
    int ProgramStatus(std::chrono::milliseconds deadline = std::chrono::seconds(3));

    void TearDown() override;

    std::string dir_;
    std::vector<pid_t> children_;
    pid_t tint2_ = -1, panel_ = -1, program_ = -1;
};

}  // namespace nodrel::testing
