#pragma once

// Where a failed probe's fault lies: the cause, in the order it is looked for, and the words the
// window, the notices and the journal say it in.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "ip_address.h"

namespace nodrel {

enum class TFailureCause : uint8_t {
    // Not looked for: the probe could not be sent as asked (its size, its address), or it went
    // to this machine itself.
    None,
    Link,     // the interface the route leaves by is off or has no carrier
    Route,    // no route reaches the address
    Name,     // the name could not be looked up
    Router,   // the router does not answer either
    Beyond,   // the router answers, the host does not
    Host,     // the host is on the link and does not answer
    Unknown,  // the router never answers echo requests, or the route could not be asked for
};

// Fixed-size, as the outcome records that carry it.
struct TFailurePlace {
    TFailureCause Cause = TFailureCause::None;
    std::optional<platform::IpAddress> Gateway;  // the next hop; none on the link
    std::array<char, 16> Interface{};            // the interface without link, for Link

    bool operator==(const TFailurePlace&) const = default;
};

// The cause's word in the journal: "link", "route", "name", "router", "beyond", "host",
// "unknown"; empty for None.
QString CauseWord(TFailureCause cause);

// The place in a sentence, naming `destination` (the address probed, or the host) where it needs
// to; empty for None.
QString PlaceSentence(const TFailurePlace& place, const QString& destination);

}  // namespace nodrel
