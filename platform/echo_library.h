#pragma once

// The services the echo requester acquires when it is built: the socket layer and the echo
// service's entry table. Both come with the program on Linux, so the system implementation always
// succeeds; they stay behind this interface so each acquisition step, and its failure, keeps its
// place in the requester's construction and can be exercised by tests. The name lookup and the
// last error code come through it too, so that both always belong to the services in use.

#include "echo_service.h"

namespace nodrel::platform {

struct EchoLibrary {
    EchoHandle (*IcmpCreateFile)();
    bool (*IcmpCloseHandle)(EchoHandle);
    uint32_t (*IcmpSendEcho)(EchoHandle, uint32_t, const void*, uint16_t,
                             const IP_OPTION_INFORMATION*, void*, uint32_t, uint32_t);
};

class EchoPlatform {
public:
    virtual ~EchoPlatform() = default;

    // 0 when the socket layer is ready.
    virtual int StartSocketLayer() = 0;
    virtual void StopSocketLayer() = 0;

    // The entry table of the echo service; null when the service cannot be loaded.
    virtual const EchoLibrary* LoadEchoLibrary() = 0;
    virtual void FreeEchoLibrary(const EchoLibrary* library) = 0;

    // The code the last echo call left on the calling thread.
    virtual uint32_t GetLastError() = 0;

    // Looks a host name up, blocking; 0 with the address (network byte order) stored, else the
    // socket layer's error number.
    virtual uint16_t ResolveHostIPv4(const char* name, uint32_t& address) = 0;
};

// The services of this machine: no socket layer to start, the built-in echo service, the
// system's name service.
EchoPlatform& SystemEchoPlatform();

}  // namespace nodrel::platform
