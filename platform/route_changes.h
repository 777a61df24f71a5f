#pragma once

// Follows the kernel's changes of links, addresses, routes and routing rules through rtnetlink's
// multicast groups, so that what was learned of a route can be asked again only after something
// changed. Nothing is read and nothing runs while nothing changes: no timer, no polling.

#include <QSocketNotifier>
#include <atomic>
#include <cstdint>
#include <memory>

namespace nodrel::platform {

class RouteChanges {
public:
    // On a thread with an event loop, which reads the announcements as they come. Without a
    // socket to be had, Following() is false and every change has to be assumed.
    RouteChanges();
    ~RouteChanges();
    RouteChanges(const RouteChanges&) = delete;
    RouteChanges& operator=(const RouteChanges&) = delete;

    bool Following() const { return FSocket >= 0; }

    // Counts the announcements read so far, from any thread; those lost when the socket
    // overflowed count too.
    uint64_t Count() const { return FCount.load(std::memory_order_acquire); }

    // Reads, without waiting, what has been announced but not yet read: any thread may need a
    // change that its event loop has not got to yet.
    void TakeNow();

private:
    const int FSocket;
    std::atomic<uint64_t> FCount = 0;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

}  // namespace nodrel::platform
