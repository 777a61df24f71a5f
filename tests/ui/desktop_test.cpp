// The real program on a real X desktop: Xvfb, openbox, xfwm4, kwin_x11 or mutter as window
// manager, tint2 as panel with a system tray, a private session bus, and a settings store written
// by the test. Everything is looked at from outside, with the X tools a user would have.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop_session.h"
#include "support/small_file_system.h"

namespace {

using namespace std::chrono_literals;
using namespace nodrel::testing;

// The parameter: the window manager's command line.
class DesktopTest : public DesktopSession, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { StartXDesktop(GetParam()); }
};

// For what the window manager has no part in.
class OpenboxDesktopTest : public DesktopSession {
protected:
    void SetUp() override { StartXDesktop(kOpenbox); }
};

// On a StatusNotifierItem host, under openbox.
class StatusNotifierDesktopTest : public DesktopSession {
protected:
    void SetUp() override {
        StartSession();
        if (!IsSkipped() && !HasFatalFailure()) StartX(kOpenbox);
        if (!IsSkipped() && !HasFatalFailure()) StartPanel();
    }

    // "Minimize to SystemTray" from the window's menu.
    static void MinimizeFromTheMenu() { MenuCommand("310 210", 2); }
};

// Wayland sessions under weston's headless back end.
class WaylandDesktopTest : public DesktopSession {
protected:
    void SetUp() override {
        if (!Missing("weston").empty()) GTEST_SKIP() << "not installed: weston";
        StartSession();
    }
};

}  // namespace

