// Where the program's notices land on an X desktop with no notification server: at the tray icon.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/desktop_session.h"

namespace {

using namespace nodrel::testing;

// tint2 as a short panel in the middle of the screen's bottom edge: its icon far from any corner.
class XTrayNoticeTest : public DesktopSession {
protected:
    void SetUp() override {
        StartSession();
        if (!IsSkipped() && !HasFatalFailure()) StartX(kOpenbox);
        if (IsSkipped() || HasFatalFailure()) return;
        if (!Missing("tint2").empty()) GTEST_SKIP() << "not installed: tint2";
        std::ofstream(dir_ + "/tint2rc") << "panel_items = S\npanel_position = bottom center "
                                            "horizontal\npanel_size = 30% 30\n"
                                            "systray_icon_size = 24\n";
        tint2_ = Spawn("tint2", "tint2 -c " + dir_ + "/tint2rc");
        ASSERT_TRUE(PollUntil(TrayOwned)) << "no tray: " << Log("tint2");
    }
};

struct TRect {
    int w = 0, h = 0, x = 0, y = 0;
};

TRect RectOf(const std::string& id) {
    TRect r;
    std::sscanf(Geometry(id).c_str(), "%dx%d+%d+%d", &r.w, &r.h, &r.x, &r.y);
    return r;
}

// The program's message beside the tray icons, once one shows: its window among the program's
// that is not an icon.
std::string MessageWindow() {
    std::string message;
    PollUntil([&] {
        const std::vector<std::string> icons = TrayIcons();
        for (const std::string& id : ProgramWindows()) {
            if (!icons.empty() && !std::ranges::count(icons, id)) message = id;
        }
        return !message.empty();
    });
    return message;
}

// Beside the icon, in tint2 at the bottom of the 1024 x 768 screen: the message's bottom edge
// within reach of the panel, its span over the icon's middle.
void ExpectAtTheIcon(const std::string& message) {
    const std::vector<std::string> icons = TrayIcons();
    ASSERT_FALSE(icons.empty());
    const TRect icon = RectOf(icons.front());
    const TRect shown = RectOf(message);
    const std::string where = Geometry(message) + " for the icon at " + Geometry(icons.front());
    EXPECT_GE(shown.y + shown.h, 768 - 30 - 40) << where;
    EXPECT_LE(shown.x, icon.x + icon.w / 2) << where;
    EXPECT_GE(shown.x + shown.w, icon.x + icon.w / 2) << where;
}

// Started in the tray while the host does not answer: the outage's message points at the icon.
TEST_F(XTrayNoticeTest, AnOutageMessageWithoutAServerIsShownAtTheIcon) {
    if (geteuid() != 0) GTEST_SKIP() << "switching the answers off needs a network namespace";
    WriteStore({{"minimized", 1}});
    StartProgram(
        "unshare -n sh -c 'ip link set lo up && "
        "echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all && exec \"$0\"'");
    const std::string message = MessageWindow();
    ASSERT_FALSE(message.empty()) << Log("nodrel");
    ExpectAtTheIcon(message);
    EndBySignal();
}

// Closed from its menu with a save that fails, the program shows its icon for the message: the
// message waits for the icon to be in the tray, and is shown there.
TEST_F(XTrayNoticeTest, AFailedSaveIsToldAtTheIconJustShown) {
    WriteStore();
    StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    std::filesystem::remove(StorePath());
    std::filesystem::create_directory(StorePath());  // the save cannot replace a folder
    MenuCommand("310 210", 1);                       // "Close KAVREN Nodrel"
    const std::string message = MessageWindow();
    ASSERT_FALSE(message.empty()) << Log("nodrel");
    ExpectAtTheIcon(message);
    EXPECT_EQ(ProgramStatus(std::chrono::seconds(12)), 0) << Log("nodrel");
}

}  // namespace
