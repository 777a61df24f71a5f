#pragma once

// A probe destination or reply source: an IPv4 or an IPv6 address, both in network byte order. A
// link-local IPv6 address is meaningful only on one link, so it carries its zone: the index of
// the interface it is reached through.

#include <netinet/in.h>

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
    uint32_t zone = 0;  // the interface index of a link-local IPv6 address; 0 for none

    static IpAddress FromIpv4(uint32_t address) { return {false, address, {}, 0}; }
    static IpAddress FromIpv6(const Ipv6Address& address, uint32_t zone = 0) {
        return {true, 0, address, zone};
    }

    // 0.0.0.0 or ::, which Linux would take for this host.
    bool IsUnspecified() const { return isIpv6 ? SameIpv6(ipv6, Ipv6Address{}) : ipv4 == 0; }

    // fe80::/10, which names a host only together with a zone.
    bool IsLinkLocal() const { return isIpv6 && ipv6[0] == 0xfe && (ipv6[1] & 0xc0) == 0x80; }

    // Only the family's own fields count.
    bool operator==(const IpAddress& other) const {
        return isIpv6 == other.isIpv6 &&
               (isIpv6 ? SameIpv6(ipv6, other.ipv6) && zone == other.zone : ipv4 == other.ipv4);
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

// The usual text of the address: dotted for IPv4, the shortest RFC 5952 form for IPv6, with
// "%interface" after a zoned one (its number once the interface is gone).
std::string AddressText(const IpAddress& address);

// The address of an IPv6 socket address, with its zone when it is link-local.
inline IpAddress FromSocketAddress(const sockaddr_in6& address) {
    IpAddress found = IpAddress::FromIpv6(std::to_array(address.sin6_addr.s6_addr));
    // A zone means something to a link-local address alone.
    if (found.IsLinkLocal()) found.zone = address.sin6_scope_id;
    return found;
}

// An IPv4 literal as inet_addr reads it, else an IPv6 literal, bare or in brackets, with or
// without "%zone" (an interface name or number); false for anything else (a name, or a zone
// that names no interface).
bool ParseAddressLiteral(const std::string& text, IpAddress& address);

// Gives a link-local address without a zone the one interface of this machine that has a
// link-local address, when there is exactly one; otherwise, and for any other address, leaves it
// as it is.
void TakeOnlyLinkLocalZone(IpAddress& address);

}  // namespace nodrel::platform
