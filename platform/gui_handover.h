#pragma once

#include <QSocketNotifier>
#include <QThread>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace nodrel::platform {

enum class HandoverResult {
    Ran,      // the task ran to its end, or threw (the exception is rethrown instead)
    NotRun,   // the hand-over was closed before the GUI thread got to the task
    Refused,  // called on the GUI thread itself: waiting there would deadlock
};

// Runs tasks of other threads on the GUI thread while they wait, one at a time. Any event loop of
// the GUI thread serves it, modal dialogs included.
//
// Everything crossing threads goes through a std::mutex, and the GUI thread is woken through an
// eventfd: unlike a blocking queued call, whose event is allocated on one thread and freed on the
// other inside uninstrumented Qt code, ThreadSanitizer sees every step of it.
class GuiHandover {
public:
    // On the GUI thread. Throws std::system_error when no eventfd can be had.
    GuiHandover();
    // On the GUI thread, once no other thread can call RunAndWait any more.
    ~GuiHandover();
    GuiHandover(const GuiHandover&) = delete;
    GuiHandover& operator=(const GuiHandover&) = delete;

    // Runs `task` on the GUI thread and blocks until it has run. An exception thrown by `task` is
    // caught there and rethrown here. What `task` writes is visible here afterwards, and what the
    // caller wrote before is visible to `task`.
    HandoverResult RunAndWait(const std::function<void()>& task);

    // On the GUI thread: releases a caller still waiting, and makes later calls return NotRun.
    void Close();

private:
    struct Request;

    void Serve();  // GUI thread: runs the pending task, if any

    QThread* const FGuiThread;
    const int FWakeFd;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::mutex FCallerLock;  // one hand-over at a time, in the order the callers get it
    std::mutex FLock;        // guards the fields below
    std::condition_variable FDone;
    Request* FPending = nullptr;
    bool FRunning = false;  // FPending's task is running
    bool FClosed = false;
};

}  // namespace nodrel::platform
