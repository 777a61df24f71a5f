// One monitor per session, with real processes on a real X desktop: starts close together, with
// and without a session bus, and a start while a closing copy still shows why its save failed.

#include <gio/gio.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
// one monitor: the second asks the first, which shows its window, says so and ends with 0, also
// when the first has a session bus and the second none. The lock file an older version left names
// a live process of someone else's: nothing may signal it.
TEST_F(InstanceDesktopTest, TwoStartsAtOnceMakeOneMonitorAndSignalNoStranger) {
    if (!Missing("strace pgrep").empty()) GTEST_SKIP() << "not installed: strace or pgrep";
    const std::string session = getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string runtime = getenv("XDG_RUNTIME_DIR");
    const pid_t stranger = Spawn("stranger", "exec sleep 600");
    for (const std::string mode :
         {"with a session bus", "without a session bus",
          "without a session bus and a runtime folder", "the second without a session bus"}) {
        SCOPED_TRACE(mode);
        const auto dropBus = [&] {
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        };
        if (mode.starts_with("without")) dropBus();
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
        if (mode == "the second without a session bus") dropBus();
        // Its standard output alone in second.log.
        StartProgram("sh -c 'exec \"$0\" 2>" + dir_ + "/second-errors.log'", "second");
        EXPECT_EQ(ProgramStatus(20s), 0) << Log("second-errors");
        EXPECT_EQ(Log("second"), "KAVREN Nodrel is already running; its window was shown.\n");
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

// A program that owns the monitor's bus name and has no Activate, as an older version or another
// program would: a start says so and what to do at once, instead of waiting for an answer.
TEST_F(InstanceDesktopTest, ANameOwnerWithoutActivateIsToldAtOnce) {
    // Its connection's own thread answers every call with an error.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    g_variant_unref(g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "example.kavren.Nodrel", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr));
    WriteStore();
    StartProgram();
    EXPECT_EQ(ProgramStatus(5s), 3) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "org.freedesktop.DBus.Error.UnknownMethod")) << Log("nodrel");
    EXPECT_TRUE(Has(Log("nodrel"), "close it, then start again")) << Log("nodrel");
    g_object_unref(bus);
}

// Without a session bus, another user who connects to the monitor's socket gets no answer, and
// the window hidden in the tray stays hidden.
TEST_F(InstanceDesktopTest, AnotherUsersRequestIsNeitherObeyedNorAnswered) {
    if (geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
    WriteStore({{"minimized", 1}});
    StartProgram();
    ASSERT_TRUE(PollUntil([] { return !TrayIcons().empty(); })) << Log("nodrel");

    const std::string name = "example.kavren.Nodrel." + std::to_string(getuid()) + ':' + dir_;
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const pid_t stranger = fork();
    if (stranger == 0) {  // exits 0 when the monitor closes the connection unanswered
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        pollfd answer{fd, POLLIN, 0};
        char byte = 0;
        _exit(setgroups(0, nullptr) || setresgid(65534, 65534, 65534) ||
              setresuid(65534, 65534, 65534) ||
              connect(fd, reinterpret_cast<sockaddr*>(&address), length) ||
              poll(&answer, 1, 5000) != 1 || read(fd, &byte, 1) != 0);
    }
    int status = -1;
    waitpid(stranger, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(PollUntil(
        [] { return !Capture("xdotool search --onlyvisible --name '^" + kTitle + "$'").empty(); },
        2s));
}

}  // namespace
