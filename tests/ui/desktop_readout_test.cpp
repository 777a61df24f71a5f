// The readout under the pointer on a real X desktop, looked at with the X tools.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/desktop_session.h"

namespace {

using namespace std::chrono_literals;
using namespace nodrel::testing;

class DesktopReadoutTest : public DesktopSession,
                           public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override { StartXDesktop(GetParam()); }
};

// The program's mapped tooltip windows.
std::string Tooltips() {
    std::string tips;
    for (const std::string& window : ProgramWindows()) {
        if (Has(Property(window, "_NET_WM_WINDOW_TYPE"), "TOOLTIP")) tips += window + " ";
    }
    return tips;
}

// Qt lets a tooltip fade for 300 ms once the pointer has left: probing every 200 ms, an outcome
// always arrives meanwhile, with a readout text of its own.
TEST_P(DesktopReadoutTest, TheReadoutGoesWhenThePointerLeavesJustBeforeAnOutcome) {
    WriteStore({{"interval", 200}});
    StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    Capture("xdotool mousemove 304 239");  // over the newest cell
    ASSERT_TRUE(PollUntil([] { return !Tooltips().empty(); })) << "no tooltip";
    Capture("xdotool mousemove 900 700");
    EXPECT_TRUE(PollUntil([] { return Tooltips().empty(); }, 2s)) << Tooltips();
    std::this_thread::sleep_for(2s);  // ten outcomes later
    EXPECT_EQ(Tooltips(), "");
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopReadoutTest, ::testing::Values(kOpenbox, kXfwm4),
                         [](const auto& run) { return WindowManagerName(run.param); });

}  // namespace
