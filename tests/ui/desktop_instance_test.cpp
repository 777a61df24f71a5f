// One monitor per session, with real processes on a real X desktop: starts close together, with
// and without a session bus, and a start while a closing copy still shows why its save failed.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/desktop_session.h"
#include "support/small_file_system.h"

namespace {

using namespace std::chrono_literals;
using namespace nodrel::testing;

class InstanceDesktopTest : public DesktopSession {
protected:
    void SetUp() override { StartXDesktop(kOpenbox); }

    // A child of the test that has not ended (an ended one would still answer kill(pid, 0)).
    static bool Running(pid_t child) { return child > 0 && waitpid(child, nullptr, WNOHANG) == 0; }

    // The program strace started as its child.
    static pid_t TracedProgram(pid_t tracer) {
        pid_t program = -1;
        PollUntil([&] {
            program = std::atoi(Capture("pgrep -P " + std::to_string(tracer)).c_str());
            return program > 0;
        });
        return program;
    }
};

// Two starts close together, the first held by strace right after it took the instance (at the
// listen of its socket, or where an older start wrote its process id into the lock file), find
// one monitor: the second asks the first, which shows its window, and ends with 0. The lock file
// an older version left names a live process of someone else's: nothing may signal it.
TEST_F(InstanceDesktopTest, TwoStartsAtOnceMakeOneMonitorAndSignalNoStranger) {
    if (!Missing("strace pgrep").empty()) GTEST_SKIP() << "not installed: strace or pgrep";
    const std::string session = getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string runtime = getenv("XDG_RUNTIME_DIR");
    const pid_t stranger = Spawn("stranger", "exec sleep 600");
    for (const std::string mode : {"with a session bus", "without a session bus",
                                   "without a session bus and a runtime folder"}) {
        SCOPED_TRACE(mode);
        if (mode != "with a session bus") {
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        }
        if (mode == "without a session bus and a runtime folder") unsetenv("XDG_RUNTIME_DIR");
        std::ofstream(dir_ + "/example.kavren.Nodrel.lock") << stranger;
        WriteStore({{"minimized", 1}});

        // LeakSanitizer cannot work in a traced process: a sanitizer build checks the rest.
        const pid_t tracer = StartProgram(
            "env ASAN_OPTIONS=detect_leaks=0 "
            "strace -f -qq -o /dev/null -e inject=listen:delay_enter=2000000 "
            "-e inject=ftruncate:delay_enter=2000000:when=1",
            "first");
        std::this_thread::sleep_for(500ms);
        StartProgram("", "second");
        EXPECT_EQ(ProgramStatus(20s), 0) << Log("second");
        EXPECT_EQ(Log("second").find("KAVREN"), std::string::npos) << Log("second");
        EXPECT_FALSE(FloatingWindow().empty()) << Log("first");
        EXPECT_EQ(ProgramWindows().size(), 1u);
        EXPECT_TRUE(Running(stranger));

        const pid_t first = TracedProgram(tracer);
        ASSERT_TRUE(first > 0 && kill(first, 0) == 0) << Log("first");
        Signal(first, SIGTERM);
        EXPECT_TRUE(PollUntil([&] { return waitpid(tracer, nullptr, WNOHANG) == tracer; }));
        setenv("DBUS_SESSION_BUS_ADDRESS", session.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    EXPECT_TRUE(Running(stranger));
}

// A copy closed from its menu whose save fails stays about eight seconds to show why; it has
// given the instance up first, so a start meanwhile runs, and keeps running once that copy ends.
TEST_F(InstanceDesktopTest, AStartDuringAClosingCopysFailedSaveNoticeRuns) {
    const std::string folder = dir_ + "/config/KAVREN";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(folder);
    WriteStore({{"ws", 9}});  // loaded as 5: the close has a change to save
    ASSERT_TRUE(FillFileSystem(folder));

    const pid_t closing = StartProgram();
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    MenuCommand("310 210", 1);  // "Close KAVREN Nodrel"
    // The window gone, the icon back in the tray, and the message beside it.
    ASSERT_TRUE(PollUntil(TrayMessageShown)) << Log("nodrel");
    ASSERT_TRUE(Running(closing));

    const pid_t started = StartProgram("", "second");
    EXPECT_TRUE(PollUntil([] { return !FloatingWindow().empty(); })) << Log("second");
    program_ = closing;
    EXPECT_EQ(ProgramStatus(12s), 0) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "settings not saved to")) << Log("nodrel");
    EXPECT_TRUE(Running(started)) << Log("second");
    EXPECT_FALSE(FloatingWindow().empty()) << Log("second");
    program_ = started;
    EndBySignal();
    UnmountSmallFileSystem(folder);
}

}  // namespace
