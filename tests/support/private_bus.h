#pragma once

#include <sys/types.h>

#include <string>

namespace nodrel::testing {

// A D-Bus daemon of the test's own with the session bus's rules (anyone may own any name); stands
// in for the session bus or, named by DBUS_SYSTEM_BUS_ADDRESS, for the system bus. Ended with the
// object. address() is empty when the daemon could not start.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = -1;
};

}  // namespace nodrel::testing
