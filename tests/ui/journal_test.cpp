// The journal as users find it: the real program probing loopback in a private network namespace
// (the offscreen platform: no desktop needed), its database read with sqlite3 as a user would.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "support/isolated_network.h"
#include "support/shell_command.h"
#include "support/small_file_system.h"
#include "support/test_store.h"

namespace nodrel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using testing::Capture;
using testing::PollUntil;

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Capture("command -v sqlite3").empty()) GTEST_SKIP() << "not installed: sqlite3";
        NODREL_REQUIRE_ISOLATED_NETWORK();
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
        char pattern[] = "/tmp/nodrel-journal-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        state_ = dir_ + "/state/KAVREN";
        setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir_ + "/state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_ + "/no-bus").c_str(), 1);
        testing::StoreValues store = testing::CompleteStore();
        store["timeout"] = 1000u;  // a probe a second, failed or answered
        store["interval"] = 1000u;
        ASSERT_TRUE(testing::WriteStore(store));
    }

    void TearDown() override {
        if (program_ > 0) Stop(SIGKILL);
        testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0");
        if (dir_.empty()) return;
        testing::UnmountSmallFileSystem(state_);
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    void Start() {
        const std::string log = dir_ + "/stderr";
        program_ = fork();
        if (program_ == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(fd, STDERR_FILENO);
            execl(NODREL_PROGRAM, NODREL_PROGRAM, nullptr);
            _exit(127);
        }
        ASSERT_GT(program_, 0);
    }

    // Ends the program with `signal` and returns its exit status (or the signal, negated).
    int Stop(int signal) {
        kill(program_, signal);
        int status = 0;
        waitpid(program_, &status, 0);
        program_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }

    static void IgnoreEchoRequests(bool ignore) {
        ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", ignore ? "1" : "0"));
    }

    // The namespace's count of ICMP messages of one kind: "InType8" echo requests received,
    // ignored or not, "OutType0" echo replies sent.
    static long IcmpMessages(const std::string& kind) {
        // Two lines begin "IcmpMsg:", the kinds counted and then their counts.
        std::ifstream snmp("/proc/net/snmp");
        std::string kinds, counts;
        while (std::getline(snmp, kinds) && !kinds.starts_with("IcmpMsg:")) {
        }
        std::getline(snmp, counts);
        std::istringstream kindWords(kinds), countWords(counts);
        std::string word, count;
        while (kindWords >> word && countWords >> count) {
            if (word == kind) return std::stol(count);
        }
        return 0;
    }

    // Ignores echo requests until a third comes: the program probes one at a time, so by then
    // two have failed and their outage has started.
    static void FailTwoProbes() {
        IgnoreEchoRequests(true);
        const long before = IcmpMessages("InType8");
        ASSERT_TRUE(PollUntil([&] { return IcmpMessages("InType8") >= before + 3; }, 30s));
    }

    // Answers echo requests again until one is: the outage has ended.
    static void AnswerAProbe() {
        const long before = IcmpMessages("OutType0");
        IgnoreEchoRequests(false);
        ASSERT_TRUE(PollUntil([&] { return IcmpMessages("OutType0") > before; }, 30s));
    }

    std::string Database() const { return state_ + "/Nodrel.sqlite"; }
    std::string Sql(const std::string& query) const {
        return Capture("sqlite3 -batch '" + Database() + "' \"" + query + "\" 2>&1");
    }
    bool SqlSays(const std::string& query, const std::string& expected) const {
        return Sql(query) == expected;
    }
    std::string Errors() const { return Capture("cat " + dir_ + "/stderr"); }

    std::string dir_;
    std::string state_;
    pid_t program_ = -1;
};

