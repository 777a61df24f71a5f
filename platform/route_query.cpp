#include "route_query.h"

#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>

namespace nodrel::platform {

namespace {

// The kernel answers at once; the bound only keeps a wedged kernel from holding the caller.
constexpr timeval kAnswerWait{1, 0};
// Room for an interface's whole description without its counters.
constexpr size_t kAnswerSize = 16384;

// A request: the netlink header, the message's fixed part and its attributes, one after another.
class Request {
public:
    template <typename Body>
    Request(uint16_t type, const Body& body) {
        Header()->nlmsg_type = type;
        Header()->nlmsg_flags = NLM_F_REQUEST;
        Header()->nlmsg_seq = 1;
        Header()->nlmsg_len = NLMSG_LENGTH(sizeof(Body));
        std::memcpy(NLMSG_DATA(Header()), &body, sizeof(Body));
    }

    void Add(uint16_t type, const void* data, size_t size) {
        const uint32_t at = NLMSG_ALIGN(Header()->nlmsg_len);
        auto* attribute = reinterpret_cast<rtattr*>(FBytes + at);
        attribute->rta_type = type;
        attribute->rta_len = static_cast<uint16_t>(RTA_LENGTH(size));
        std::memcpy(RTA_DATA(attribute), data, size);
        Header()->nlmsg_len = at + RTA_ALIGN(attribute->rta_len);
    }

    nlmsghdr* Header() { return reinterpret_cast<nlmsghdr*>(FBytes); }

private:
    alignas(nlmsghdr) uint8_t FBytes[128]{};  // the largest request: a route's and two addresses
};

// The kernel's answer to one request: its message, or the error it gave instead.
struct Answer {
    int error = 0;  // an errno value; EIO when no answer came
    const nlmsghdr* message = nullptr;
};

// Sends `request` on a socket of its own and reads the answer into `buffer`.
Answer Exchange(Request& request, std::span<uint8_t> buffer) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return {EIO};
    Answer answer{EIO};
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const nlmsghdr* header = request.Header();
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kAnswerWait, sizeof kAnswerWait) == 0 &&
        sendto(fd, header, header->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) == static_cast<ssize_t>(header->nlmsg_len)) {
        // Only answers to this socket's requests arrive on it: it belongs to no group.
        for (;;) {
            ssize_t received = recv(fd, buffer.data(), buffer.size(), 0);
            if (received < 0 && errno == EINTR) continue;
            if (received <= 0) break;
            auto* message = reinterpret_cast<nlmsghdr*>(buffer.data());
            auto length = static_cast<uint32_t>(received);
            for (; NLMSG_OK(message, length); message = NLMSG_NEXT(message, length)) {
                if (message->nlmsg_seq != header->nlmsg_seq) continue;
                if (message->nlmsg_type != NLMSG_ERROR) {
                    answer = {0, message};
                } else if (message->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
                    answer = {-error->error, nullptr};
                }
                break;
            }
            if (answer.error != EIO) break;
        }
    }
    close(fd);
    return answer;
}

// The attributes of a message whose fixed part is `Body`.
template <typename Body, typename Each>
void ForEachAttribute(const nlmsghdr* message, Each each) {
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(Body))) return;
    auto* attribute = reinterpret_cast<rtattr*>(static_cast<uint8_t*>(NLMSG_DATA(message)) +
                                                NLMSG_ALIGN(sizeof(Body)));
    auto length = static_cast<int>(message->nlmsg_len - NLMSG_LENGTH(NLMSG_ALIGN(sizeof(Body))));
    for (; RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
        each(attribute->rta_type,
             std::span<const uint8_t>(static_cast<const uint8_t*>(RTA_DATA(attribute)),
                                      RTA_PAYLOAD(attribute)));
    }
}

// An address of `family` in an attribute; a link-local IPv6 one takes `zone`.
std::optional<IpAddress> AddressIn(int family, std::span<const uint8_t> data, uint32_t zone) {
    if (family == AF_INET && data.size() == 4) {
        uint32_t ipv4;
        std::memcpy(&ipv4, data.data(), sizeof ipv4);
        return IpAddress::FromIpv4(ipv4);
    }
    if (family == AF_INET6 && data.size() == 16) {
        IpAddress address = IpAddress::FromIpv6({});
        std::memcpy(address.ipv6.data(), data.data(), data.size());
        if (address.IsLinkLocal()) address.zone = zone;
        return address;
    }
    return std::nullopt;
}

