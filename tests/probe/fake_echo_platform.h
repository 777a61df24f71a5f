#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "echo_library.h"

namespace nodrel::testing {

// An echo platform whose steps can be made to fail and which records every acquisition and
// release, and the arguments of the last send.
class FakeEchoPlatform : public platform::EchoPlatform {
public:
    enum class Failure { None, SocketLayer, Library, Entry, Handle };

    explicit FakeEchoPlatform(Failure failure = Failure::None);
    ~FakeEchoPlatform() override;

    int StartSocketLayer() override;
    void StopSocketLayer() override;
    const platform::EchoLibrary* LoadEchoLibrary() override;
    void FreeEchoLibrary(const platform::EchoLibrary* library) override;
    // The status the calling thread's last send reported.
    uint32_t GetLastError() override;
    // None: the replies' whole milliseconds are all there is.
    uint32_t LastRoundTripMicroseconds() override { return 0; }
    // Through `resolver` when it is set, else through the system's name service.
    uint16_t ResolveHost(const char* name, platform::IpAddress& address) override;
    // `now`, which only the test moves.
    int64_t MonotonicMilliseconds() override;

    // What happened, in order: "start", "stop", "load", "free", "create", "create6", "close".
    std::vector<std::string> log;

    struct Send {
        std::string destination;  // as text
        std::string data;
        uint16_t requestSize = 0;
        platform::IP_OPTION_INFORMATION options{};
        uint32_t replySize = 0;
        uint32_t timeout = 0;
    };
    Send lastSend;
    int sends = 0;
    // The reply the next sends report: the number of records and the header's status. The
    // status may be changed while a worker probes.
    uint32_t replies = 1;
    std::atomic<uint32_t> status = platform::IP_SUCCESS;
    std::function<uint16_t(const char* name, platform::IpAddress& address)> resolver;
    int64_t now = 0;

private:
    Failure FFailure;
    platform::EchoLibrary FLibrary;
};

}  // namespace nodrel::testing
