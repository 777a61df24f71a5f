#include "gui_handover.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace nodrel::platform {
namespace {

class GuiHandoverTest : public ::testing::Test {
protected:
    // Runs `work` on a thread of its own while this thread serves its event loop.
    template <typename Work>
    void OnOtherThread(Work work) {
        std::atomic<bool> done = false;
        std::thread other([&] {
            work();
            done = true;
        });
        QTimer tick;
        tick.start(5);
        while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        other.join();
    }

    int argc = 1;
    char name[16] = "gui_handover";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    GuiHandover handover;
};

TEST_F(GuiHandoverTest, RunsTasksOnTheGuiThreadInOrderWhileTheCallerWaits) {
    std::vector<int> log;
    std::vector<QThread*> ranOn;
    int value = 0;
    OnOtherThread([&] {
        for (int n = 1; n <= 3; ++n) {
            value = n;
            const HandoverResult result = handover.RunAndWait([&] {
                ranOn.push_back(QThread::currentThread());
                log.push_back(value * 10);  // sees the caller's write
            });
            EXPECT_EQ(result, HandoverResult::Ran);
            log.push_back(static_cast<int>(log.size()));  // sees the task's write
        }
    });
    EXPECT_EQ(log, (std::vector<int>{10, 1, 20, 3, 30, 5}));
    EXPECT_EQ(ranOn, std::vector<QThread*>(3, QThread::currentThread()));
}

TEST_F(GuiHandoverTest, CarriesTheTasksExceptionBack) {
    std::string caught;
    OnOtherThread([&] {
        try {
            handover.RunAndWait([] { throw std::runtime_error("no picture"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
        // The hand-over goes on working.
        EXPECT_EQ(handover.RunAndWait([] {}), HandoverResult::Ran);
    });
    EXPECT_EQ(caught, "no picture");
}

TEST_F(GuiHandoverTest, RefusesTheGuiThreadItself) {
    bool ran = false;
    EXPECT_EQ(handover.RunAndWait([&] { ran = true; }), HandoverResult::Refused);
    EXPECT_FALSE(ran);
}

TEST_F(GuiHandoverTest, CloseReleasesCallersWithoutRunningTheirTasks) {
    std::atomic<bool> waiting = false;
    HandoverResult result = HandoverResult::Ran;
    bool ran = false;
    std::thread caller([&] {
        waiting = true;
        result = handover.RunAndWait([&] { ran = true; });
    });
    // Without serving the event loop, so the task cannot run before the close.
    while (!waiting) std::this_thread::yield();
    handover.Close();
    caller.join();
    EXPECT_EQ(result, HandoverResult::NotRun);
    EXPECT_FALSE(ran);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST_F(GuiHandoverTest, QueuedTasksRunOnTheGuiThreadInOrderAndNoneAfterClose) {
    std::vector<int> log;
    std::thread other([&] {
        for (int n = 1; n <= 3; ++n) handover.Post([&log, n] { log.push_back(n); });
    });
    other.join();
    handover.Post([&] { log.push_back(4); });  // the GUI thread may queue too
    EXPECT_TRUE(log.empty());
    while (log.size() < 4) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));

    handover.Post([&] { log.push_back(5); });
    handover.Close();
    handover.Post([&] { log.push_back(6); });
    QCoreApplication::processEvents();
    EXPECT_EQ(log.size(), 4u);
}

}  // namespace
}  // namespace nodrel::platform
