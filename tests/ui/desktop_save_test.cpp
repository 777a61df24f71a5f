// What a user is told about saves that fail, with a session manager of the test's own: the
// program saves at a session save and again when it closes.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "support/desktop_session.h"
#include "support/small_file_system.h"

namespace {

using namespace nodrel::testing;

class SessionSaveDesktopTest : public DesktopSession {
protected:
    void SetUp() override { StartXDesktop(kOpenbox); }
};

// A full disk fails the session save and then the close's: the user is told at the first, once
// for the run, and the store keeps what it held.
TEST_F(SessionSaveDesktopTest, AFailedSaveIsToldOncePerRun) {
    // Its TCP listener, which libICE always opens, stays inside a network namespace of its own.
    if (geteuid() != 0) GTEST_SKIP() << "the session manager needs a network namespace";
    const std::string folder = dir_ + "/config/KAVREN";
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(folder);
    WriteStore({{"ws", 9}});  // loaded as 5: each save has a change to write
    const std::string before = Capture("cat " + StorePath());
    ASSERT_TRUE(FillFileSystem(folder));

    const pid_t manager = Spawn("manager", "exec unshare -n '" NODREL_SESSION_MANAGER "'");
    std::string address;
    ASSERT_TRUE(PollUntil([&] {
        address = Capture("head -n 1 " + dir_ + "/manager.log | tr -d '\\n'");
        return address.starts_with("local/");
    })) << Log("manager");
    StartProgram("env SESSION_MANAGER=" + address);
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    Signal(manager, SIGUSR1);  // a session save
    EXPECT_TRUE(PollUntil([&] { return Has(Log("manager"), "saved\n"); })) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "KAVREN Nodrel: settings not saved to " + StorePath() +
                                       ": No space left on device\n"))
        << Log("nodrel");
    EXPECT_FALSE(FloatingWindow().empty());  // a session save ends nothing

    EndBySignal();
    EXPECT_EQ(Capture("grep -c 'not saved' " + dir_ + "/nodrel.log"), "1\n") << Log("nodrel");
    EXPECT_EQ(Capture("cat " + StorePath()), before);
    UnmountSmallFileSystem(folder);
}

// The folder's sync after the rename fails (strace makes the close's second fsync fail): the new
// file is in place, and the user reads that, not "not saved".
TEST_F(SessionSaveDesktopTest, ASaveWhoseFolderSyncFailsIsToldAsSavedButUnconfirmed) {
    if (!Missing("strace pgrep").empty()) GTEST_SKIP() << "not installed: strace or pgrep";
    WriteStore({{"ws", 9}});  // loaded as 5: the close has a change to save
    const pid_t tracer =
        // LeakSanitizer cannot work in a traced process: a sanitizer build checks the rest.
        StartProgram(
            "env ASAN_OPTIONS=detect_leaks=0 "
            "strace -f -qq -o /dev/null -e inject=fsync:error=EIO:when=2");
    ASSERT_FALSE(FloatingWindow().empty()) << Log("nodrel");
    pid_t program = -1;
    ASSERT_TRUE(PollUntil([&] {
        program = std::atoi(Capture("pgrep -P " + std::to_string(tracer)).c_str());
        return program > 0;
    }));
    Signal(program, SIGTERM);
    EXPECT_EQ(ProgramStatus(), 0) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "KAVREN Nodrel: settings in " + StorePath() +
                                       ": saved, but the disk did not confirm it: "
                                       "Input/output error\n"))
        << Log("nodrel");
    EXPECT_FALSE(Has(Log("nodrel"), "not saved")) << Log("nodrel");
    EXPECT_EQ(Stored("ws"), 5);
}

}  // namespace
