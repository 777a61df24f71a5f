#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace nodrel::testing {

// A PulseAudio server of the caller's own in a private runtime folder: one null sink and the
// native protocol at folder()/pulse/native (where libpulse looks when XDG_RUNTIME_DIR is folder()),
// no other modules and no other clients. Works as root too. Stopped and removed with the object.
class PrivateSoundServer {
public:
    // Returns once the server accepts connections, or with failure() saying why it does not.
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    const std::string& failure() const { return failure_; }
    // For PULSE_SERVER or pa_simple_new.
    std::string address() const { return "unix:" + (folder_ / "pulse/native").string(); }
    // The source that hears everything played to the null sink.
    static constexpr const char* kMonitorSource = "nodrel_test.monitor";
    pid_t pid() const { return pid_; }
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::string failure_;
};

}  // namespace nodrel::testing
