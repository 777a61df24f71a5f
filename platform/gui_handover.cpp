#include "gui_handover.h"

#include <sys/eventfd.h>
#include <unistd.h>

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

GuiHandover::GuiHandover()
    : FGuiThread(QThread::currentThread()),
      FWakeFd(OpenWakeFd()),
      FNotifier(std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read)) {
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
    const uint64_t one = 1;
    // Cannot fail short of a counter overflow, which a single pending request never reaches.
    [[maybe_unused]] const ssize_t written = write(FWakeFd, &one, sizeof one);
    FDone.wait(lock, [&] { return request.Finished; });
    if (request.Error) std::rethrow_exception(request.Error);
    return request.Ran ? HandoverResult::Ran : HandoverResult::NotRun;
}

void GuiHandover::Close() {
    const std::lock_guard lock(FLock);
    FClosed = true;
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
    {
        const std::lock_guard lock(FLock);
        // An event loop inside the running task must not start it again.
        if (FPending == nullptr || FRunning) return;
        request = FPending;
        FRunning = true;
    }
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

}  // namespace nodrel::platform
