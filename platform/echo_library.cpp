#include "echo_library.h"

namespace nodrel::platform {

namespace {

class SystemPlatform final : public EchoPlatform {
public:
    int StartSocketLayer() override { return 0; }
    void StopSocketLayer() override {}
    const EchoLibrary* LoadEchoLibrary() override { return &kBuiltIn; }
    void FreeEchoLibrary(const EchoLibrary*) override {}

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
