#include "private_bus.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace nodrel::testing {

bool WriteBusConfiguration(const std::string& path, const std::string& address) {
    std::ofstream file(path);
    file << "<busconfig>\n <type>session</type>\n <listen>" << address
         << "</listen>\n <auth>EXTERNAL</auth>\n <policy context=\"default\">\n"
            "  <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "  <allow eavesdrop=\"true\"/>\n  <allow own=\"*\"/>\n </policy>\n</busconfig>\n";
    file.close();
    return bool(file);
}

PrivateBus::PrivateBus() {
    char pattern[] = "/tmp/nodrel-bus-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    folder_ = pattern;
    // A socket in the file system, which a test in a network namespace of its own still reaches.
    const std::string configuration = folder_ + "/bus.conf";
    if (!WriteBusConfiguration(configuration, "unix:dir=" + folder_)) return;
    // The daemon prints its address, then its pid.
    FILE* daemon = popen(("dbus-daemon --config-file=" + configuration +
                          " --fork --print-address=1 --print-pid=1 2>/dev/null")
                             .c_str(),
                         "r");
    if (daemon == nullptr) return;
    char address[512] = {};
    long pid = -1;
    if (std::fscanf(daemon, "%511s %ld", address, &pid) == 2) {
        address_ = address;
        pid_ = pid_t(pid);
    }
    pclose(daemon);
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace nodrel::testing
