#include "support/isolated_network.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
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

std::string UsePrivateFile(const std::string& path, const std::string& lines) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
        return std::string("needs a private mount namespace (run as root): ") +
               std::strerror(errno);
    }
    char copy[] = "/tmp/nodrel-etc-XXXXXX";
    const int fd = mkstemp(copy);
    if (fd < 0) return std::string("mkstemp: ") + std::strerror(errno);
    const bool written =
        write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    close(fd);
    const bool mounted = written && mount(copy, path.c_str(), nullptr, MS_BIND, nullptr) == 0;
    const int mountError = errno;
    unlink(copy);  // the bind mount keeps the file alive
    return mounted ? std::string() : "bind mount over " + path + ": " + std::strerror(mountError);
}

std::string UsePrivateHostsFile(const std::string& lines) {
    return UsePrivateFile("/etc/hosts", lines);
}

}  // namespace nodrel::testing
