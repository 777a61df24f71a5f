#include "support/small_file_system.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace nodrel::testing {

std::string MountSmallFileSystem(const std::string& path) {
    if (geteuid() != 0) return "mounting a small tmpfs needs root";
    if (unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    // Nothing mounted here may reach the machine's own mount table.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("mount --make-rprivate /: ") + std::strerror(errno);
    }
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (mount("nodrel-test", path.c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) {
        return std::string("mount -t tmpfs: ") + std::strerror(errno);
    }
    return {};
}

bool FillFileSystem(const std::string& folder) {
    const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const char block[4096] = {};
    // Whole blocks first, then single bytes into what is left of the last one.
    for (const size_t size : {sizeof block, size_t(1)}) {
        while (write(fd, block, size) == ssize_t(size)) {
        }
    }
    const bool full = errno == ENOSPC;
    close(fd);
    return full;
}

bool RemountReadOnly(const std::string& path) {
    return mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void UnmountSmallFileSystem(const std::string& path) {
    umount2(path.c_str(), MNT_DETACH);
}

}  // namespace nodrel::testing
