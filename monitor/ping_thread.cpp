#include "ping_thread.h"

#include <malloc.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>

#include "gui_handover.h"

namespace nodrel {

namespace {

// How often a stopping owner looks again for a hand-over of the finishing worker.
constexpr std::chrono::milliseconds kStopPoll{5};

}  // namespace

TPingThread::TPingThread(QObject* window, TAddResult addResult)
    : FPing(std::make_unique<TPing>()), FAddResult(std::move(addResult)), FWindow(window) {
    FPing->SetOnDisplay(
        [this](TPing* sender, TICMP* icmp, const QString& msg) { PingDisplay(sender, icmp, msg); });
    FPing->SetOnEchoReply([this](TPing* sender, TICMP* icmp, int32_t status) {
        PingEchoReply(sender, icmp, status);
    });
}

TPingThread::~TPingThread() {
    {
        std::lock_guard lock(FStopLock);
        FTerminated = true;
    }
    FStopWake.notify_all();
    if (!FThread.joinable()) return;
    // The worker may be blocked in a hand-over to this very thread: serve it until the worker ends.
    std::unique_lock lock(FStopLock);
    while (!FStopWake.wait_for(lock, kStopPoll, [this] { return FFinished; })) {
        lock.unlock();
        QCoreApplication::sendPostedEvents(&FReceiver);
        lock.lock();
    }
    lock.unlock();
    FThread.join();
}

void TPingThread::Resume() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Execute(); });
}

void TPingThread::Execute() {
    do {
        FCycle.fetch_add(1, std::memory_order_relaxed);
        try {
            FPing->Ping();
        } catch (...) {
            // A failed probe, or a failure of the GUI thread's processing carried back by the
            // hand-over, ends only this cycle.
        }
    } while (Pause(Interval()));
    std::lock_guard lock(FStopLock);
    FFinished = true;
    FStopWake.notify_all();
}

bool TPingThread::Pause(int32_t milliseconds) {
    std::unique_lock lock(FStopLock);
    FStopWake.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                       [this] { return Terminated(); });
    return !Terminated();
}

void TPingThread::PingDisplay(TPing*, TICMP*, const QString&) {
    // A name that cannot be resolved is reported twice in a cycle; it is one failure.
    const int64_t cycle = Cycle();
    if (FReportedCycle == cycle) return;
    FReportedCycle = cycle;
    FSucceeded = false;
    HandOver();
}

void TPingThread::PingEchoReply(TPing* sender, TICMP*, int32_t) {
    FSucceeded = sender->LastReply().Status == platform::IP_SUCCESS;
    HandOver();
}

void TPingThread::HandOver() {
    if (Terminated()) return;
    platform::RunInGuiThreadAndWait(&FReceiver, [this] { DeliverResult(); });
}

void TPingThread::DeliverResult() {
    if (Terminated() || FWindow.isNull()) return;
    FAddResult(FSucceeded);
    TrimMemory();
}

void TrimMemory() {
    malloc_trim(0);
}

}  // namespace nodrel
