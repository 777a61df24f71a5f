#include "ping_thread.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <vector>

#include "support/isolated_network.h"

namespace nodrel {
namespace {

constexpr int32_t kHour = 3600 * 1000;
constexpr int32_t kShortInterval = 10;

class PingThread : public ::testing::Test {
protected:
    void Start(const QString& host, int32_t interval) {
        worker = std::make_unique<TPingThread>(
            window.get(), [this](bool succeeded, const TOutcomeRecord& record) {
                outcomes.push_back(succeeded);
                records.push_back(record);
                cycles.push_back(worker->Cycle());
                if (onOutcome) onOutcome(succeeded);
            });
        worker->Ping().SetAddress(host);
        worker->Ping().SetTimeout(2000);
        worker->SetInterval(interval);
        worker->Resume();
    }

    // Runs the event loop until `done` holds; false when that takes unreasonably long.
    template <typename Condition>
    bool RunUntil(Condition done, int milliseconds = 20000) {
        const QDeadlineTimer deadline(milliseconds);
        QTimer tick;
        tick.start(5);
        while (!done()) {
            if (deadline.hasExpired()) return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    bool WaitForOutcomes(size_t count) {
        return RunUntil([&] { return outcomes.size() >= count; });
    }

    // Serves the event loop for a while, long enough for many short cycles.
    void Idle(int milliseconds) {
        RunUntil([] { return false; }, milliseconds);
    }

    void TearDown() override { worker.reset(); }

    int argc = 1;
    char name[16] = "ping_thread";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    std::unique_ptr<QObject> window = std::make_unique<QObject>();
    std::unique_ptr<TPingThread> worker;
    std::vector<bool> outcomes;
    std::vector<TOutcomeRecord> records;
    std::vector<int64_t> cycles;
    std::function<void(bool)> onOutcome;
};

TEST_F(PingThread, FirstProbeRunsAtOnceThenThePauseFollows) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    Start("127.0.0.1", kHour);
    ASSERT_TRUE(WaitForOutcomes(1));
    Idle(200);
    EXPECT_EQ(outcomes, std::vector<bool>{true});
    EXPECT_EQ(worker->Cycle(), 1);
}

TEST_F(PingThread, LoopbackAddsOneSuccessPerCycle) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    const int64_t before = QDateTime::currentMSecsSinceEpoch();
    Start("127.0.0.1", kShortInterval);
    ASSERT_TRUE(WaitForOutcomes(3));
    worker.reset();
    EXPECT_EQ(outcomes, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(cycles, (std::vector<int64_t>{1, 2, 3}));
    // Each record tells when its probe started and what it probed.
    EXPECT_TRUE(before <= records[0].StartTime && records[2].StartTime >= records[0].StartTime);
    EXPECT_EQ(records[2].Address, platform::IpAddress::FromIpv4(htonl(0x7F000001)));
}

TEST_F(PingThread, UnresolvableHostAddsExactlyOneFailurePerCycle) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    Start("nodrel-unresolvable.invalid", kShortInterval);
    ASSERT_TRUE(WaitForOutcomes(4));
    worker.reset();
    EXPECT_EQ(outcomes, std::vector<bool>(4, false));
    EXPECT_EQ(cycles, (std::vector<int64_t>{1, 2, 3, 4}));
    // Which lookup error depends on the system's resolver; that it is one is what counts.
    EXPECT_TRUE(records[3].NameNotFound);
    EXPECT_FALSE(records[3].Address);
}

TEST_F(PingThread, UnansweredProbeIsAFailure) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    Start("127.0.0.1", kShortInterval);
    worker->Ping().SetTimeout(50);
    ASSERT_TRUE(WaitForOutcomes(2));
    worker.reset();
    EXPECT_EQ(outcomes, (std::vector<bool>{false, false}));
    EXPECT_FALSE(records[1].NameNotFound);
    EXPECT_EQ(records[1].Status, 11010u);  // IP_REQ_TIMED_OUT
    EXPECT_EQ(records[1].Milliseconds, 50u);
}

TEST_F(PingThread, FailureWhileProcessingAnOutcomeDoesNotStopProbing) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    onOutcome = [](bool) { throw std::runtime_error("drawing failed"); };
    Start("127.0.0.1", kShortInterval);
    ASSERT_TRUE(WaitForOutcomes(3));
    worker.reset();
    EXPECT_EQ(cycles, (std::vector<int64_t>{1, 2, 3}));
}

// Suspended while a probe waits for its answer: that probe's outcome never arrives, nothing is
// probed until the worker resumes, and then a probe runs at once, not after the hour's pause.
TEST_F(PingThread, ASuspendedWorkerDropsTheProbeInFlightAndResumesAtOnce) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    Start("127.0.0.1", kHour);
    worker->Ping().SetTimeout(300);
    ASSERT_TRUE(RunUntil([&] { return worker->Cycle() == 1; }));
    worker->SuspendProbing();
    Idle(600);
    EXPECT_TRUE(outcomes.empty());
    EXPECT_EQ(worker->Cycle(), 1);
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0"));
    worker->ResumeProbing();
    ASSERT_TRUE(WaitForOutcomes(1));
    EXPECT_EQ(outcomes, std::vector<bool>{true});
    EXPECT_EQ(worker->Cycle(), 2);
}

TEST_F(PingThread, NewIntervalAppliesFromTheNextPause) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    // Set while the first outcome is processed, before the pause that follows it.
    onOutcome = [this](bool) {
        if (outcomes.size() == 1) worker->SetInterval(kShortInterval);
        if (outcomes.size() == 3) worker->SetInterval(kHour);
    };
    Start("127.0.0.1", kHour);
    ASSERT_TRUE(WaitForOutcomes(3));
    Idle(300);
    EXPECT_EQ(outcomes.size(), 3u);
}

TEST_F(PingThread, NoOutcomeReachesAWindowThatIsGone) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    Start("127.0.0.1", kShortInterval);
    ASSERT_TRUE(WaitForOutcomes(2));
    window.reset();
    const int64_t cycle = worker->Cycle();
    ASSERT_TRUE(RunUntil([&] { return worker->Cycle() >= cycle + 3; }));
    EXPECT_EQ(outcomes.size(), 2u);
}

TEST_F(PingThread, GuiThreadChangesSettingsWhileTheWorkerProbes) {
    NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP();
    Start("127.0.0.1", 1);
    int changes = 0;
    QTimer changer;
    QObject::connect(&changer, &QTimer::timeout, [&] {
        ++changes;
        worker->Ping().SetAddress(changes % 2 == 0 ? "127.0.0.1" : "localhost");
        worker->Ping().SetTimeout(changes % 2 == 0 ? 1000 : 2000);
        worker->SetInterval(changes % 3);
        EXPECT_FALSE(worker->Ping().Address().isEmpty());
    });
    changer.start(1);
    ASSERT_TRUE(WaitForOutcomes(40));
    changer.stop();
    worker.reset();
    EXPECT_GT(changes, 0);
    EXPECT_EQ(outcomes, std::vector<bool>(outcomes.size(), true));
}

}  // namespace
}  // namespace nodrel
