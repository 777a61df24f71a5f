#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace nodrel::testing {

// A PulseAudio server of the caller's own, in a private runtime folder: one null sink and the
// native protocol on a socket of its own, no other modules and no other clients. It works as
// root too (PulseAudio then only warns). Stopped and removed with the object.
class PrivateSoundServer {
public:
    // Starts the server and waits until it accepts connections.
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Empty when the server runs, otherwise why it does not (not installed, did not start).
    const std::string& failure() const { return failure_; }
    // For PULSE_SERVER or pa_simple_new.
    std::string address() const;
    // The source that hears everything played to the null sink.
    static constexpr const char* kMonitorSource = "nodrel_test.monitor";
    pid_t pid() const { return pid_; }
    const std::filesystem::path& folder() const { return folder_; }

private:
    // Where libpulse looks for a per-user server when XDG_RUNTIME_DIR is folder().
    std::filesystem::path socketPath() const { return folder_ / "pulse/native"; }
    std::string LogTail() const;

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    std::string failure_;
};

}  // namespace nodrel::testing
