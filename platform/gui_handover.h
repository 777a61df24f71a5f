#pragma once

#include <QObject>
#include <functional>

namespace nodrel::platform {

enum class HandoverResult {
    Ran,      // the task ran to its end, or threw (the exception is rethrown instead)
    NotRun,   // the receiver was destroyed before its thread got to the task
    Refused,  // called on the receiver's own thread, or without a receiver: waiting would deadlock
};

// Runs `task` on the thread `receiver` lives on (the GUI thread) and blocks the calling thread
// until it has run. An exception thrown by `task` is caught there and rethrown here. Everything
// `task` writes is visible to the caller afterwards, and everything the caller wrote before is
// visible to `task`.
HandoverResult RunInGuiThreadAndWait(QObject* receiver, const std::function<void()>& task);

}  // namespace nodrel::platform
