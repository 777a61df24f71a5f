// The window under the window managers of the common desktops: openbox and xfwm4, KDE's kwin_x11,
// GNOME's mutter and i3, which frames every floating window with a title bar and a border.
// What each manager's own policy makes different is named where it is expected.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop_session.h"

namespace {

using namespace std::chrono_literals;
using namespace nodrel::testing;

bool IsI3(const std::string& windowManager) {
    return WindowManagerName(windowManager) == "i3";
}

// The parameter: the window manager's command line.
class WindowManagerTest : public DesktopSession, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { StartXDesktop(GetParam()); }

    // The current workspace, counted from 0. i3 numbers its workspaces by name from 1 and lists
    // only those that hold a window or are shown.
    int CurrentWorkspace() const {
        // Its index and its name.
        const std::vector<std::string> current =
            Words(Capture("wmctrl -d | awk '$2 == \"*\" { print $1, $NF }'"));
        if (current.size() != 2) return -1;
        return IsI3(GetParam()) ? std::atoi(current[1].c_str()) - 1 : std::atoi(current[0].c_str());
    }

    // As a user switches: wmctrl asks through the root window, i3 makes a missing workspace.
    void SwitchToWorkspace(int workspace) const {
        if (IsI3(GetParam())) {
            Capture("i3-msg workspace number " + std::to_string(workspace + 1));
        } else {
            Capture("wmctrl -s " + std::to_string(workspace));
        }
    }

    // The client area of a window stored at (300, 200), 75 x 43 pixels: i3 frames it with a
    // 2-pixel border and an 18-pixel title bar below that corner, and makes it at least 50 high.
    std::string StoredPlace() const { return IsI3(GetParam()) ? "75x50+302+218" : "75x43+300+200"; }
};

// Three starts in a row, the first across four workspaces and back: on every workspace the window
// stays shown at its place, out of the tray, and the workspace stays the one the user chose; sent
// to one workspace, it waits there. Each start, and each showing from the tray, finds the window
// where it was, whatever the manager does with a newly mapped window.
TEST_P(WindowManagerTest, ThreeStartsInARowOnEveryWorkspaceAtTheSamePlace) {
    if (IsI3(GetParam()) && !Missing("i3-msg").empty()) GTEST_SKIP() << "not installed: i3-msg";
    WriteStore();
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE("start " + std::to_string(start));
        StartProgram();
        const std::string id = FloatingWindow();
        ASSERT_FALSE(id.empty()) << Log("nodrel");
        EXPECT_TRUE(PollUntil([&] { return Geometry(id) == StoredPlace(); })) << Geometry(id);
        if (start == 1) {
            // Hidden to the tray and back: mapped again at the same place.
            MenuCommand(IsI3(GetParam()) ? "312 228" : "310 210", 2);  // "Minimize to SystemTray"
            ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");
            Capture("xdotool mousemove --window " + TrayIcons().front() +
                    " 5 5 click --repeat 2 --delay 80 1");
            EXPECT_TRUE(PollUntil([&] { return Viewable(id); }));
            EXPECT_TRUE(PollUntil([&] { return Geometry(id) == StoredPlace(); })) << Geometry(id);
        }
        if (start == 0) {
            EXPECT_TRUE(
                PollUntil([&] { return Property(id, "_NET_WM_DESKTOP") == "4294967295"; }, 3s))
                << Property(id, "_NET_WM_DESKTOP");
            for (const int workspace : {1, 2, 3, 0}) {
                SCOPED_TRACE("workspace " + std::to_string(workspace));
                SwitchToWorkspace(workspace);
                EXPECT_TRUE(PollUntil([&] { return CurrentWorkspace() == workspace; }, 3s))
                    << Capture("wmctrl -d");
                // Long enough for the program to answer the switch, and for a place it takes
                // from the server to hold.
                std::this_thread::sleep_for(400ms);
                EXPECT_EQ(CurrentWorkspace(), workspace) << Capture("wmctrl -d");
                EXPECT_TRUE(Viewable(id)) << Capture("xwininfo -id " + id);
                EXPECT_TRUE(TrayIcons().empty());
                EXPECT_EQ(Geometry(id), StoredPlace());
            }
            // Sent to the second workspace alone, as from a pager: hidden with it, not minimised
            // (mutter keeps a sticky window on every workspace; i3 has no such request).
            const std::string manager = WindowManagerName(GetParam());
            if (manager != "mutter" && manager != "i3") {
                Capture("xdotool set_desktop_for_window " + id + " 1");
                EXPECT_TRUE(PollUntil([&] { return !Viewable(id); }, 3s));
                std::this_thread::sleep_for(400ms);
                EXPECT_TRUE(TrayIcons().empty());
                SwitchToWorkspace(1);
                EXPECT_TRUE(PollUntil([&] { return Viewable(id); }, 3s));
                EXPECT_EQ(Geometry(id), StoredPlace());
                SwitchToWorkspace(0);
            }
        }
        EndBySignal();
        EXPECT_EQ(Stored("left"), 300);
        EXPECT_EQ(Stored("top"), 200);
        EXPECT_EQ(Stored("minimized"), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, WindowManagerTest,
                         ::testing::Values(kOpenbox, kXfwm4, kKwin, kMutter, kI3),
                         [](const auto& run) { return WindowManagerName(run.param); });

class OpenboxWindowTest : public DesktopSession {
protected:
    void SetUp() override { StartXDesktop(kOpenbox); }
};

class SlowManagerTest : public DesktopSession {
protected:
    void SetUp() override {
        StartSession();
        if (!IsSkipped() && !HasFatalFailure()) StartX(NODREL_SLOW_MANAGER);
    }
};

// Under openbox with no X tray.
class StatusNotifierHostTest : public DesktopSession {
protected:
    void SetUp() override {
        StartSession();
        if (!IsSkipped() && !HasFatalFailure()) StartX(kOpenbox);
    }
};

// Under a manager that maps the window off the place it asks for and puts it there only half a
// second later: the place passed through is not taken for the window's, which is stored where
// it was.
TEST_F(SlowManagerTest, APlaceTheManagerPassesThroughIsNotKept) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    EXPECT_TRUE(PollUntil([&] { return Geometry(id) == "75x43+300+200"; })) << Geometry(id);
    EndBySignal();
    EXPECT_EQ(Stored("left"), 300);
    EXPECT_EQ(Stored("top"), 200);
}