TEST_P(DesktopTest, FromTheTrayToAWindowOnEveryWorkspaceThatKeepsItsPlaceAndItsDialogsOnTop) {
    WriteStore({{"minimized", 1}, {"alpha", 1}});
    StartProgram();
    std::vector<std::string> icons;
    ASSERT_TRUE(PollUntil([&] { return !(icons = TrayIcons()).empty(); })) << Log("nodrel");
    for (const std::string& id : ProgramWindows()) {
        EXPECT_TRUE(std::ranges::count(icons, id))
            << "window " << id << " is mapped outside the tray";
    }
    const auto fromTheTray = [] {
        Capture("xdotool mousemove --window " + TrayIcons().front() +
                " 5 5 click --repeat 2 --delay 80 1");
    };
    fromTheTray();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << "no window from the tray: " << Log("nodrel");
    EXPECT_EQ(Geometry(id), "75x43+300+200");
    EXPECT_EQ(Property(id, "_NET_WM_NAME"), '"' + kTitle + '"');
    const std::string state = Property(id, "_NET_WM_STATE");
    const std::string supported = Capture("xprop -root _NET_SUPPORTED");
    for (const char* atom : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR",
                             "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_STICKY"}) {
        // openbox knows no sticky state: every workspace is its only way.
        if (Has(supported, atom)) {
            EXPECT_TRUE(Has(state, atom)) << atom << " missing: " << state;
        }
    }
    EXPECT_EQ(Property(id, "_NET_WM_DESKTOP"), "4294967295");
    // kwin and mutter tell no extents for a window they do not frame.
    const bool framesTold = !Has(GetParam(), "kwin") && !Has(GetParam(), "mutter");
    EXPECT_EQ(Property(id, "_NET_FRAME_EXTENTS"), framesTold ? "0, 0, 0, 0" : "");
    EXPECT_EQ(Property(id, "_NET_WM_WINDOW_OPACITY"), "2492765332");
    Capture("wmctrl -s 1");
    EXPECT_TRUE(PollUntil([] { return Has(Capture("wmctrl -d"), "1  * DG"); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(std::ranges::count(ProgramWindows(), id)) << "gone on the second workspace";
    Capture("wmctrl -s 0");
    // Answers from loopback, one a second, each a blue cell (silver without answers: see below).
    EXPECT_TRUE(PollUntil([&] { return NewestCells(id) == "1:0000FF 1:0000FF "; }))
        << NewestCells(id);

    // No drag first: the place the window was mapped at holds through everything that sizes it.
    // A middle double-click switches nothing.
    Capture("xdotool mousemove 330 220 click --repeat 2 --delay 80 2");
    for (const char* geometry : {"75x43+300+200", "363x43+300+200", "75x43+300+200"}) {
        std::this_thread::sleep_for(600ms);  // longer than a double-click: the clicks don't pair
        EXPECT_TRUE(PollUntil([&] { return Geometry(id) == geometry; })) << Geometry(id);
        Capture("xdotool click --repeat 2 --delay 80 1");
    }
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "363x43+300+200"; })) << Geometry(id);
    const auto menuItem = [&](const std::string& upPresses) {
        Capture("xdotool mousemove 330 220 click 3");
        const std::string menu = MenuWindow();
        EXPECT_TRUE(Has(Geometry(menu), "+330+220"))
            << "menu not at the pointer: " << Geometry(menu);
        Capture("xdotool " + upPresses + "sleep 0.1 key Return");
    };

    // Options, twice at the same place: centred on the screen, above the window, titled as is.
    std::string firstPlace;
    for (const char* keys : {"Tab Tab Tab Tab Tab Right Return", "Escape"}) {
        menuItem("key Up key Up key Up ");
        const std::string dialog = MappedWindow("KAVREN Nodrel Options");
        ASSERT_FALSE(dialog.empty()) << Log("nodrel");
        EXPECT_EQ(Property(dialog, "_NET_WM_NAME"), "\"KAVREN Nodrel Options\"");
        // The program's icon in the title bar, its smallest size first (Qt's stand-in has only
        // 48 px).
        EXPECT_TRUE(Property(dialog, "_NET_WM_ICON").starts_with("\tIcon (16 x 16)"))
            << Property(dialog, "_NET_WM_ICON").substr(0, 20);
        // The client area centred at (338, 280), give or take the frame the manager adds
        // (mutter's title bar is 38 pixels high).
        std::string place;
        int x = 0, y = 0;
        const int titleBar = Has(GetParam(), "mutter") ? 40 : 30;
        EXPECT_TRUE(PollUntil([&] {
            place = Geometry(dialog);
            return std::sscanf(place.c_str(), "348x208+%d+%d", &x, &y) == 2 &&
                   std::abs(x - 338) <= 8 && std::abs(y - 280) <= titleBar;
        })) << place;
        if (firstPlace.empty()) firstPlace = place;
        EXPECT_EQ(place, firstPlace) << "the dialog moved between openings";
        EXPECT_TRUE(Has(Property(dialog, "_NET_WM_STATE"), "_NET_WM_STATE_SKIP_TASKBAR"));
        const std::string actions = Property(dialog, "_NET_WM_ALLOWED_ACTIONS");
        // openbox lets its own key bindings minimise any window, with or without a button.
        EXPECT_FALSE(Has(actions, "MAXIMIZE")) << actions;
        if (Has(GetParam(), "xfwm4")) {
            EXPECT_FALSE(Has(actions, "MINIMIZE")) << actions;
        }
        const std::vector<std::string> stacking = Words(Capture(
            "xprop -root _NET_CLIENT_LIST_STACKING | cut -d# -f2 | tr , '\\n' | xargs printf "
            "'%d '"));
        const auto at = [&](const std::string& window) {
            return std::ranges::find(stacking, window) - stacking.begin();
        };
        EXPECT_GT(at(dialog), at(id)) << "the dialog is under the window";
        Capture("xdotool key " + std::string(keys));
        if (keys[0] == 'E') Capture("xdotool mousemove 640 464 click 1");  // Cancel
        EXPECT_TRUE(PollUntil([] { return MappedWindow("KAVREN Nodrel Options").empty(); }, 3s));
    }
    // The widest cells: 60 columns of 10 + 1 pixels.
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "663x43+300+200"; })) << Geometry(id);

    menuItem("key Up key Up ");  // "Minimize to SystemTray"
    ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); }));
    fromTheTray();
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "663x43+300+200"; })) << Geometry(id);

    // Grab at (30, 20) of the window and move 120 left and 80 up in four steps.
    Capture(
        "xdotool mousemove 330 220 mousedown 1 sleep 0.1 mousemove 300 200 sleep 0.1 "
        "mousemove 270 180 sleep 0.1 mousemove 240 160 sleep 0.1 mousemove 210 140 sleep 0.1 "
        "mouseup 1");
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "663x43+180+120"; })) << Geometry(id);

    // Hidden, then the tray goes away: the window comes back where it was.
    MenuCommand("210 140", 2);  // "Minimize to SystemTray"
    ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); }));
    Signal(tint2_, SIGTERM);
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "663x43+180+120"; })) << Geometry(id);
    MenuCommand("210 140", 1);  // "Close KAVREN Nodrel"
    EXPECT_EQ(ProgramStatus(), 0) << Log("nodrel");
    EXPECT_EQ(Stored("left"), 180);
    EXPECT_EQ(Stored("top"), 120);
    EXPECT_EQ(Stored("minimized"), 0);
    EXPECT_EQ(Stored("w"), 10);
}