// An outage shows in the file while it lasts (another process reads it meanwhile), ends at the
// first answer, and every probe of the run is counted in its minute after a normal close.
TEST_F(JournalTest, AnOutageAndTheMinutesOfARealRunAreInTheDatabase) {
    Start();
    ASSERT_TRUE(PollUntil([&] { return SqlSays("PRAGMA journal_mode", "wal\n"); }, 30s));
    std::this_thread::sleep_for(3s);
    IgnoreEchoRequests(true);
    ASSERT_TRUE(PollUntil(
        [&] { return SqlSays("SELECT count(*) FROM outages WHERE ended_ms IS NULL", "1\n"); }, 30s))
        << Sql("SELECT * FROM outages");
    std::this_thread::sleep_for(2s);
    IgnoreEchoRequests(false);
    ASSERT_TRUE(PollUntil(
        [&] { return SqlSays("SELECT count(*) FROM outages WHERE ended_ms IS NOT NULL", "1\n"); },
        30s));
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(Stop(SIGTERM), 0);

    EXPECT_EQ(Sql("SELECT failures >= 3, ended_ms - started_ms >= 3000, reason, host, address "
                  "FROM outages"),
              "1|1|no reply within 1 s|127.0.0.1|127.0.0.1\n");
    // Every journaled probe counted once in its minute; the failed ones as unanswered.
    EXPECT_EQ(Sql("SELECT (SELECT sum(probes) FROM minutes) = (SELECT count(*) FROM outcomes), "
                  "(SELECT sum(probes - answered) FROM minutes) = "
                  "(SELECT count(*) FROM outcomes WHERE NOT answered), "
                  "(SELECT count(*) FROM outcomes WHERE status = 11010) >= 3, "
                  "(SELECT min(rtt_min_ms) >= 0 FROM minutes), "
                  "(SELECT count(*) FROM minutes WHERE minute_ms % 60000 != 0)"),
              "1|1|1|1|0\n");
    EXPECT_EQ(Errors().find("journal"), std::string::npos) << Errors();
}

// Killed while a batch is being written (its write-ahead log exists only then), the program
// leaves a database that passes the integrity check and keeps what was committed. Killed in an
// outage, it leaves the outage open; the next start ends it at its last journaled probe.
TEST_F(JournalTest, AKillDuringAWriteLeavesAnIntactDatabase) {
    int committed = 0;
    for (int run = 0; run < 3; ++run) {
        Start();
        ASSERT_TRUE(PollUntil(
            [&] {  // the start's own write is done
                return SqlSays("SELECT count(*) >= 0 FROM outages", "1\n") &&
                       !fs::exists(Database() + "-wal");
            },
            30s));
        IgnoreEchoRequests(true);  // the outage's start is written at once
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (!fs::exists(Database() + "-wal") && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(200us);
        }
        const bool writing = fs::exists(Database() + "-wal");
        Stop(SIGKILL);
        IgnoreEchoRequests(false);
        ASSERT_TRUE(writing) << "no write seen";
        EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok\n");
        const int outages = std::stoi(Sql("SELECT count(*) FROM outages"));
        EXPECT_GE(outages, committed);
        committed = outages;
    }

    Start();
    IgnoreEchoRequests(true);
    ASSERT_TRUE(PollUntil(
        [&] { return SqlSays("SELECT count(*) FROM outages WHERE ended_ms IS NULL", "1\n"); },
        30s));
    Stop(SIGKILL);
    IgnoreEchoRequests(false);
    // Its start was written with the probes before it: the second failure is the last one.
    const std::string lastProbe = Sql(
        "SELECT max(time_ms) FROM outcomes WHERE time_ms > (SELECT started_ms FROM outages WHERE "
        "ended_ms IS NULL)");
    Start();
    ASSERT_TRUE(PollUntil(
        [&] { return SqlSays("SELECT count(*) FROM outages WHERE ended_ms IS NULL", "0\n"); },
        30s));
    Stop(SIGTERM);
    EXPECT_EQ(Sql("SELECT ended_ms FROM outages ORDER BY started_ms DESC LIMIT 1"), lastProbe);
    EXPECT_NE(lastProbe, "\n");
    EXPECT_EQ(Capture("ls " + state_ + " | grep -c broken"), "0\n");
    EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok\n");
}

