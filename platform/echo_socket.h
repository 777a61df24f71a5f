#pragma once

// One ICMP socket of either family, datagram or raw: it opens and sets up the socket, applies a
// request's options, sends one echo request and waits a bounded time for the reply or the ICMP
// error that answers it, telling both apart from everything else the socket receives.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "echo_types.h"
#include "icmp_packet.h"
#include "ip_address.h"

namespace nodrel::platform {

// What one probe found.
struct ProbeOutcome {
    uint32_t status = IP_GENERAL_FAILURE;
    IpAddress address;
    uint32_t roundTripTime = 0;          // milliseconds
    uint32_t roundTripMicroseconds = 0;  // the same, finer
    uint8_t ttl = 0;
    size_t echoedSize = 0;  // bytes copied to the caller's data area
};

// A socket address of either family, as the socket calls take it.
union SocketAddress {
    sockaddr any;
    sockaddr_in ipv4;
    sockaddr_in6 ipv6;
};

// One ICMP socket and the state of the probes sent through it. Sends are serialised, so one
// probe at a time is in flight and everything that arrives can be weighed against it alone.
class EchoSocket {
public:
    EchoSocket() = default;
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;
    ~EchoSocket();

    // False, with errno telling why, when no socket of the kind can be had.
    bool Open(EchoSocketKind kind, bool ipv6);

    EchoSocketKind Kind() const { return FKind; }
    bool IsIpv6() const { return FIpv6; }

    // Sends one request and waits for its fate; the echoed bytes are copied to `dataArea` as far
    // as they fit. Nothing is allocated once the request buffer has grown to the payload's size.
    ProbeOutcome Probe(const IpAddress& destination, std::span<const uint8_t> payload,
                       const IP_OPTION_INFORMATION& options, uint32_t timeout,
                       std::span<uint8_t> dataArea);

private:
    enum class ReadResult { QueueEmpty, NotOurs, Decided };

    static constexpr size_t kMaxIpOptionsSize = 40;  // what an IPv4 header has room for

    // The IP-level settings of the socket, as the options record asks for them.
    struct SocketOptions {
        uint8_t ttl = 0;
        uint8_t tos = 0;
        int discovery = IP_PMTUDISC_DONT;
        uint8_t ipOptionsSize = 0;
        std::array<uint8_t, kMaxIpOptionsSize> ipOptions{};

        bool operator==(const SocketOptions&) const = default;
    };

    bool Configure();
    bool SetFilter();
    // Whether the socket is set as `options` ask, as it is for most probes: no setsockopt then.
    bool OptionsApplied(const IP_OPTION_INFORMATION& options) const;
    // Sets TTL, type of service, fragmentation and IP options for the next request; a status
    // when the kernel refuses one of them.
    std::optional<uint32_t> ApplyOptions(const IP_OPTION_INFORMATION& options);
    bool Send(size_t size, const SocketAddress& target);
    void DrainLeftovers();
    ReadResult ReadQueuedError(const icmp::EchoRequestKey& request, ProbeOutcome& outcome);
    ReadResult ReadReply(const icmp::EchoRequestKey& request, std::span<uint8_t> dataArea,
                         ProbeOutcome& outcome);
    bool ReadPending(const icmp::EchoRequestKey& request, std::span<uint8_t> dataArea,
                     ProbeOutcome& outcome);

    int FSocket = -1;
    // Fires at the deadline of a probe that has to wait: an absolute timer on the monotonic clock
    // fires on time, where the kernel lets a poll time-out run late by a share of its length.
    int FDeadlineTimer = -1;
    EchoSocketKind FKind = EchoSocketKind::Datagram;
    bool FIpv6 = false;
    std::mutex FSending;
    uint16_t FIdentifier = 0;
    uint16_t FNextSequence = 0;
    // What the socket was last set to; most probes repeat it and need no setsockopt at all.
    std::optional<SocketOptions> FAppliedOptions;
    bool FHasIpOptions = false;
    // A read reported a pending socket error: the error queue holds an entry that may be left
    // there once the probe is decided, to be emptied before the next request.
    bool FErrorQueued = false;
    std::vector<uint8_t> FRequest;  // grows to the largest request sent
    // Left unfilled: only the pages a reply reaches become resident.
    std::unique_ptr<uint8_t[]> FReceived;
};

}  // namespace nodrel::platform
