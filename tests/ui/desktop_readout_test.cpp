// The readout under the pointer on a real X desktop, looked at from outside with the X tools.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/desktop_session.h"

namespace {

using namespace std::chrono_literals;
using namespace nodrel::testing;

// The parameter: the window manager's command line.
class DesktopReadoutTest : public DesktopSession,
                           public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { StartXDesktop(GetParam()); }
};

// The program's mapped tooltip windows, by id.
std::string Tooltips() {
    std::string tips;
    for (const std::string& window : ProgramWindows()) {
        if (Has(Property(window, "_NET_WM_WINDOW_TYPE"), "TOOLTIP")) tips += window + " ";
    }
    return tips;
}

// Qt lets a tooltip fade for 300 ms once the pointer has left; probing every 200 ms, an outcome
// always arrives meanwhile, and renews the readout's text.
TEST_P(DesktopReadoutTest, TheReadoutGoesWhenThePointerLeavesJustBeforeAnOutcome) {
    WriteStore({{"interval", 200}});
    StartProgram();
    const std::string id = FloatingWindow();
    ASSERT_FALSE(id.empty()) << Log("nodrel");
    ASSERT_TRUE(PollUntil([&] { return NewestCells(id) == "1:0000FF 1:0000FF "; }))
        << NewestCells(id);

    Capture("xdotool mousemove 304 239");  // over the newest cell
    ASSERT_TRUE(PollUntil([] { return !Tooltips().empty(); })) << "no tooltip";
    Capture("xdotool mousemove 900 700");  // far from the window
    EXPECT_TRUE(PollUntil([] { return Tooltips().empty(); }, 2s)) << Tooltips();
    // A dozen outcomes later, none has brought it back.
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(Tooltips(), "");
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopReadoutTest, ::testing::Values(kOpenbox, kXfwm4),
                         [](const auto& run) { return WindowManagerName(run.param); });

}  // namespace
