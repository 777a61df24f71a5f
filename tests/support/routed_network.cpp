#include "support/routed_network.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "support/isolated_network.h"

namespace nodrel::testing {

namespace {

// A child that holds a new network namespace until this process ends (or kills it).
pid_t HoldNamespace() {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char made = unshare(CLONE_NEWNET) == 0 ? 1 : 0;
        [[maybe_unused]] const ssize_t told = write(ready[1], &made, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char made = 0;
    const bool held = child > 0 && read(ready[0], &made, 1) == 1 && made == 1;
    close(ready[0]);
    if (!held && child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    return held ? child : -1;
}

void EndNamespace(pid_t holder) {
    if (holder <= 0) return;
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
}

bool RunIn(pid_t holder, const std::string& command) {
    const std::string line = "nsenter --net=/proc/" + std::to_string(holder) + "/ns/net sh -ec '" +
                             command + "' > /dev/null";
    return std::system(line.c_str()) == 0;
}

// No address of the kernel's own, and none waiting for duplicate detection.
constexpr char kQuietIpv6[] =
    "sysctl -qw net.ipv6.conf.default.addr_gen_mode=1 net.ipv6.conf.all.accept_dad=0 "
    "net.ipv6.conf.default.accept_dad=0; ip link set lo up";

}  // namespace

RoutedNetwork::~RoutedNetwork() {
    EndNamespace(FRouter);
    EndNamespace(FProvider);
}

bool RoutedNetwork::OnComputer(const std::string& command) {
    return std::system(("sh -ec '" + command + "' > /dev/null").c_str()) == 0;
}

bool RoutedNetwork::OnRouter(const std::string& command) const {
    return RunIn(FRouter, command);
}

bool RoutedNetwork::OnProvider(const std::string& command) const {
    return RunIn(FProvider, command);
}

std::string RoutedNetwork::Build() {
    if (const std::string whyNot = EnterIsolatedNetwork(); !whyNot.empty()) return whyNot;
    if (std::system("command -v ip nsenter > /dev/null") != 0) return "needs ip and nsenter";
    FRouter = HoldNamespace();
    FProvider = HoldNamespace();
    if (FRouter < 0 || FProvider < 0) return "could not make the router's and provider's networks";
    const std::string router = std::to_string(FRouter);
    const std::string provider = std::to_string(FProvider);
    const bool built =
        OnComputer(std::string(kQuietIpv6) +
                   "; sysctl -qw net.ipv4.ping_group_range=\"0 2147483647\"") &&
        OnRouter(std::string(kQuietIpv6) +
                 "; sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1") &&
        OnProvider(kQuietIpv6) &&
        OnComputer("ip link add c0 type veth peer name r0 netns " + router) &&
        OnRouter("ip link add r1 type veth peer name p0 netns " + provider) &&
        OnComputer(
            "ip address add 192.168.1.2/24 dev c0; ip address add 2001:db8:1::2/64 dev c0 nodad;"
            "ip address add fe80::2/64 dev c0 nodad; ip link set c0 up;"
            "ip route add default via 192.168.1.1; ip -6 route add default via fe80::1 dev c0") &&
        OnRouter(
            "ip address add 192.168.1.1/24 dev r0; ip address add 2001:db8:1::1/64 dev r0 nodad;"
            "ip address add fe80::1/64 dev r0 nodad; ip link set r0 up;"
            "ip address add 198.51.100.1/24 dev r1; ip address add 2001:db8:2::1/64 dev r1 nodad;"
            "ip address add fe80::1/64 dev r1 nodad; ip link set r1 up") &&
        OnProvider(
            "ip address add 198.51.100.2/24 dev p0; ip address add 2001:db8:2::2/64 dev p0 nodad;"
            "ip address add fe80::2/64 dev p0 nodad; ip link set p0 up;"
            "ip route add default via 198.51.100.1;"
            "ip -6 route add default via 2001:db8:2::1");
    return built ? std::string() : "could not build the routed network";
}

}  // namespace nodrel::testing
