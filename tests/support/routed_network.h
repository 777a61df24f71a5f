#pragma once

// A small internet of the test's own: this process becomes a computer in a network namespace of
// its own, linked to a router's namespace, linked to a provider's namespace that holds the host.
//
//   computer  c0 ------- r0  router  r1 ------- p0  provider (the host)
//   192.168.1.2/24       192.168.1.1/24         198.51.100.1/24       198.51.100.2/24
//   2001:db8:1::2/64     2001:db8:1::1/64       2001:db8:2::1/64      2001:db8:2::2/64
//   fe80::2              fe80::1                fe80::1               fe80::2
//
// The computer's default routes lead to the router (fe80::1 for IPv6), which forwards both
// families; the provider's lead back. Every end has a link-local address: a router asks for the
// next hop of a packet it forwards from its own. The other two namespaces end with this process.

#include <sys/types.h>

#include <string>

namespace nodrel::testing {

class RoutedNetwork {
public:
    RoutedNetwork() = default;
    ~RoutedNetwork();
    RoutedNetwork(const RoutedNetwork&) = delete;
    RoutedNetwork& operator=(const RoutedNetwork&) = delete;

    // Builds it; empty on success, else why it could not be (no root, no `ip`).
    std::string Build();

    // Runs a shell command line in the computer's, the router's or the provider's namespace;
    // false when it fails.
    static bool OnComputer(const std::string& command);
    bool OnRouter(const std::string& command) const;
    bool OnProvider(const std::string& command) const;

private:
    pid_t FRouter = -1;
    pid_t FProvider = -1;
};

}  // namespace nodrel::testing
