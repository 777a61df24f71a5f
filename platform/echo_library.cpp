#include "echo_library.h"

#include <chrono>

#include "name_service.h"

namespace nodrel::platform {

namespace {

class SystemPlatform final : public EchoPlatform {
public:
    int StartSocketLayer() override { return 0; }
    void StopSocketLayer() override {}
    const EchoLibrary* LoadEchoLibrary() override { return &kBuiltIn; }
    void FreeEchoLibrary(const EchoLibrary*) override {}
    uint32_t GetLastError() override { return platform::GetLastError(); }
    uint32_t LastRoundTripMicroseconds() override { return platform::LastRoundTripMicroseconds(); }
    uint16_t ResolveHost(const char* name, IpAddress& address) override {
        return platform::ResolveHost(name, address);
    }
    int64_t MonotonicMilliseconds() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

private:
    static constexpr EchoLibrary kBuiltIn{&platform::IcmpCreateFile, &platform::IcmpCloseHandle,
                                          &platform::IcmpSendEcho, &platform::Icmp6CreateFile,
                                          &platform::Icmp6SendEcho};
};

}  // namespace

EchoPlatform& SystemEchoPlatform() {
    static SystemPlatform platform;
    return platform;
}

}  // namespace nodrel::platform