// Ten short starts, none dragged first: the place holds through the first size switch, the menu
// opens at the pointer, and the store gets the place back, also from a window closed while hidden,
// at every screen scale.
TEST_P(DesktopTest, TenStartsInARowEachKeepTheirPlaceAtEveryScale) {
    for (int start = 0; start < 10; ++start) {
        const char* scale[] = {"1", "1.5", "2"};
        setenv("QT_SCALE_FACTOR", scale[start % 3], 1);
        const double factor = std::atof(scale[start % 3]);
        // Screen pixels from the program's own.
        const auto scaled = [&](int logical) { return std::to_string(int(logical * factor)); };
        const auto at = [&](int x, int y) { return scaled(x) + " " + scaled(y); };
        // Near the top left: the widest window and the menu fit the screen at every scale, so no
        // window manager moves them.
        const std::string place = "+" + scaled(100) + "+" + scaled(20);
        SCOPED_TRACE("start " + std::to_string(start) + " at scale " + scale[start % 3]);
        WriteStore({{"left", 100}, {"top", 20}, {"modenum", start == 0 ? 3 : 2}});
        StartProgram();
        const std::string id = FloatingWindow();
        ASSERT_FALSE(id.empty()) << Log("nodrel");
        const std::string mapped = Geometry(id);
        EXPECT_TRUE(Has(mapped, place)) << mapped;
        // The newest cell's middle turns blue with the first answer.
        EXPECT_TRUE(PollUntil([&] { return Pixel(id, at(4, 39)) == "0000FF"; }))
            << Pixel(id, at(4, 39));
        if (start == 0) {
            // Size mode 3: the designed width, and right of the picture the background colour.
            EXPECT_TRUE(mapped.starts_with(scaled(761) + "x")) << mapped;
            EXPECT_EQ(Pixel(id, at(600, 20)), "FFFFFF");
        }
        Capture("xdotool mousemove " + at(110, 24));
        if (start % 2 == 0) {
            Capture("xdotool click --repeat 2 --delay 80 1");
            EXPECT_TRUE(PollUntil([&] { return Geometry(id) != mapped; }));
            EXPECT_TRUE(Has(Geometry(id), place)) << Geometry(id);
        } else {
            Capture("xdotool click 3");
            const std::string menu = MenuWindow();
            // At the pointer; at scale 2 the menu is taller than the screen below it, and Qt moves
            // it up, never sideways.
            EXPECT_TRUE(
                Has(Geometry(menu), "+" + scaled(110) + "+" + (factor < 2 ? scaled(24) : "")))
                << Geometry(menu);
            Capture("xdotool key Up key Up sleep 0.1 key Return");  // "Minimize to SystemTray"
            EXPECT_TRUE(PollUntil([] { return !TrayIcons().empty(); }));
        }
        EndBySignal();
        EXPECT_EQ(Stored("left"), 100);
        EXPECT_EQ(Stored("top"), 20);
        EXPECT_EQ(Stored("minimized"), start % 2);
    }
    unsetenv("QT_SCALE_FACTOR");
}

