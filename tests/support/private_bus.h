#pragma once

#include <sys/types.h>

#include <string>

namespace nodrel::testing {

// Writes to `path` the configuration of a bus with the session bus's rules (anyone may own any
// name) listening at `address`, but with no service folders: nothing starts on demand, so a
// notification server installed on the machine (Debian's dunst) never answers a test that
// brought none. False when the file could not be written.
bool WriteBusConfiguration(const std::string& path, const std::string& address);

// A D-Bus daemon of the test's own with that configuration; stands in for the session bus or,
// named by DBUS_SYSTEM_BUS_ADDRESS, for the system bus. Ended with the object. address() is
// empty when the daemon could not start.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    std::string folder_;  // its configuration and socket
    std::string address_;
    pid_t pid_ = -1;
};

}  // namespace nodrel::testing
