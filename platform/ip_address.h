#pragma once

// A probe destination or reply source: an IPv4 or an IPv6 address, both in network byte order.

#include <array>
#include <cstdint>
#include <string>

namespace nodrel::platform {

using Ipv6Address = std::array<uint8_t, 16>;

struct IpAddress {
    bool isIpv6 = false;
    uint32_t ipv4 = 0;
    Ipv6Address ipv6{};

    static IpAddress FromIpv4(uint32_t address) { return {false, address, {}}; }
    static IpAddress FromIpv6(const Ipv6Address& address) { return {true, 0, address}; }

    bool operator==(const IpAddress&) const = default;
};

// The usual text of the address: dotted for IPv4, the shortest RFC 5952 form for IPv6.
std::string AddressText(const IpAddress& address);

// An IPv4 literal as inet_addr reads it, else an IPv6 literal, bare or in brackets; false for
// anything else (a name).
bool ParseAddressLiteral(const std::string& text, IpAddress& address);

}  // namespace nodrel::platform
