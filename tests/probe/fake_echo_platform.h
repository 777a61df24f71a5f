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
    // Through `resolver` when it is set, else through the system's name service.
    uint16_t ResolveHostIPv4(const char* name, uint32_t& address) override;

    // What happened, in order: "start", "stop", "load", "free", "create", "close".
    std::vector<std::string> log;

    struct Send {
        uint32_t destination = 0;
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
    std::function<uint16_t(const char* name, uint32_t& address)> resolver;

private:
    Failure FFailure;
    platform::EchoLibrary FLibrary;
};

}  // namespace nodrel::testing
