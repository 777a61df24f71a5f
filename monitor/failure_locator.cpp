#include "failure_locator.h"

#include <algorithm>
#include <limits>

#include "icmp.h"

namespace nodrel {

namespace {

constexpr int64_t kLearnAgainAfterMs = 10 * 60 * 1000;
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// Statuses a probe gets from this computer for what was asked of it (its address, its size, its
// options), not for the state of the network. A link without carrier makes sends fail with
// other local statuses: no buffer space, or a general failure.
bool RefusedAsAsked(const TFailedProbe& probe) {
    switch (probe.Status) {
        case platform::IP_BAD_DESTINATION:
        case platform::IP_DEST_SCOPE_MISMATCH:
        case platform::IP_BAD_OPTION:
        case platform::IP_BUF_TOO_SMALL:
            return true;
        case platform::IP_PACKET_TOO_BIG:
            return probe.Reporter.IsUnspecified();
        default:
            return false;
    }
}

TFailurePlace PlaceOf(TFailureCause cause, std::optional<platform::IpAddress> gateway = {}) {
    TFailurePlace place;
    place.Cause = cause;
    place.Gateway = gateway;
    return place;
}

TFailurePlace LinkPlace(const std::string& interface) {
    TFailurePlace place = PlaceOf(TFailureCause::Link);
    std::copy_n(interface.begin(), std::min(interface.size(), place.Interface.size() - 1),
                place.Interface.begin());
    return place;
}

}  // namespace

platform::IpAddress ReporterOf(const platform::ICMP_ECHO_REPLY& reply) {
    if (reply.Address != 0) return platform::IpAddress::FromIpv4(reply.Address);
    return reply.Address6 == platform::Ipv6Address{}
               ? platform::IpAddress{}
               : platform::IpAddress::FromIpv6(reply.Address6);
}

TFailureLocator::TFailureLocator(platform::EchoPlatform& echoPlatform)
    : FEchoPlatform(echoPlatform) {}

TFailureLocator::~TFailureLocator() = default;

void TFailureLocator::Refresh(const platform::IpAddress& address) {
    // Read before asking: a change announced while the kernel answers is asked about again.
    const uint64_t changes = FChanges.Count();
    if (FRouteKnown && address == FRouteTo && changes == FSeenChanges && FChanges.Following())
        return;
    FRoute = platform::AskRoute(address);
    FRouteTo = address;
    FRouteKnown = true;
    FSeenChanges = changes;
    if (FRoute.answered && !FRoute.noRoute) FLastInterface = FRoute.interfaceIndex;
}

bool TFailureLocator::RouterAnswers(const platform::IpAddress& router, uint32_t timeout) {
    if (!FRouterEcho) {
        try {
            FRouterEcho = std::make_unique<TICMP>(FEchoPlatform);
        } catch (const TICMPException&) {
            return false;  // no echo to be had: the router is never blamed
        }
    }
    FRouterEcho->SetAddress(QString::fromStdString(platform::AddressText(router)));
    FRouterEcho->SetTimeout(static_cast<int32_t>(std::min<uint32_t>(timeout, INT32_MAX)));
    return FRouterEcho->Ping() > 0;
}

void TFailureLocator::Learn(const platform::IpAddress& router, bool answered) {
    if (FRouter != router) {
        // A new router, met during a failure: learned afresh once all is well again.
        FRouter = router;
        FRouterAnswersEcho = answered;
        FLearnAt = 0;
    } else {
        // A router that stays silent during a failure may still answer echo once all is well:
        // only an answer changes what is known of it.
        FRouterAnswersEcho = FRouterAnswersEcho || answered;
    }
}

void TFailureLocator::Follow(const platform::IpAddress& address, int64_t now, uint32_t timeout) {
    Refresh(address);
    if (!FRoute.nextHop) {
        FLearnedAt = now;
        FLearnAt = kNever;  // nothing to learn until the route changes
        return;
    }
    if (FRouter == FRoute.nextHop && now >= FLearnedAt && now < FLearnAt) return;
    // All is well: whatever the router does now is what it does.
    FRouter = FRoute.nextHop;
    FRouterAnswersEcho = RouterAnswers(*FRoute.nextHop, timeout);
    FLearnedAt = now;
    FLearnAt = now + kLearnAgainAfterMs;
}

TFailurePlace TFailureLocator::Locate(const TFailedProbe& probe, uint32_t timeout) {
    if (!probe.NameFailed && RefusedAsAsked(probe)) return {};
    // The failure may follow a change the event loop has not read yet.
    FChanges.TakeNow();
    // Without an address of its own, a probe's way is that of the last address probed.
    if (probe.Address) {
        Refresh(*probe.Address);
    } else if (FRouteKnown) {
        Refresh(FRouteTo);
    } else {
        return PlaceOf(probe.NameFailed ? TFailureCause::Name : TFailureCause::None);
    }
    if (!FRoute.answered) {
        return PlaceOf(probe.NameFailed ? TFailureCause::Name : TFailureCause::Unknown);
    }
    // This machine itself: no network lies between.
    if (FRoute.local) return {};
    // The kernel announces a lost carrier up to a second late, and a send on such a link fails
    // at once: the interface is asked afresh. It keeps a route through an interface without
    // carrier, so the interface tells, not the route.
    if (!FRoute.noRoute) FRoute.link = platform::AskLink(FRoute.interfaceIndex);
    if (!FRoute.noRoute && !(FRoute.link.up && FRoute.link.carrier)) {
        return LinkPlace(FRoute.link.name);
    }
    // An interface switched off takes its routes with it: the last one's interface tells.
    if (FRoute.noRoute && FLastInterface != 0) {
        const platform::LinkFacts last = platform::AskLink(FLastInterface);
        if (last.found && !(last.up && last.carrier)) return LinkPlace(last.name);
    }
    const bool refusedHere =
        probe.Status == platform::IP_DEST_NET_UNREACHABLE && probe.Reporter.IsUnspecified();
    if (FRoute.noRoute || !FRoute.source || refusedHere) return PlaceOf(TFailureCause::Route);
    if (probe.NameFailed) return PlaceOf(TFailureCause::Name);
    if (!FRoute.nextHop) return PlaceOf(TFailureCause::Host);

    const platform::IpAddress router = *FRoute.nextHop;
    const bool answered = RouterAnswers(router, timeout);
    Learn(router, answered);
    if (answered) return PlaceOf(TFailureCause::Beyond, router);
    return PlaceOf(FRouterAnswersEcho ? TFailureCause::Router : TFailureCause::Unknown, router);
}

}  // namespace nodrel
