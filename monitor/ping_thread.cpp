#include "ping_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "memory_trim.h"

namespace nodrel {

namespace {

uint32_t TimeoutOf(const TPing& ping) {
    return static_cast<uint32_t>(std::max(ping.Timeout(), 0));
}

}  // namespace

TPingThread::TPingThread(QObject* window, TAddResult addResult,
                         platform::EchoPlatform& echoPlatform)
    : FPing(std::make_unique<TPing>(nullptr, echoPlatform)),
      FLocator(echoPlatform),
      FAddResult(std::move(addResult)),
      FWindow(window) {
    FPing->SetOnDisplay(
        [this](TPing* sender, TICMP* icmp, const QString& msg) { PingDisplay(sender, icmp, msg); });
    FPing->SetOnEchoReply([this](TPing* sender, TICMP* icmp, int32_t status) {
        PingEchoReply(sender, icmp, status);
    });
}

TPingThread::~TPingThread() {
    {
        const std::lock_guard lock(FStopLock);
        FTerminated = true;
    }
    FStopWake.notify_all();
    // Releases the worker if it waits for a hand-over to this very thread.
    FHandover.Close();
    if (FThread.joinable()) FThread.join();
}

void TPingThread::Resume() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Execute(); });
}

void TPingThread::SuspendProbing() {
    {
        const std::lock_guard lock(FStopLock);
        FSuspended = true;
        ++FSuspensions;
    }
    FStopWake.notify_all();
}

void TPingThread::ResumeProbing() {
    {
        const std::lock_guard lock(FStopLock);
        FSuspended = false;
    }
    FStopWake.notify_all();
}

bool TPingThread::WaitWhileSuspended() {
    std::unique_lock lock(FStopLock);
    FStopWake.wait(lock, [this] { return Terminated() || !FSuspended; });
    FCycleSuspensions = FSuspensions;
    return !Terminated();
}

void TPingThread::Execute() {
    while (WaitWhileSuspended()) {
        FCycle.fetch_add(1, std::memory_order_relaxed);
        FRecord = TOutcomeRecord{};
        FRecord.StartTime = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        try {
            FPing->Ping();
        } catch (...) {
            // A failed probe, or a failure of the GUI thread's processing carried back by the
            // hand-over, ends only this cycle.
        }
        if (!Pause(Interval())) return;
    }
}

bool TPingThread::Pause(int32_t milliseconds) {
    std::unique_lock lock(FStopLock);
    FStopWake.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)),
                       [this] { return Terminated() || FSuspensions != FCycleSuspensions; });
    return !Terminated();
}

void TPingThread::PingDisplay(TPing*, TICMP* icmp, const QString&) {
    // A name that cannot be resolved is reported twice in a cycle; it is one failure.
    const int64_t cycle = Cycle();
    if (FReportedCycle == cycle) return;
    FReportedCycle = cycle;
    FSucceeded = false;
    // The first report carries the lookup's error number; only an address that resolves to no
    // usable one comes without a lookup failure.
    FRecord.Status = icmp->LastErrorCode();
    FRecord.Host = static_cast<uint32_t>(icmp->ProbedGeneration());
    FRecord.NameNotFound = FRecord.Status != platform::IP_BAD_DESTINATION;
    LocateFailure({std::nullopt, FRecord.Status, {}, FRecord.NameNotFound});
    HandOver();
}

void TPingThread::PingEchoReply(TPing* sender, TICMP* icmp, int32_t) {
    const platform::ICMP_ECHO_REPLY reply = sender->LastReply();
    FSucceeded = reply.Status == platform::IP_SUCCESS;
    FRecord.Status = reply.Status;
    FRecord.Milliseconds =
        reply.Status == platform::IP_REQ_TIMED_OUT ? TimeoutOf(*sender) : reply.RoundTripTime;
    FRecord.RoundTripMicroseconds = icmp->LastRoundTripMicroseconds();
    FRecord.Address = icmp->ResolvedAddress();
    FRecord.AddressChanged = icmp->AddressChanged();
    FRecord.LookupAgainError = icmp->LookupAgainError();
    FRecord.Host = static_cast<uint32_t>(icmp->ProbedGeneration());
    if (!FSucceeded) {
        LocateFailure(
            {FRecord.Address, reply.Status, ReporterOf(reply), FRecord.LookupAgainError != 0});
    }
    HandOver();
    // After the hand-over, so the answer is shown without waiting for the router's.
    if (FSucceeded && FLocator.FollowDue(*FRecord.Address, FRecord.StartTime) && !Terminated()) {
        FLocator.Follow(*FRecord.Address, FRecord.StartTime, TimeoutOf(*sender));
    }
}

void TPingThread::LocateFailure(const TFailedProbe& probe) {
    if (Terminated()) return;  // nobody waits for it
    FRecord.Place = FLocator.Locate(probe, TimeoutOf(*FPing));
}

void TPingThread::HandOver() {
    if (Terminated()) return;
    FHandover.RunAndWait([this] { DeliverResult(); });
}

void TPingThread::DeliverResult() {
    // Suspended since the probe started: the outcome says nothing of the time it is shown at.
    if (Terminated() || FWindow.isNull() || FSuspensions != FCycleSuspensions) return;
    FAddResult(FSucceeded, FRecord);
    platform::TrimMemory();
}

}  // namespace nodrel
