#pragma once

#include <sys/types.h>

#include <string>

namespace nodrel::testing {

// A D-Bus daemon of the test's own, with the session bus's rules (anyone may own any name), at a
// socket in a private folder; stands in for the session bus or, pointed at by
// DBUS_SYSTEM_BUS_ADDRESS, for the system bus. Ended and removed with the object.
class PrivateBus {
public:
    // Returns once the daemon listens, or with failure() saying why it does not.
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& failure() const { return failure_; }
    const std::string& address() const { return address_; }

private:
    std::string folder_;
    std::string address_;
    pid_t pid_ = -1;
    std::string failure_;
};

}  // namespace nodrel::testing
