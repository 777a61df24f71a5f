#pragma once

#include <QByteArray>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>

#include "echo_library.h"

namespace nodrel::platform {

// What a lookup found: 0 and the name's first address in the resolver's order, or the socket
// layer's error number.
struct LookupAnswer {
    uint16_t error = 0;
    IpAddress address;
};

// Looks host names up without blocking the caller: each lookup asks the platform's name service
// on a thread of its own. Blocking getaddrinfo is the one resolver that honours every name source
// of the system, and it cannot be cut short: a lookup nobody waits for any more runs out by itself.
class NameLookups {
public:
    using Done = std::function<void(const LookupAnswer& answer)>;

    explicit NameLookups(EchoPlatform& platform) : FPlatform(platform) {}
    // Waits as WaitForAll does.
    ~NameLookups() { WaitForAll(); }
    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // Starts looking `name` (UTF-8) up. The answer comes through the future, and first to `done`,
    // when set, on the lookup's thread. Throws std::system_error when no thread can be had.
    std::future<LookupAnswer> Start(QByteArray name, Done done = {});

    // Returns once every lookup started has answered, and its `done` has returned.
    void WaitForAll();

private:
    EchoPlatform& FPlatform;
    std::mutex FLock;
    std::condition_variable FAllAnswered;
    int FUnderWay = 0;
};

}  // namespace nodrel::platform
