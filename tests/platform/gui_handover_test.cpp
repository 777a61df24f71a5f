#include "gui_handover.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

namespace nodrel::platform {
namespace {

class GuiHandover : public ::testing::Test {
protected:
    // Runs `work` on a thread of its own while this thread serves its event loop.
    template <typename Work>
    void OnOtherThread(Work work) {
        std::atomic<bool> done = false;
        std::thread other([&] {
            work();
            done = true;
        });
        while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        other.join();
    }

    int argc = 1;
    char name[16] = "gui_handover";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    QObject receiver;
};

TEST_F(GuiHandover, RunsOnTheReceiversThreadAndWaits) {
    QThread* ranOn = nullptr;
    int value = 0;
    HandoverResult result = HandoverResult::Refused;
    OnOtherThread([&] {
        value = 1;
        result = RunInGuiThreadAndWait(&receiver, [&] {
            ranOn = QThread::currentThread();
            value *= 42;  // sees the caller's write
        });
        value += 1;  // sees the task's write
    });
    EXPECT_EQ(result, HandoverResult::Ran);
    EXPECT_EQ(ranOn, receiver.thread());
    EXPECT_EQ(value, 43);
}

TEST_F(GuiHandover, CarriesTheTasksExceptionBack) {
    std::string caught;
    OnOtherThread([&] {
        try {
            RunInGuiThreadAndWait(&receiver, [] { throw std::runtime_error("no picture"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
    });
    EXPECT_EQ(caught, "no picture");
}

TEST_F(GuiHandover, RefusesWhatWouldDeadlock) {
    bool ran = false;
    EXPECT_EQ(RunInGuiThreadAndWait(&receiver, [&] { ran = true; }), HandoverResult::Refused);
    EXPECT_EQ(RunInGuiThreadAndWait(nullptr, [&] { ran = true; }), HandoverResult::Refused);
    EXPECT_FALSE(ran);
}

// Swallows every queued call, as the event queue does for a receiver that is destroyed.
class CallDropper : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::MetaCall; }
};

TEST_F(GuiHandover, ReportsATaskThatNeverRan) {
    CallDropper dropper;
    receiver.installEventFilter(&dropper);
    bool ran = false;
    HandoverResult result = HandoverResult::Ran;
    OnOtherThread([&] { result = RunInGuiThreadAndWait(&receiver, [&] { ran = true; }); });
    EXPECT_EQ(result, HandoverResult::NotRun);
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace nodrel::platform
