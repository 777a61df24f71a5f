#include "name_service.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace nodrel::platform {

namespace {

// The socket-layer error number for a getaddrinfo() result code (0 stays 0).
uint16_t LookupErrorFromGai(int gaiError) {
    switch (gaiError) {
        case 0:
            return 0;
        case EAI_NONAME:
        case EAI_SERVICE:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
        default:  // EAI_FAIL, EAI_MEMORY, EAI_SYSTEM and the like
            return WSANO_RECOVERY;
    }
}

}  // namespace

uint16_t ResolveHost(const char* name, IpAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address instead of one per socket type
    addrinfo* found = nullptr;
    const int result = getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) return LookupErrorFromGai(result);
    uint16_t error = WSANO_DATA;
    for (const addrinfo* entry = found; entry != nullptr && error != 0; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in ipv4;
            std::memcpy(&ipv4, entry->ai_addr, sizeof ipv4);
            address = IpAddress::FromIpv4(ipv4.sin_addr.s_addr);
            error = 0;
        } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 ipv6;
            std::memcpy(&ipv6, entry->ai_addr, sizeof ipv6);
            address = FromSocketAddress(ipv6);
            error = 0;
        }
    }
    freeaddrinfo(found);
    return error;
}

const char* LookupErrorMessage(uint16_t error) {
    // Each number stands for the first of the results that map to it above.
    switch (error) {
        case WSAHOST_NOT_FOUND:
            return gai_strerror(EAI_NONAME);
        case WSATRY_AGAIN:
            return gai_strerror(EAI_AGAIN);
        case WSANO_RECOVERY:
            return gai_strerror(EAI_FAIL);
        case WSANO_DATA:
            return gai_strerror(EAI_NODATA);
        default:
            return nullptr;
    }
}

}  // namespace nodrel::platform
