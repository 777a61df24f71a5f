#include "private_bus.h"

#include <signal.h>

#include <cstdio>

namespace nodrel::testing {

PrivateBus::PrivateBus() {
    // A socket in the file system, which a test in a network namespace of its own still reaches.
    // The daemon prints its address, then its pid.
    FILE* daemon = popen(
        "dbus-daemon --session --fork --address=unix:dir=/tmp --print-address=1 --print-pid=1 "
        "2>/dev/null",
        "r");
    if (daemon == nullptr) return;
    char address[512] = {};
    long pid = -1;
    if (std::fscanf(daemon, "%511s %ld", address, &pid) == 2) {
        address_ = address;
        pid_ = pid_t(pid);
    }
    pclose(daemon);
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
}

}  // namespace nodrel::testing
