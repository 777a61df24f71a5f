#pragma once

#include <QSocketNotifier>
#include <QThread>
#include <condition_variable>
#include <deque>
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

// Carries tasks of other threads to the GUI thread (the thread that makes it), either while they
// wait for the task to run or queued without waiting. Any event loop of the GUI thread serves it,
// modal dialogs included; a thread without an event loop has nobody to run them, so there every
// task goes unrun.
//
// Everything crossing threads goes through a std::mutex, and the GUI thread is woken through an
// eventfd: unlike a queued call, whose event is allocated on one thread and freed on the other
// inside uninstrumented Qt code, ThreadSanitizer sees every step of it.
class GuiHandover {
public:
    // On the GUI thread. Throws std::system_error when no eventfd can be had.
    GuiHandover();
    // On the GUI thread, once no other thread can hand anything over any more. Queued tasks that
    // have not run are dropped.
    ~GuiHandover();
    GuiHandover(const GuiHandover&) = delete;
    GuiHandover& operator=(const GuiHandover&) = delete;

    // Runs `task` on the GUI thread and blocks until it has run. An exception thrown by `task` is
    // caught there and rethrown here. What `task` writes is visible here afterwards, and what the
    // caller wrote before is visible to `task`.
    HandoverResult RunAndWait(const std::function<void()>& task);

    // From any thread, the GUI thread included: runs `task` there later, after the tasks queued
    // before it, and returns at once. An exception thrown by `task` leaves through the event loop,
    // as one thrown by any event handler does.
    void Post(std::function<void()> task);

    // On the GUI thread: releases a caller still waiting, drops the queued tasks, and makes later
    // hand-overs go unrun.
    void Close();

private:
    struct Request;

    void Wake();
    void Serve();  // GUI thread: runs the waiting caller's task and the first queued one

    QThread* const FGuiThread;
    const int FWakeFd;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::mutex FCallerLock;  // one waiting hand-over at a time, in the order the callers get it
    std::mutex FLock;        // guards the fields below
    std::condition_variable FDone;
    Request* FPending = nullptr;
    bool FRunning = false;  // FPending's task is running
    std::deque<std::function<void()>> FQueued;
    bool FClosed = false;
};

}  // namespace nodrel::platform
