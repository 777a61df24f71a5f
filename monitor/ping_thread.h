#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "failure_locator.h"
#include "gui_handover.h"
#include "outcome_record.h"
#include "ping.h"

namespace nodrel {

// The worker that probes the host again and again: one echo exchange, then a pause of `Interval`
// milliseconds. Every outcome is handed to the GUI thread, which runs the window's AddResult while
// the worker waits; outcomes arrive there one at a time and in the order of the probes. A failed
// probe's record says where the fault lies, found before it is handed over.
//
// Lifetime: the program creates one with `new` and never deletes it; its thread runs until the
// process ends, so closing never waits for a probe or a pause in progress. Deleting it (tests do)
// stops the worker: it cuts a pause short, drops an outcome waiting to be delivered and waits for
// a probe in progress. Delete it only on the GUI thread, and not from inside the window's
// AddResult.
class TPingThread {
public:
    using TAddResult = std::function<void(bool succeeded, const TOutcomeRecord& record)>;

    // On the GUI thread: creates the probe component there; the worker stays suspended until
    // Resume. `addResult` is called for every outcome while `window` exists, never after.
    // Throws TICMPException when the probe component cannot be set up, std::system_error when
    // the hand-over to the GUI thread cannot. `echoPlatform` provides the probe's echo service.
    TPingThread(QObject* window, TAddResult addResult,
                platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform());
    ~TPingThread();
    TPingThread(const TPingThread&) = delete;
    TPingThread& operator=(const TPingThread&) = delete;

    // Starts the loop; the first probe runs at once. Only the first call has an effect.
    void Resume();

    // The probe component: host and timeout are set here, from any thread; a change applies
    // from the next probe.
    TPing& Ping() { return *FPing; }

    // The pause after each probe, in milliseconds; read afresh before every pause, so a change
    // applies from the next one. Negative values pause for no time.
    int32_t Interval() const { return FInterval.load(std::memory_order_relaxed); }
    void SetInterval(int32_t milliseconds) {
        FInterval.store(milliseconds, std::memory_order_relaxed);
    }

    // Probe cycles started so far.
    int64_t Cycle() const { return FCycle.load(std::memory_order_relaxed); }

    // On the GUI thread. Stops probing until ResumeProbing: a pause in progress ends, and the
    // outcome of a probe in progress is dropped, not delivered.
    void SuspendProbing();
    // Probes at once, then goes on as before.
    void ResumeProbing();

private:
    void Execute();
    // Returns false when the worker is to stop.
    bool Pause(int32_t milliseconds);
    bool WaitWhileSuspended();
    bool Terminated() const { return FTerminated.load(); }

    // Worker thread, inside Ping.
    void PingDisplay(TPing* sender, TICMP* icmp, const QString& msg);
    void PingEchoReply(TPing* sender, TICMP* icmp, int32_t status);
    void HandOver();
    // Where the fault of the failed probe in flight lies.
    void LocateFailure(const TFailedProbe& probe);

    // GUI thread.
    void DeliverResult();

    std::atomic<int64_t> FCycle = 0;
    int64_t FReportedCycle = 0;  // the cycle of the last failure reported by PingDisplay
    std::unique_ptr<TPing> FPing;
    TFailureLocator FLocator;  // made on the GUI thread, which follows the kernel's changes
    bool FSucceeded = false;   // the outcome in flight, written before each hand-over
    TOutcomeRecord FRecord;    // its probe's record: started with the cycle, completed with it

    TAddResult FAddResult;
    QPointer<QObject> FWindow;
    platform::GuiHandover FHandover;
    std::atomic<int32_t> FInterval = 5000;

    std::mutex FStopLock;
    std::condition_variable FStopWake;
    std::atomic<bool> FTerminated = false;
    // Counts the suspensions: a probe started before the latest one is not delivered.
    std::atomic<uint64_t> FSuspensions = 0;
    std::atomic<bool> FSuspended = false;
    uint64_t FCycleSuspensions = 0;  // FSuspensions when the probe in flight started
    std::thread FThread;
};

}  // namespace nodrel
