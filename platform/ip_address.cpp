#include "ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace nodrel::platform {

std::string AddressText(const IpAddress& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.isIpv6) {
        inet_ntop(AF_INET6, address.ipv6.data(), text, sizeof text);
    } else {
        inet_ntop(AF_INET, &address.ipv4, text, sizeof text);
    }
    return text;
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
    Ipv6Address ipv6;
    if (inet_pton(AF_INET6, bare.c_str(), ipv6.data()) != 1) return false;
    address = IpAddress::FromIpv6(ipv6);
    return true;
}

}  // namespace nodrel::platform