uint32_t U32In(std::span<const uint8_t> data) {
    uint32_t value = 0;
    if (data.size() == sizeof value) std::memcpy(&value, data.data(), sizeof value);
    return value;
}

RouteFacts RouteIn(const nlmsghdr* message) {
    RouteFacts facts;
    facts.answered = true;
    if (message->nlmsg_type != RTM_NEWROUTE || message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        facts.answered = false;
        return facts;
    }
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
    // Routes that exist only to refuse.
    if (route->rtm_type == RTN_UNREACHABLE || route->rtm_type == RTN_PROHIBIT ||
        route->rtm_type == RTN_BLACKHOLE || route->rtm_type == RTN_THROW) {
        facts.noRoute = true;
        return facts;
    }
    facts.local = route->rtm_type == RTN_LOCAL;
    std::span<const uint8_t> gateway;
    int gatewayFamily = route->rtm_family;
    ForEachAttribute<rtmsg>(message, [&](uint16_t type, std::span<const uint8_t> data) {
        if (type == RTA_OIF) {
            facts.interfaceIndex = U32In(data);
        } else if (type == RTA_GATEWAY) {
            gateway = data;
        } else if (type == RTA_VIA && data.size() > sizeof(uint16_t)) {
            // An IPv4 route through an IPv6 router: the family comes first.
            uint16_t family;
            std::memcpy(&family, data.data(), sizeof family);
            gatewayFamily = family;
            gateway = data.subspan(sizeof family);
        } else if (type == RTA_PREFSRC) {
            facts.source = AddressIn(route->rtm_family, data, 0);
        }
    });
    // Zones are known once the interface is.
    if (!gateway.empty()) facts.nextHop = AddressIn(gatewayFamily, gateway, facts.interfaceIndex);
    if (facts.source && facts.source->IsLinkLocal()) facts.source->zone = facts.interfaceIndex;
    return facts;
}

}  // namespace

RouteFacts AskRoute(const IpAddress& destination) {
    rtmsg route{};
    route.rtm_family = destination.isIpv6 ? AF_INET6 : AF_INET;
    route.rtm_dst_len = destination.isIpv6 ? 128 : 32;
    Request request(RTM_GETROUTE, route);
    if (destination.isIpv6) {
        request.Add(RTA_DST, destination.ipv6.data(), destination.ipv6.size());
        if (destination.zone != 0) request.Add(RTA_OIF, &destination.zone, sizeof destination.zone);
    } else {
        request.Add(RTA_DST, &destination.ipv4, sizeof destination.ipv4);
    }
    alignas(nlmsghdr) uint8_t buffer[kAnswerSize];
    const Answer answer = Exchange(request, buffer);
    RouteFacts facts;
    if (answer.message != nullptr) {
        facts = RouteIn(answer.message);
    } else {
        // Unreachable and prohibiting routes answer with an error, as does a table without any.
        facts.answered = answer.error == ENETUNREACH || answer.error == EHOSTUNREACH ||
                         answer.error == EACCES || answer.error == EINVAL;
        facts.noRoute = facts.answered;
    }
    if (facts.answered && !facts.noRoute) facts.link = AskLink(facts.interfaceIndex);
    return facts;
}

LinkFacts AskLink(uint32_t index) {
    LinkFacts link;
    if (index == 0) return link;
    ifinfomsg interface {};
    interface.ifi_family = AF_UNSPEC;
    interface.ifi_index = static_cast<int>(index);
    Request request(RTM_GETLINK, interface);
    const uint32_t skipCounters = RTEXT_FILTER_SKIP_STATS;
    request.Add(IFLA_EXT_MASK, &skipCounters, sizeof skipCounters);
    alignas(nlmsghdr) uint8_t buffer[kAnswerSize];
    const Answer answer = Exchange(request, buffer);
    const nlmsghdr* message = answer.message;
    if (message == nullptr || message->nlmsg_type != RTM_NEWLINK ||
        message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
        return link;
    }
    const auto* found = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    link.found = true;
    link.up = (found->ifi_flags & IFF_UP) != 0;
    link.carrier = (found->ifi_flags & IFF_LOWER_UP) != 0;
    ForEachAttribute<ifinfomsg>(message, [&](uint16_t type, std::span<const uint8_t> data) {
        if (type == IFLA_IFNAME) {
            link.name.assign(reinterpret_cast<const char*>(data.data()),
                             strnlen(reinterpret_cast<const char*>(data.data()), data.size()));
        }
    });
    return link;
}

}  // namespace nodrel::platform
