// "History..." in the window's menu and in the tray menu.

#include <gtest/gtest.h>

#include "history_window.h"
#include "window_test_fixture.h"

namespace nodrel {
namespace {

class HistoryMenuTest : public testing::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // No journal there: the window tells so instead of reading the user's own.
        qputenv("XDG_STATE_HOME", configHome_.filePath(QStringLiteral("state")).toLocal8Bit());
        ASSERT_TRUE(testing::WriteStore(testing::CompleteStore()));
    }
};

// Both menus open the one History window: a normal window (with a taskbar entry), not a tool
// window like the floating one, nor a child of it; closed, it comes back at the next command.
TEST_F(HistoryMenuTest, BothMenusShowOneNormalHistoryWindow) {
    TFloatingWindow window;
    window.show();
    EXPECT_EQ(window.HistoryWindow(), nullptr);
    window.WindowMenu().findChild<QAction*>("NHistory")->trigger();
    THistoryWindow* history = window.HistoryWindow();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->windowType(), Qt::Window);
    EXPECT_EQ(history->parentWidget(), nullptr);
    EXPECT_EQ(history->windowTitle(), QStringLiteral("History - KAVREN Nodrel"));
    EXPECT_EQ(history->View().state, TJournalState::Missing);
    history->close();
    EXPECT_FALSE(history->isVisible());
    window.TrayMenu().findChild<QAction*>("NHistory")->trigger();
    EXPECT_EQ(window.HistoryWindow(), history);
    EXPECT_TRUE(history->isVisible());
}

}  // namespace
}  // namespace nodrel
