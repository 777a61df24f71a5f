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

// What travels back from the receiver's thread.
struct Handover {
    const std::function<void()>* Task = nullptr;
    bool Ran = false;
    std::exception_ptr Error;
};

void Acquire([[maybe_unused]] Handover* handover) {
#ifdef NODREL_TSAN
    __tsan_acquire(handover);
#endif
}

void Release([[maybe_unused]] Handover* handover) {
#ifdef NODREL_TSAN
    __tsan_release(handover);
#endif
}

}  // namespace

HandoverResult RunInGuiThreadAndWait(QObject* receiver, const std::function<void()>& task) {
    if (receiver == nullptr || receiver->thread() == QThread::currentThread()) {
        return HandoverResult::Refused;
    }
    Handover handover;
    handover.Task = &task;
    Release(&handover);
    // The functor may be destroyed without having run, when the receiver goes first; the call
    // then returns all the same and Ran stays false.
    QMetaObject::invokeMethod(
        receiver,
        [state = &handover] {
            Acquire(state);
            state->Ran = true;
            try {
                (*state->Task)();
            } catch (...) {
                state->Error = std::current_exception();
            }
            Release(state);
        },
        Qt::BlockingQueuedConnection);
    Acquire(&handover);
    if (handover.Error) std::rethrow_exception(handover.Error);
    return handover.Ran ? HandoverResult::Ran : HandoverResult::NotRun;
}

}  // namespace nodrel::platform
