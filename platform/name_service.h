#pragma once

// Host-name resolution, with failures reported in the socket layer's error numbers, which the
// probe components hand on unchanged.

#include <cstdint>

#include "ip_address.h"

namespace nodrel::platform {

inline constexpr uint16_t WSAEINTR = 10004;
inline constexpr uint16_t WSAHOST_NOT_FOUND = 11001;
inline constexpr uint16_t WSATRY_AGAIN = 11002;
inline constexpr uint16_t WSANO_RECOVERY = 11003;
inline constexpr uint16_t WSANO_DATA = 11004;

// Looks `name` (UTF-8) up in the system's name service, blocking. On success stores its first
// address in the resolver's order (which /etc/gai.conf sets), IPv4 or IPv6, in `address` and
// returns 0; otherwise returns the error number.
uint16_t ResolveHost(const char* name, IpAddress& address);

// The name service's own words for a lookup error number; null for a number that is not one.
const char* LookupErrorMessage(uint16_t error);

}  // namespace nodrel::platform
