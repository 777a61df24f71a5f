#pragma once

// A probe destination or reply source: an IPv4 or an IPv6 address, both in network byte order.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace nodrel::platform {

using Ipv6Address = std::array<uint8_t, 16>;

struct IpAddress {
    bool isIpv6 = false;
    uint32_t ipv4 = 0;
    Ipv6Address ipv6{};

    static IpAddress FromIpv4(uint32_t address) { return {false, address, {}}; }
    static IpAddress FromIpv6(const Ipv6Address& address) { return {true, 0, address}; }

    // 0.0.0.0 or ::, which Linux would take for this host.
    bool IsUnspecified() const { return isIpv6 ? SameIpv6(ipv6, Ipv6Address{}) : ipv4 == 0; }

    // Only the family's own field counts.
    bool operator==(const IpAddress& other) const {
        return isIpv6 == other.isIpv6 && (isIpv6 ? SameIpv6(ipv6, other.ipv6) : ipv4 == other.ipv4);
    }

private:
    // As two words: every probe compares addresses, and a call to memcmp costs more than that.
    static bool SameIpv6(const Ipv6Address& a, const Ipv6Address& b) {
        uint64_t first[2];
        uint64_t second[2];
        std::memcpy(first, a.data(), sizeof first);
        std::memcpy(second, b.data(), sizeof second);
        return first[0] == second[0] && first[1] == second[1];
    }
};

// The usual text of the address: dotted for IPv4, the shortest RFC 5952 form for IPv6.
std::string AddressText(const IpAddress& address);

// An IPv4 literal as inet_addr reads it, else an IPv6 literal, bare or in brackets; false for
// anything else (a name).
bool ParseAddressLiteral(const std::string& text, IpAddress& address);

}  // namespace nodrel::platform
