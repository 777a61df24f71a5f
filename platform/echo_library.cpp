#include "echo_library.h"

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
    uint16_t ResolveHostIPv4(const char* name, uint32_t& address) override {
        return platform::ResolveHostIPv4(name, address);
    }

private:
    static constexpr EchoLibrary kBuiltIn{&platform::IcmpCreateFile, &platform::IcmpCloseHandle,
                                          &platform::IcmpSendEcho};
};

}  // namespace

EchoPlatform& SystemEchoPlatform() {
    static SystemPlatform platform;
    return platform;
}

}  // namespace nodrel::platform
