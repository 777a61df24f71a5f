#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "echo_library.h"
#include "echo_service.h"
#include "failure_place.h"
#include "route_changes.h"
#include "route_query.h"

namespace nodrel {

class TICMP;

// What a failed probe tells of itself.
struct TFailedProbe {
    std::optional<platform::IpAddress> Address;  // none when the name could not be looked up
    uint32_t Status = 0;                         // the reply's IP status
    // Who reported the failure: unspecified when this computer refused the send, or no one
    // answered at all.
    platform::IpAddress Reporter;
    bool NameFailed = false;  // the name could not be looked up, at first or again
};

// Who sent the reply or the error a probe got: unspecified when none came from the network.
platform::IpAddress ReporterOf(const platform::ICMP_ECHO_REPLY& reply);

// Says where a failed probe's fault lies: the link, the route, the name service, the router,
// past the router, or the host on the link. It keeps the route to the probed address, asked for
// again only after the kernel announced a change, and whether the router answers echo requests,
// learned while all is well: once when the route is learned or changes, at most once every 10
// minutes after that. Beside each failed probe it sends the router one echo request of its own.
//
// Made on a thread with an event loop, which follows the kernel's announcements; used after that
// by one other thread, the one that probes.
class TFailureLocator {
public:
    explicit TFailureLocator(platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform());
    ~TFailureLocator();
    TFailureLocator(const TFailureLocator&) = delete;
    TFailureLocator& operator=(const TFailureLocator&) = delete;

    // After a probe of `address` that started at `now` (milliseconds) was answered: whether
    // Follow has anything to do. Asked at every answered probe: inline, no call.
    bool FollowDue(const platform::IpAddress& address, int64_t now) const {
        return FChanges.Count() != FSeenChanges || !(address == FRouteTo) || now >= FLearnAt ||
               now < FLearnedAt;
    }
    // Asks for the route to `address` again when it changed, and learns whether the router
    // answers echo when that is due, waiting at most `timeout` milliseconds for it.
    void Follow(const platform::IpAddress& address, int64_t now, uint32_t timeout);

    // Where the fault of a failed probe lies; a router echo waits at most `timeout` ms.
    TFailurePlace Locate(const TFailedProbe& probe, uint32_t timeout);

private:
    // Asks for the route to `address` unless what is kept is for it and nothing changed since.
    void Refresh(const platform::IpAddress& address);
    // Whether `router` answers one echo request within `timeout` ms.
    bool RouterAnswers(const platform::IpAddress& router, uint32_t timeout);
    // What is known of whether `router` answers echo, now that it did or did not.
    void Learn(const platform::IpAddress& router, bool answered);

    platform::EchoPlatform& FEchoPlatform;
    platform::RouteChanges FChanges;
    uint64_t FSeenChanges = 0;  // FChanges' count when FRoute was asked for
    bool FRouteKnown = false;   // FRoute is the route to FRouteTo
    platform::IpAddress FRouteTo;
    platform::RouteFacts FRoute;
    uint32_t FLastInterface = 0;  // the interface of the last route found

    std::optional<platform::IpAddress> FRouter;  // the router whose echo is known
    bool FRouterAnswersEcho = false;
    int64_t FLearnedAt = 0;
    int64_t FLearnAt = 0;                // when the router's echo is learned again
    std::unique_ptr<TICMP> FRouterEcho;  // made at the first echo to a router
};

}  // namespace nodrel
