// Where the program's notices land on an X desktop whose notification server fails to start: at
// the tray icon, as where none runs.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/desktop_session.h"

namespace {

using namespace nodrel::testing;

class XTrayNoticeTest : public DesktopSession {
protected:
    void SetUp() override {
        // The bus starts the server from the user's own folder first, in place of any installed.
        char pattern[] = "/tmp/nodrel-data-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        data_ = pattern;
        setenv("XDG_DATA_HOME", data_.c_str(), 1);
        std::filesystem::create_directories(data_ + "/dbus-1/services");
        std::ofstream(data_ + "/dbus-1/services/org.freedesktop.Notifications.service")
            << "[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/false\n";
        StartXDesktop(kOpenbox);
    }

    void TearDown() override {
        DesktopSession::TearDown();
        std::filesystem::remove_all(data_);
    }

    std::string data_;
};

// Closed from its menu with a save that fails, whose notification the bus answers with the
// server's failed start, the program shows its icon for the message: the message points at the
// icon, in tint2 at the bottom left of the 1024 x 768 screen, not at the
// screen's top-left corner.
TEST_F(XTrayNoticeTest, AFailedSaveIsToldAtTheIcon) {
    WriteStore();
    StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    std::filesystem::remove(StorePath());
    std::filesystem::create_directory(StorePath());  // the save cannot replace a folder
    MenuCommand("310 210", 1);                       // "Close KAVREN Nodrel"
    std::string icon, message;  // the message: the program's one window that is not an icon
    ASSERT_TRUE(PollUntil([&] {
        const std::vector<std::string> icons = TrayIcons();
        for (const std::string& id : ProgramWindows()) {
            if (!icons.empty() && !std::ranges::count(icons, id)) message = id;
        }
        if (!icons.empty()) icon = icons.front();
        return !message.empty();
    })) << Log("nodrel");
    int w, h, x, y, iconW, iconH, iconX, iconY;
    ASSERT_EQ(std::sscanf(Geometry(message).c_str(), "%dx%d+%d+%d", &w, &h, &x, &y), 4);
    ASSERT_EQ(std::sscanf(Geometry(icon).c_str(), "%dx%d+%d+%d", &iconW, &iconH, &iconX, &iconY),
              4);
    const std::string where = Geometry(message) + " for the icon at " + Geometry(icon);
    EXPECT_GE(y + h, 768 - 30 - 40) << where;  // its bottom edge within reach of the panel
    EXPECT_TRUE(x <= iconX + iconW / 2 && x + w >= iconX + iconW / 2) << where;
    EXPECT_EQ(ProgramStatus(std::chrono::seconds(12)), 0) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "settings not saved to " + StorePath())) << Log("nodrel");
}

}  // namespace
