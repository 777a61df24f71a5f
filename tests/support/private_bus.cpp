#include "private_bus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace nodrel::testing {

PrivateBus::PrivateBus() {
    char pattern[] = "/tmp/nodrel-bus-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        failure_ = "no folder for a bus";
        return;
    }
    folder_ = pattern;
    const std::string socket = folder_ + "/bus";
    address_ = "unix:path=" + socket;
    const std::string addressOption = "--address=" + address_;
    pid_ = fork();
    if (pid_ == 0) {
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               addressOption.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) {
        failure_ = "cannot start dbus-daemon";
        return;
    }
    for (int wait = 0; wait < 200 && !std::filesystem::exists(socket); ++wait) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "dbus-daemon did not start (is it installed?)";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!std::filesystem::exists(socket)) failure_ = "dbus-daemon did not listen";
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
}

}  // namespace nodrel::testing