// Minimising the About box (openbox lets any window be minimised) iconifies its group: the
// floating window is not the one the user minimised, and stays on screen, out of the tray; the
// About box, which holds the window's input while it is open, comes back with it.
TEST_F(OpenboxWindowTest, MinimisingTheAboutBoxLeavesTheWindowOnScreen) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    MenuCommand("310 210", 14);  // "About KAVREN Nodrel..."
    const std::string about = MappedWindow("About...");
    ASSERT_FALSE(about.empty()) << Log("nodrel");
    Capture("xdotool windowminimize " + about);
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(Viewable(id));
    EXPECT_TRUE(Viewable(about));
    EXPECT_TRUE(TrayIcons().empty());
    EXPECT_EQ(Geometry(id), "75x43+300+200");
    Capture("xdotool key Escape");
    EXPECT_TRUE(PollUntil([&] { return !Viewable(about); }, 3s));
    EndBySignal();
    EXPECT_EQ(Stored("minimized"), 0);
}

// Hidden in the tray, the window keeps its place whatever is reported for it meanwhile: withdrawn,
// it is no longer the manager's, and anything may move it.
TEST_F(OpenboxWindowTest, AHiddenWindowKeepsItsPlace) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    Capture("xdotool windowmove " + id + " 500 400");
    ASSERT_TRUE(PollUntil([&] { return Geometry(id) == "75x43+500+400"; })) << Geometry(id);
    MenuCommand("510 410", 2);  // "Minimize to SystemTray"
    ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");
    Capture("xdotool windowmove " + id + " 20 30");
    std::this_thread::sleep_for(1500ms);  // longer than a reported place must hold
    EndBySignal();
    EXPECT_EQ(Stored("left"), 500);
    EXPECT_EQ(Stored("top"), 400);
    EXPECT_EQ(Stored("minimized"), 1);
}

