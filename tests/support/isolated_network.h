#pragma once

#include <gtest/gtest.h>

#include <string>

namespace nodrel::testing {

// Moves this process into a network namespace of its own in which only loopback is up, so that
// probes and name lookups made by the test can reach nothing but this machine. Needs root (or
// CAP_SYS_ADMIN); returns an empty text on success, otherwise why it could not be done.
std::string EnterIsolatedNetwork();

// Writes a sysctl of the current network namespace, e.g. "net/ipv4/ping_group_range".
bool WriteSysctl(const std::string& name, const std::string& value);

// Whether raw ICMP sockets can be opened by this process (root or CAP_NET_RAW).
bool CanOpenRawIcmpSocket();

// Moves this process into a mount namespace of its own in which /etc/hosts holds `lines`, so that
// names resolve as the test says without touching the machine's file. Needs root; returns an
// empty text on success, otherwise why it could not be done.
std::string UsePrivateHostsFile(const std::string& lines);

// The same for any existing file, e.g. "/etc/gai.conf", which orders the resolver's answers.
std::string UsePrivateFile(const std::string& path, const std::string& lines);

}  // namespace nodrel::testing

// Skips the calling test, with the reason, where no private network namespace can be made.
#define NODREL_REQUIRE_ISOLATED_NETWORK()                                     \
    do {                                                                      \
        const std::string whyNot = ::nodrel::testing::EnterIsolatedNetwork(); \
        if (!whyNot.empty()) GTEST_SKIP() << whyNot;                          \
    } while (false)

// The same, in a private network in which any process may send ICMP echo requests to loopback,
// and in which a name lookup cannot leave the machine.
#define NODREL_REQUIRE_PRIVATE_NETWORK_WITH_ICMP()                                          \
    do {                                                                                    \
        NODREL_REQUIRE_ISOLATED_NETWORK();                                                  \
        if (!::nodrel::testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647")) { \
            GTEST_SKIP() << "could not allow ICMP datagram sockets in the private network"; \
        }                                                                                   \
    } while (false)
