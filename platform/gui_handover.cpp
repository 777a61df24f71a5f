#include "gui_handover.h"

#include <QThread>
#include <exception>

// Qt's queued calls wake the waiting thread through futexes, which ThreadSanitizer does not see:
// without these annotations every write made on one side of the hand-over would look like a race
// with the reads on the other side.
#if defined(__SANITIZE_THREAD__)
#define NODREL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define NODREL_TSAN 1
#endif
#endif

#ifdef NODREL_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace nodrel::platform {

namespace {

// What travels between the two threads.
struct Handover {
    const std::function<void()>* Task = nullptr;
    bool Ran = false;
    std::exception_ptr Error;
};

void Acquire([[maybe_unused]] const void* address) {
#ifdef NODREL_TSAN
    __tsan_acquire(const_cast<void*>(address));
#endif
}

void Release([[maybe_unused]] const void* address) {
#ifdef NODREL_TSAN
    __tsan_release(const_cast<void*>(address));
#endif
}

// The queued call. Qt moves it into a call object it allocates on the calling thread, runs it on
// the receiver's thread, and frees it on either thread. Each move publishes what happened to the
// object so far, and each use or destruction picks that up first.
class QueuedTask {
public:
    explicit QueuedTask(Handover* handover) : FHandover(handover) {}
    QueuedTask(QueuedTask&& other) noexcept : FHandover(other.FHandover) { Release(this); }
    QueuedTask(const QueuedTask&) = delete;
    QueuedTask& operator=(const QueuedTask&) = delete;
    QueuedTask& operator=(QueuedTask&&) = delete;
    ~QueuedTask() { Acquire(this); }

    void operator()() {
        Acquire(this);
        Handover* const handover = FHandover;
        Acquire(handover);
        handover->Ran = true;
        try {
            (*handover->Task)();
        } catch (...) {
            handover->Error = std::current_exception();
        }
        Release(handover);
        Release(this);  // the calling thread may be the one that frees the call
    }

private:
    Handover* FHandover;
};

}  // namespace

HandoverResult RunInGuiThreadAndWait(QObject* receiver, const std::function<void()>& task) {
    if (receiver == nullptr || receiver->thread() == QThread::currentThread()) {
        return HandoverResult::Refused;
    }
    Handover handover;
    handover.Task = &task;
    Release(&handover);
    // When the receiver is destroyed first, Qt destroys the call without running it and returns
    // all the same: Ran stays false.
    QMetaObject::invokeMethod(receiver, QueuedTask(&handover), Qt::BlockingQueuedConnection);
    Acquire(&handover);
    if (handover.Error) std::rethrow_exception(handover.Error);
    return handover.Ran ? HandoverResult::Ran : HandoverResult::NotRun;
}

}  // namespace nodrel::platform