TEST_P(DesktopTest, SigtermEndsAtOnceWhileAProbeWaitsOutItsTimeout) {
    if (geteuid() != 0) GTEST_SKIP() << "a private network namespace needs root";
    if (!Missing("unshare ip").empty()) GTEST_SKIP() << "unshare or ip is not installed";
    WriteStore({{"timeout", 60000}});
    const auto started = Clock::now();
    // Loopback in a network namespace of its own that answers no echo request.
    StartProgram(
        "unshare -n sh -c 'ip link set lo up && "
        "echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all && exec \"$0\"'");
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    std::this_thread::sleep_until(started + 2s);
    EXPECT_EQ(NewestCells(id), "1:C0C0C0 1:C0C0C0 ") << "the probe is not waiting";

    std::filesystem::remove(StorePath());  // written anew at the signal
    EndBySignal();
    EXPECT_FALSE(Has(Log("nodrel"), "Sanitizer")) << Log("nodrel");
    EXPECT_EQ(Stored("timeout"), 60000);
}

TEST_P(DesktopTest, HoveringACellShowsItsReadoutNearThePointer) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    ASSERT_TRUE(PollUntil([&] { return NewestCells(id) == "1:0000FF 1:0000FF "; }))
        << NewestCells(id);

    // Where the program's tooltip is on the screen, empty while none is shown.
    const auto tipPlace = [] {
        for (const std::string& window : ProgramWindows()) {
            if (Has(Capture("xprop -id " + window + " _NET_WM_WINDOW_TYPE"), "TOOLTIP")) {
                const std::string geometry = Geometry(window);
                return geometry.substr(std::min(geometry.find('+'), geometry.size()));
            }
        }
        return std::string();
    };
    // Over the newest cell, at (4, 39) of the window; then over the next column's first cell.
    Capture("xdotool mousemove 304 239");
    std::string place;
    EXPECT_TRUE(PollUntil([&] { return !(place = tipPlace()).empty(); })) << "no tooltip";
    int x = 0, y = 0;
    std::sscanf(place.c_str(), "+%d+%d", &x, &y);
    EXPECT_TRUE(x >= 304 && x < 344 && y >= 239 && y < 279) << place;
    Capture("xdotool mousemove 310 239");
    EXPECT_TRUE(PollUntil([&] {
        return std::sscanf(tipPlace().c_str(), "+%d+%d", &x, &y) == 2 && x >= 310 && x < 350;
    })) << tipPlace();
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopTest,
                         ::testing::Values(kOpenbox, kXfwm4, kKwin, kMutter),
                         [](const auto& run) { return WindowManagerName(run.param); });

