// The real program's journal of loopback's answers, read with sqlite3 as a user would: in a
// private network namespace (root), on the offscreen platform.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/isolated_network.h"
#include "support/shell_command.h"
#include "support/test_store.h"

namespace nodrel {
namespace {

using namespace std::chrono_literals;

// Loopback answers in well under a millisecond: the journal keeps that to 0.01 ms, not as 0.
TEST(JournalRoundTripTest, LoopbacksAnswersAreJournaledInHundredthsOfAMillisecond) {
    if (testing::Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    char pattern[] = "/tmp/nodrel-round-trip-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-bus").c_str(), 1);
    testing::StoreValues store = testing::CompleteStore();
    store["interval"] = 1000u;
    ASSERT_TRUE(testing::WriteStore(store));
    const std::string journal = dir + "/state/KAVREN/Nodrel.sqlite";

    const pid_t program = fork();
    if (program == 0) {
        execl(NODREL_PROGRAM, NODREL_PROGRAM, nullptr);
        _exit(127);
    }
    ASSERT_GT(program, 0);
    const bool started = testing::PollUntil([&] { return std::filesystem::exists(journal); }, 30s);
    if (started) std::this_thread::sleep_for(4s);
    kill(program, SIGTERM);  // the close writes what waits
    int status = 0;
    waitpid(program, &status, 0);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Answered probes; those answered in under a millisecond; round trips finer than 0.01 ms.
    EXPECT_EQ(testing::Capture("sqlite3 -batch '" + journal +
                               "' 'SELECT count(*) >= 3, sum(rtt_ms > 0 AND rtt_ms < 1) >= 1, "
                               "sum(abs(rtt_ms * 100 - round(rtt_ms * 100)) > 1e-6) "
                               "FROM outcomes WHERE answered'"),
              "1|1|0\n");
    std::error_code error;
    std::filesystem::remove_all(dir, error);
}

}  // namespace
}  // namespace nodrel
