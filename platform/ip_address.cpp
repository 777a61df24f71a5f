#include "ip_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

namespace nodrel::platform {

std::string AddressText(const IpAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!address.isIpv6) {
        inet_ntop(AF_INET, &address.ipv4, text, sizeof text);
        return text;
    }
    inet_ntop(AF_INET6, address.ipv6.data(), text, sizeof text);
    if (address.zone == 0) return text;
    char interface[IF_NAMESIZE] = {};
    return std::string(text) + '%' +
           (if_indextoname(address.zone, interface) != nullptr ? std::string(interface)
                                                               : std::to_string(address.zone));
}

bool ParseAddressLiteral(const std::string& text, IpAddress& address) {
    // inet_addr keeps the classic forms ("10.1", "0x7f.1"). Its all-ones answer also means "no
    // address", so 255.255.255.255 goes on to the name service, as it always has.
    const in_addr_t ipv4 = inet_addr(text.c_str());
    if (ipv4 != INADDR_NONE) {
        address = IpAddress::FromIpv4(ipv4);
        return true;
    }
    const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
    const std::string bare = bracketed ? text.substr(1, text.size() - 2) : text;
    // The resolver's own reading of a numeric IPv6 address, which knows zones by name and number;
    // it asks no name service.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(bare.c_str(), nullptr, &hints, &found) != 0) return false;
    sockaddr_in6 ipv6;
    const bool parsed = found->ai_addrlen >= sizeof ipv6;
    if (parsed) {
        std::memcpy(&ipv6, found->ai_addr, sizeof ipv6);
        address = FromSocketAddress(ipv6);
    }
    freeaddrinfo(found);
    return parsed;
}

void TakeOnlyLinkLocalZone(IpAddress& address) {
    if (!address.IsLinkLocal() || address.zone != 0) return;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return;
    uint32_t only = 0;
    bool several = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6) continue;
        sockaddr_in6 local;
        std::memcpy(&local, entry->ifa_addr, sizeof local);
        if (!IN6_IS_ADDR_LINKLOCAL(&local.sin6_addr)) continue;
        several = several || (only != 0 && local.sin6_scope_id != only);
        only = local.sin6_scope_id;
    }
    freeifaddrs(interfaces);
    if (!several) address.zone = only;
}

}  // namespace nodrel::platform