// A second start in the session asks the running monitor to show its window, out of the tray, and
// ends with 0: over the session bus, and without one over the socket that a killed monitor leaves
// to the next start. A running monitor holds its name on the bus, whether it started in the tray
// or on screen.
TEST_F(OpenboxDesktopTest, ASecondStartShowsTheRunningWindowAndEnds) {
    const std::string session = getenv("DBUS_SESSION_BUS_ADDRESS");
    const auto nameHeld = [&] {
        return Capture("DBUS_SESSION_BUS_ADDRESS=" + session +
                       " gdbus call --session --dest org.freedesktop.DBus --object-path / "
                       "--method org.freedesktop.DBus.NameHasOwner example.kavren.Nodrel") ==
               "(true,)\n";
    };
    WriteStore({{"minimized", 1}});
    for (const bool bus : {true, false}) {
        SCOPED_TRACE(bus ? "with a session bus" : "without a session bus");
        if (!bus) setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        const pid_t first = StartProgram();
        ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");
        EXPECT_TRUE(FloatingWindow().empty());
        if (bus) {
            EXPECT_TRUE(PollUntil(nameHeld));
        }

        StartProgram("", "second");
        EXPECT_EQ(ProgramStatus(), 0) << Log("second");
        EXPECT_EQ(Log("second"), "KAVREN Nodrel is already running; its window was shown.\n");
        EXPECT_FALSE(FloatingWindow().empty()) << Log("nodrel");
        EXPECT_TRUE(PollUntil([] { return TrayIcons().empty(); }));

        Signal(first, SIGKILL);
        program_ = first;
        EXPECT_EQ(ProgramStatus(), 128 + SIGKILL);
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", session.c_str(), 1);
    WriteStore();
    StartProgram();
    EXPECT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    EXPECT_TRUE(PollUntil(nameHeld)) << Log("nodrel");
    EndBySignal();
}

// A close whose save fails keeps the store as it was and says so once on standard error, where
// and why; closed from its menu, the program shows it in the tray before it ends, while a signal
// to end is never kept waiting.
TEST_F(OpenboxDesktopTest, ACloseThatCannotSaveKeepsTheStoreAndSaysSo) {
    const std::string folder = dir_ + "/config/KAVREN";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(folder);
    WriteStore({{"ws", 9}});  // loaded as 5: the close has a change to save
    const std::string before = Capture("cat " + StorePath());
    ASSERT_TRUE(nodrel::testing::FillFileSystem(folder));

    StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    MenuCommand("310 210", 1);  // "Close KAVREN Nodrel"
    // The window gone, the icon back in the tray, and the message beside it.
    EXPECT_TRUE(PollUntil(TrayMessageShown)) << Log("nodrel");
    EXPECT_EQ(ProgramStatus(12s), 0) << Log("nodrel");
    EXPECT_EQ(Capture("grep -c 'not saved' " + dir_ + "/nodrel.log"), "1\n") << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "KAVREN Nodrel: settings not saved to " + StorePath() +
                                       ": No space left on device\n"))
        << Log("nodrel");
    EXPECT_EQ(Capture("cat " + StorePath()), before);

    std::filesystem::remove(folder + "/filler");
    ASSERT_TRUE(nodrel::testing::RemountReadOnly(folder));
    StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    EndBySignal();
    EXPECT_EQ(Capture("grep -c 'not saved' " + dir_ + "/nodrel.log"), "1\n") << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), ": Read-only file system\n")) << Log("nodrel");
    EXPECT_EQ(Capture("cat " + StorePath()), before);
    nodrel::testing::UnmountSmallFileSystem(folder);
}

// On a StatusNotifierItem host: the item tells the latest outcome, its hint and its menu; a single
// activation brings the window back, and the window comes back when the panel goes away.
TEST_F(StatusNotifierDesktopTest, TheItemFollowsTheOutcomesAndTheWindowNeverVanishes) {
    if (geteuid() != 0) GTEST_SKIP() << "switching the answers off needs a network namespace";
    WriteStore({{"minimized", 1}, {"timeout", 300}});
    StartProgram("unshare -n sh -c 'ip link set lo up && exec \"$0\"'");
    std::string item;
    ASSERT_TRUE(PollUntil([&] { return !(item = Item()).empty(); })) << Log("nodrel");
    EXPECT_TRUE(FloatingWindow().empty());
    const auto answers = [&](bool on) {
        Capture("nsenter -t " + std::to_string(program_) + " -n sh -c 'echo " + (on ? "0" : "1") +
                " >/proc/sys/net/ipv4/icmp_echo_ignore_all'");
    };
    EXPECT_TRUE(PollUntil([&] { return ItemIconColour(item) == "1E56D8"; }))
        << ItemIconColour(item);
    answers(false);
    EXPECT_TRUE(PollUntil([&] { return ItemIconColour(item) == "D82424"; }))
        << ItemIconColour(item);
    answers(true);
    EXPECT_TRUE(PollUntil([&] { return ItemIconColour(item) == "1E56D8"; }))
        << ItemIconColour(item);
    EXPECT_TRUE(Has(ItemProperty(item, "ToolTip"), "'KAVREN Nodrel - 127.0.0.1'"))
        << ItemProperty(item, "ToolTip");
    const std::string menuPath = Words(ItemProperty(item, "Menu")).back();
    const std::string menu =
        Capture("gdbus call --session -d " + item.substr(0, item.find('/')) + " -o " +
                menuPath.substr(menuPath.find('/'), menuPath.find('\'', 1) - menuPath.find('/')) +
                " -m com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []'");
    const size_t show = menu.find("'Show Floating Window'");
    EXPECT_TRUE(show != std::string::npos && show < menu.find("'Close KAVREN Nodrel'"))
        << menuPath << menu;

    Capture("gdbus call --session -d " + item.substr(0, item.find('/')) +
            " -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate 0 0");
    EXPECT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    EXPECT_TRUE(PollUntil([] { return Item().empty(); }));
    MinimizeFromTheMenu();
    EXPECT_TRUE(PollUntil([] { return !Item().empty(); })) << Log("nodrel");

    Signal(panel_, SIGTERM);
    EXPECT_FALSE(FloatingWindow().empty()) << "no window after the panel went away";
    StartPanel();
    MinimizeFromTheMenu();
    EXPECT_TRUE(PollUntil([] { return !Item().empty(); })) << Log("nodrel");
    EXPECT_TRUE(FloatingWindow().empty());
}