// The colour dialog opens in the middle of the screen at every opening, titled with what it
// colours; "Minimize to SystemTray" is off while no tray runs (the menu's keys pass over it), and
// on again once one does.
TEST_F(OpenboxWindowTest, TheColourDialogIsCentredAndNamedAndMinimisingFollowsTheTray) {
    WriteStore();
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    std::string firstPlace;
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE("opening " + std::to_string(opening));
        MenuCommand("310 210", 9);  // "Colors", then its second item, "Background"
        Capture("xdotool sleep 0.2 key Down sleep 0.1 key Return");
        const std::string dialog = MappedWindow("Select Color - Background");
        ASSERT_FALSE(dialog.empty()) << Log("nodrel");
        EXPECT_EQ(Property(dialog, "_NET_WM_NAME"), "\"Select Color - Background\"");
        // Its client area's middle at the screen's (512, 384), give or take the frame.
        std::string place;
        EXPECT_TRUE(PollUntil([&] {
            int width = 0, height = 0, x = 0, y = 0;
            place = Geometry(dialog);
            return std::sscanf(place.c_str(), "%dx%d+%d+%d", &width, &height, &x, &y) == 4 &&
                   std::abs(x + width / 2 - 512) <= 8 && std::abs(y + height / 2 - 384) <= 30;
        })) << place;
        if (opening == 0) firstPlace = place;
        EXPECT_EQ(place, firstPlace);
        Capture("xdotool key Escape");
        EXPECT_TRUE(PollUntil([&] { return !Viewable(dialog); }, 3s));
    }

    Signal(tint2_, SIGTERM);
    ASSERT_TRUE(PollUntil([] { return !TrayOwned(); }));
    MenuCommand("310 210", 2);  // passes over "Minimize to SystemTray" to "Options..."
    const std::string options = MappedWindow("KAVREN Nodrel Options");
    EXPECT_FALSE(options.empty()) << Log("nodrel");
    Capture("xdotool mousemove 640 464 click 1");  // Cancel
    EXPECT_TRUE(PollUntil([&] { return !Viewable(options); }, 3s));
    StartXTray();
    MenuCommand("310 210", 2);  // "Minimize to SystemTray"
    EXPECT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");
    EndBySignal();
}

// Without an ICMP socket the start fails and says why in a box that fits the screen, the program's
// long path whole in the command offered, and the same on standard error.
TEST_F(OpenboxWindowTest, AStartThatCannotProbeSaysWhyInTheBoxAndOnStandardError) {
    if (geteuid() != 0) GTEST_SKIP() << "taking the ICMP sockets away needs a network namespace";
    if (!Missing("unshare setpriv").empty()) GTEST_SKIP() << "not installed: unshare or setpriv";
    const std::string program =
        dir_ + "/" + std::string(90, 'a') + "/" + std::string(90, 'b') + "/nodrel";
    std::filesystem::create_directories(std::filesystem::path(program).parent_path());
    WriteStore();
    // No user may ping, and the program may open no raw socket.
    StartProgram("unshare -n sh -c 'echo 1 0 >/proc/sys/net/ipv4/ping_group_range && cp \"$0\" " +
                 program + " && exec setpriv --inh-caps=-net_raw --bounding-set=-net_raw " +
                 program + "'");
    const std::string box = MappedWindow("KAVREN Nodrel");
    ASSERT_FALSE(box.empty()) << Log("nodrel");
    int width = 0, height = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(Geometry(box).c_str(), "%dx%d+%d+%d", &width, &height, &x, &y), 4);
    EXPECT_TRUE(x >= 0 && x + width <= 1024) << Geometry(box);
    EXPECT_TRUE(PollUntil([&] { return Has(Log("nodrel"), program + "\n"); })) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"),
                    "KAVREN Nodrel: Unable to get ping handle.\nAllow ICMP for "
                    "users:\n  sudo sysctl net.ipv4.ping_group_range=\"0 "
                    "2147483647\"\nor let the program open raw sockets:\n  sudo "
                    "setcap cap_net_raw+ep " +
                        program + "\n"))
        << Log("nodrel");
    Signal(program_, SIGTERM);
}

// A StatusNotifierItem host that goes while its watcher stays (a panel's tray applet removed)
// brings the hidden window back, as a watcher that goes does; no X tray runs.
TEST_F(StatusNotifierHostTest, AHostThatGoesWhileItsWatcherStaysBringsTheWindowBack) {
    const pid_t watcher = Spawn("watcher", NODREL_WATCHER);
    ASSERT_TRUE(PollUntil([] {
        return Has(Capture("gdbus call --session -d org.freedesktop.DBus -o / -m "
                           "org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher"),
                   "true");
    })) << Log("watcher");
    WriteStore({{"minimized", 1}});
    StartProgram();
    EXPECT_TRUE(PollUntil([] { return !Item().empty(); })) << Log("nodrel");
    EXPECT_TRUE(ProgramWindows().empty() || FloatingWindow().empty());
    Signal(watcher, SIGUSR1);
    EXPECT_FALSE(FloatingWindow().empty()) << "no window after the host went away";
    EndBySignal();
    EXPECT_EQ(Stored("minimized"), 0);
}

}  // namespace