TEST_F(JournalTest, AFileOfGarbageIsKeptAsideAndANewJournalStarted) {
    fs::create_directories(state_);
    const std::string garbage = "this is no database, but it is someone's file\n";
    std::ofstream(Database()) << garbage;
    Start();
    ASSERT_TRUE(PollUntil([&] { return SqlSays("SELECT count(*) FROM outages", "0\n"); }, 30s))
        << Sql("SELECT count(*) FROM outages");
    Stop(SIGTERM);

    const std::string kept = Capture("cd " + state_ + " && ls Nodrel.sqlite.broken-*");
    ASSERT_EQ(Count(kept, "\n"), 1u) << kept;
    EXPECT_EQ(Capture("cat " + state_ + "/" + kept.substr(0, kept.size() - 1)), garbage);
    EXPECT_EQ(Count(Errors(), "kept as " + state_ + "/Nodrel.sqlite.broken-"), 1u) << Errors();
}

TEST_F(JournalTest, WithTheJournalSwitchedOffNoFileIsMade) {
    testing::StoreValues store = testing::CompleteStore();
    store["journal"] = 0u;
    ASSERT_TRUE(testing::WriteStore(store));
    Start();
    std::this_thread::sleep_for(4s);  // an outcome or three, and the first paint long past
    EXPECT_EQ(Stop(SIGTERM), 0);
    EXPECT_FALSE(fs::exists(dir_ + "/state"));
    EXPECT_NE(
        Capture("cat " + dir_ + "/config/KAVREN/Nodrel.reg").find("\"journal\"=dword:00000000"),
        std::string::npos);
}

// A full disk pauses the journal, told once however many writes it refuses; its records wait
// and reach the file once there is room again. A read-only folder pauses it the same way.
TEST_F(JournalTest, AFullOrReadOnlyDiskPausesTheJournalWhichResumesWithNothingLost) {
    NODREL_REQUIRE_SMALL_FILE_SYSTEM(state_);
    Start();
    ASSERT_TRUE(PollUntil(
        [&] {
            return SqlSays("SELECT count(*) FROM outages", "0\n") &&
                   !fs::exists(Database() + "-wal");
        },
        30s));
    ASSERT_TRUE(testing::FillFileSystem(state_));
    for (int outage = 0; outage < 2; ++outage) {
        FailTwoProbes();
        ASSERT_TRUE(PollUntil([&] { return Count(Errors(), "journal paused") == 1; }, 30s));
        AnswerAProbe();
    }
    EXPECT_EQ(Count(Errors(), "journal paused, " + Database() +
                                  " cannot be written: No space left on device"),
              1u)
        << Errors();

    fs::remove(state_ + "/filler");
    FailTwoProbes();  // a third outage, whose start is written at once
    ASSERT_TRUE(PollUntil([&] { return Count(Errors(), "journal resumed") == 1; }, 30s))
        << Errors();
    // The write that resumed may have been the minute's, just before the outage's start.
    EXPECT_TRUE(PollUntil(
        [&] { return SqlSays("SELECT count(*), count(ended_ms) FROM outages", "3|2\n"); }, 30s))
        << Sql("SELECT * FROM outages");
    AnswerAProbe();
    ASSERT_TRUE(PollUntil([&] { return SqlSays("SELECT count(ended_ms) FROM outages", "3\n"); }));

    ASSERT_TRUE(testing::RemountReadOnly(state_));
    FailTwoProbes();
    ASSERT_TRUE(PollUntil([&] { return Count(Errors(), "journal paused") == 2; }, 30s)) << Errors();
    EXPECT_EQ(Count(Errors(), "Read-only file system"), 1u) << Errors();
    EXPECT_EQ(kill(program_, 0), 0);  // the monitor runs on
}

}  // namespace
}  // namespace nodrel