// Without an X server the program runs on Qt's Wayland plugin: it shows its window where the
// compositor puts it, ends on a signal, and keeps the stored place, which it cannot know there.
TEST_F(WaylandDesktopTest, WithoutXWaylandTheProgramRunsNativelyAndKeepsTheStoredPlace) {
    if (!Has(Capture("ls /usr/lib/*/qt6/plugins/platforms/"), "libqwayland")) {
        GTEST_SKIP() << "not installed: qt6-wayland";
    }
    StartWeston(false);
    WriteStore({{"left", 300}, {"top", 200}});
    setenv("WAYLAND_DEBUG", "client", 1);  // the protocol as the program speaks it, on its log
    StartProgram();
    unsetenv("WAYLAND_DEBUG");
    EXPECT_TRUE(PollUntil([&] {
        return Has(Log("nodrel"), "set_title(\"KAVREN Nodrel - 127.0.0.1\")");
    })) << Log("weston");
    std::this_thread::sleep_for(1s);
    EndBySignal();
    EXPECT_EQ(Stored("left"), 300);
    EXPECT_EQ(Stored("top"), 200);
}

// Through XWayland the program is an X client as on any X desktop, placed by weston's own window
// manager; it ends on a signal and saves. (Weston's headless XWayland takes no synthetic input:
// xdotool's pointer ends its X server, so the menu is tried on the X desktops only.)
TEST_F(WaylandDesktopTest, ThroughXWaylandTheWindowShowsAndSaves) {
    if (!Missing("Xwayland xdotool").empty()) {
        GTEST_SKIP() << "not installed: " << Missing("Xwayland xdotool");
    }
    const std::string display = StartWeston(true);
    ASSERT_FALSE(display.empty()) << Log("weston");
    setenv("DISPLAY", display.c_str(), 1);
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel") << Log("weston");
    EXPECT_TRUE(Has(Geometry(id), "75x43+")) << Geometry(id);
    std::filesystem::remove(StorePath());  // written anew at the signal
    EndBySignal();
    EXPECT_EQ(Stored("timeout"), 1000);
}

// Iconified by the window manager (a shortcut, "show desktop"), the window goes to the tray, where
// there is one; with none it stays on screen, since nothing could bring it back.
TEST_F(OpenboxDesktopTest, IconifiedTheWindowGoesToTheTrayOrStaysInReach) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    const auto viewable = [&] { return Has(Capture("xwininfo -id " + id), "IsViewable"); };
    Capture("xdotool windowminimize " + id);
    EXPECT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");
    EXPECT_FALSE(viewable());

    Signal(tint2_, SIGTERM);
    EXPECT_TRUE(PollUntil(viewable)) << "no window after the tray went away";
    Capture("xdotool windowminimize " + id);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(PollUntil(viewable)) << "iconified with no tray to come back from";
    EXPECT_FALSE(Has(Property(id, "_NET_WM_STATE"), "HIDDEN")) << Property(id, "_NET_WM_STATE");
}
