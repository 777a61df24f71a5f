#include "signal_listener.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>

namespace nodrel::platform {

namespace {

// Per signal number, the write end of its listener's pipe plus one (0: none). The handler may only
// write to a pipe; the read end wakes the event loop.
std::array<std::atomic<int>, NSIG> writeEndsPlusOne{};

void OnSignal(int signalNumber) {
    const int savedErrno = errno;
    const int writeEnd = writeEndsPlusOne[signalNumber] - 1;
    const auto byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        [[maybe_unused]] const ssize_t written = write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalListener::SignalListener(std::initializer_list<int> signalNumbers)
    : signalNumbers_(signalNumbers) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalListener::Drain);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers_) {
        writeEndsPlusOne[signalNumber] = pipe_[1] + 1;
        sigaction(signalNumber, &action, nullptr);
    }
}

SignalListener::~SignalListener() {
    if (!notifier_) return;
    for (const int signalNumber : signalNumbers_) {
        std::signal(signalNumber, SIG_DFL);
        writeEndsPlusOne[signalNumber] = 0;
    }
    notifier_.reset();
    close(pipe_[0]);
    close(pipe_[1]);
}

void SignalListener::Drain() {
    unsigned char byte = 0;
    while (read(pipe_[0], &byte, 1) == 1) emit Received(byte);
}

}  // namespace nodrel::platform
