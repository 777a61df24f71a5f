#pragma once

// Asks the kernel, through rtnetlink, how a packet to one address would leave this machine, as
// `ip route get` asks it: the route the kernel would take (policy rules, a VPN's own table and
// several default routes included) and the state of the interface it goes out by.

#include <cstdint>
#include <optional>
#include <string>

#include "ip_address.h"

namespace nodrel::platform {

// One interface as the kernel reports it.
struct LinkFacts {
    bool found = false;    // an interface of that index exists
    std::string name;      // e.g. "wlan0"
    bool up = false;       // switched on (IFF_UP)
    bool carrier = false;  // a cable or radio link is there (IFF_LOWER_UP)

    bool operator==(const LinkFacts&) const = default;
};

// The way to one address.
struct RouteFacts {
    bool answered = false;  // the kernel could be asked; nothing below is known otherwise
    bool noRoute = false;   // no route reaches the address
    bool local = false;     // the address is this machine's own
    uint32_t interfaceIndex = 0;
    LinkFacts link;  // the interface the route leaves by
    // The router the packet is handed to; none when the address is on the link. A link-local
    // IPv6 router carries the interface as its zone.
    std::optional<IpAddress> nextHop;
    // The address this machine would send from; none when the interface has no usable one.
    std::optional<IpAddress> source;

    bool operator==(const RouteFacts&) const = default;
};

// The route to `destination`; a link-local one is asked for on the interface of its zone.
RouteFacts AskRoute(const IpAddress& destination);

// The interface of `index`.
LinkFacts AskLink(uint32_t index);

}  // namespace nodrel::platform
