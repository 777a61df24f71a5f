#include "route_changes.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace nodrel::platform {

namespace {

// Routes depend on the links, the addresses on them, the routes and, with policy routing (a
// VPN's own table), the rules.
constexpr unsigned kGroups[] = {RTNLGRP_LINK,       RTNLGRP_IPV4_IFADDR, RTNLGRP_IPV6_IFADDR,
                                RTNLGRP_IPV4_ROUTE, RTNLGRP_IPV6_ROUTE,  RTNLGRP_IPV4_RULE,
                                RTNLGRP_IPV6_RULE};

int OpenSubscribedSocket() {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) return -1;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    bool joined = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    for (const unsigned group : kGroups) {
        joined = joined &&
                 setsockopt(fd, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) == 0;
    }
    if (!joined) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

RouteChanges::RouteChanges() : FSocket(OpenSubscribedSocket()) {
    if (FSocket < 0) return;
    FNotifier = std::make_unique<QSocketNotifier>(FSocket, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { TakeNow(); });
}

RouteChanges::~RouteChanges() {
    FNotifier.reset();
    if (FSocket >= 0) close(FSocket);
}

void RouteChanges::TakeNow() {
    if (FSocket < 0) return;
    // What changed is not read: the route is asked for again whatever it was.
    alignas(nlmsghdr) uint8_t scratch[8192];
    for (;;) {
        const ssize_t received = recv(FSocket, scratch, sizeof scratch, 0);
        if (received > 0 || (received < 0 && errno == ENOBUFS)) {
            // Counted as soon as read: another thread that finds the socket empty now finds
            // the count moved.
            FCount.fetch_add(1, std::memory_order_release);
        } else if (received >= 0 || errno != EINTR) {
            break;
        }
    }
}

}  // namespace nodrel::platform
