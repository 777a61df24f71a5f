#pragma once

// The services the echo requester acquires when it is built: the socket layer and the echo
// service's entry table. Both come with the program on Linux, so the system implementation always
// succeeds; they stay behind this interface so each acquisition step, and its failure, keeps its
// place in the requester's construction and can be exercised by tests. The name lookup, the last
// error code and the clock that paces repeated lookups come through it too, so that all of them
// always belong to the services in use.

#include <cstdint>

#include "echo_service.h"

namespace nodrel::platform {

struct EchoLibrary {
    EchoHandle (*IcmpCreateFile)();
    bool (*IcmpCloseHandle)(EchoHandle);
    uint32_t (*IcmpSendEcho)(EchoHandle, uint32_t, const void*, uint16_t,
                             const IP_OPTION_INFORMATION*, void*, uint32_t, uint32_t);
    EchoHandle (*Icmp6CreateFile)();
    uint32_t (*Icmp6SendEcho)(EchoHandle, const sockaddr_in6&, const void*, uint16_t,
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
    // The round trip of the calling thread's last echo call in microseconds; 0 when it has none
    // finer than the reply's whole milliseconds.
    virtual uint32_t LastRoundTripMicroseconds() = 0;

    // Looks a host name up, blocking: 0 with its first address in the resolver's order stored,
    // else the socket layer's error number.
    virtual uint16_t ResolveHost(const char* name, IpAddress& address) = 0;

    // Milliseconds on a clock that wall-clock steps never move.
    virtual int64_t MonotonicMilliseconds() = 0;
};

// The services of this machine: no socket layer to start, the built-in echo service, the
// system's name service.
EchoPlatform& SystemEchoPlatform();

}  // namespace nodrel::platform
