#include "gui_handover.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace nodrel::platform {

namespace {

int OpenWakeFd() {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

}  // namespace

struct GuiHandover::Request {
    const std::function<void()>* Task = nullptr;
    bool Finished = false;
    bool Ran = false;
    std::exception_ptr Error;
};

GuiHandover::GuiHandover() : FGuiThread(QThread::currentThread()), FWakeFd(OpenWakeFd()) {
    if (QAbstractEventDispatcher::instance() == nullptr) {
        FClosed = true;
        return;
    }
    FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { Serve(); });
}

GuiHandover::~GuiHandover() {
    Close();
    FNotifier.reset();
    close(FWakeFd);
}

HandoverResult GuiHandover::RunAndWait(const std::function<void()>& task) {
    if (QThread::currentThread() == FGuiThread) return HandoverResult::Refused;
    const std::lock_guard oneAtATime(FCallerLock);
    Request request;
    request.Task = &task;
    std::unique_lock lock(FLock);
    if (FClosed) return HandoverResult::NotRun;
    FPending = &request;
    Wake();
    FDone.wait(lock, [&] { return request.Finished; });
    if (request.Error) std::rethrow_exception(request.Error);
    return request.Ran ? HandoverResult::Ran : HandoverResult::NotRun;
}

void GuiHandover::Post(std::function<void()> task) {
    const std::lock_guard lock(FLock);
    if (FClosed) return;
    FQueued.push_back(std::move(task));
    Wake();
}

void GuiHandover::Wake() {
    const uint64_t one = 1;
    // Cannot fail short of a counter overflow, which the reads of every wake-up prevent.
    [[maybe_unused]] const ssize_t written = write(FWakeFd, &one, sizeof one);
}

void GuiHandover::Close() {
    std::deque<std::function<void()>> dropped;
    const std::lock_guard lock(FLock);
    FClosed = true;
    dropped.swap(FQueued);
    // A running task finishes first: its caller's stack holds it.
    if (FPending != nullptr && !FRunning) {
        FPending->Finished = true;
        FPending = nullptr;
        FDone.notify_all();
    }
}

void GuiHandover::Serve() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(FWakeFd, &count, sizeof count);
    Request* request = nullptr;
    std::function<void()> queued;
    {
        const std::lock_guard lock(FLock);
        // An event loop inside the running task must not start it again.
        if (FPending != nullptr && !FRunning) {
            request = FPending;
            FRunning = true;
        }
        if (!FQueued.empty()) {
            queued = std::move(FQueued.front());
            FQueued.pop_front();
            // One at a time, each in a wake-up of its own: a task that throws or runs an event
            // loop of its own leaves the rest in order.
            if (!FQueued.empty()) Wake();
        }
    }
    if (request != nullptr) {
        try {
            (*request->Task)();
        } catch (...) {
            request->Error = std::current_exception();
        }
        const std::lock_guard lock(FLock);
        request->Ran = true;
        request->Finished = true;
        FPending = nullptr;
        FRunning = false;
        FDone.notify_all();
    }
    if (queued) queued();
}

}  // namespace nodrel::platform
