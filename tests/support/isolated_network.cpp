#include "support/isolated_network.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace nodrel::testing {

namespace {

bool BringLoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        up = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    close(fd);
    return up;
}

}  // namespace

std::string EnterIsolatedNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        return std::string("needs a private network namespace (run as root): unshare: ") +
               std::strerror(errno);
    }
    if (!BringLoopbackUp()) return "could not bring loopback up in the private namespace";
    return {};
}

bool WriteSysctl(const std::string& name, const std::string& value) {
    std::ofstream file("/proc/sys/" + name);
    file << value << '\n';
    file.close();
    return !file.fail();
}

bool CanOpenRawIcmpSocket() {
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return false;
    close(fd);
    return true;
}

}  // namespace nodrel::testing
