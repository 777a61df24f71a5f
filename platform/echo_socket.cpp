#include "echo_socket.h"

#include <netinet/icmp6.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
// After the C library headers, whose definitions the kernel headers build on.
#include <linux/icmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace nodrel::platform {

namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1'000'000;
constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

// The monotonic clock, which wall-clock steps never move; the deadline timer runs on it too.
int64_t MonotonicNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNanosecondsPerSecond + now.tv_nsec;
}

constexpr uint8_t kDontFragmentFlag = 0x02;   // IP_FLAG_DF of the options record
constexpr size_t kReceiveBufferSize = 65536;  // any IPv4 packet
// Bounds on reads in a row, so that a flood of foreign traffic cannot keep a probe from seeing
// its deadline or keep the queues from ever being empty.
constexpr int kReadsPerWakeUp = 64;
constexpr int kDrainLimit = 1024;

uint16_t RandomWord() {
    uint16_t word;
    if (getrandom(&word, sizeof(word), GRND_NONBLOCK) == sizeof(word)) return word;
    return static_cast<uint16_t>(MonotonicNanoseconds());
}

bool SetIntOption(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof(value)) == 0;
}

socklen_t AddressLength(bool ipv6) {
    return ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

SocketAddress ToSocketAddress(const IpAddress& address) {
    SocketAddress socketAddress{};
    if (address.isIpv6) {
        socketAddress.ipv6.sin6_family = AF_INET6;
        std::memcpy(&socketAddress.ipv6.sin6_addr, address.ipv6.data(), address.ipv6.size());
        socketAddress.ipv6.sin6_scope_id = address.zone;
    } else {
        socketAddress.ipv4.sin_family = AF_INET;
        socketAddress.ipv4.sin_addr.s_addr = address.ipv4;
    }
    return socketAddress;
}

// The address of a socket address whose family is known.
IpAddress FromSocketAddress(const SocketAddress& address) {
    return address.any.sa_family == AF_INET6 ? platform::FromSocketAddress(address.ipv6)
                                             : IpAddress::FromIpv4(address.ipv4.sin_addr.s_addr);
}

// The address the kernel filled in, when it is one of the family asked for.
std::optional<IpAddress> FilledInAddress(const SocketAddress& address, socklen_t length,
                                         bool ipv6) {
    if (length < AddressLength(ipv6) || address.any.sa_family != (ipv6 ? AF_INET6 : AF_INET))
        return std::nullopt;
    return FromSocketAddress(address);
}

// A message header for recvmsg that takes the peer's address, one data buffer and the control
// messages.
template <size_t ControlSize>
msghdr MessageHeader(SocketAddress& peer, iovec& data, uint8_t (&control)[ControlSize]) {
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof(peer);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = ControlSize;
    return message;
}

// The options' Flags are the IP header flags, not the type of service: of them only "don't
// fragment" (0x02) means anything to Linux, through path MTU discovery. DO sets DF and refuses
// packets larger than the path MTU; DONT clears DF and lets the packet fragment.
int Discovery(uint8_t flags) {
    return (flags & kDontFragmentFlag) != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
}

int OpenIcmpSocket(bool ipv6, int type) {
    type |= SOCK_NONBLOCK | SOCK_CLOEXEC;
    return ipv6 ? socket(AF_INET6, type, IPPROTO_ICMPV6) : socket(AF_INET, type, IPPROTO_ICMP);
}

}  // namespace

EchoSocket::~EchoSocket() {
    if (FSocket >= 0) close(FSocket);
    if (FDeadlineTimer >= 0) close(FDeadlineTimer);
}

bool EchoSocket::Open(EchoSocketKind kind, bool ipv6) {
    FIpv6 = ipv6;
    FKind = kind == EchoSocketKind::Raw ? EchoSocketKind::Raw : EchoSocketKind::Datagram;
    if (FKind == EchoSocketKind::Datagram) {
        FSocket = OpenIcmpSocket(ipv6, SOCK_DGRAM);
        // Refused by ping_group_range (root included) or not built into the kernel.
        const bool datagramUnavailable =
            FSocket < 0 && (errno == EACCES || errno == EAFNOSUPPORT || errno == EPROTONOSUPPORT);
        if (kind == EchoSocketKind::Automatic && datagramUnavailable) FKind = EchoSocketKind::Raw;
    }
    if (FKind == EchoSocketKind::Raw) FSocket = OpenIcmpSocket(ipv6, SOCK_RAW);
    if (FSocket < 0) return false;
    FReceived = std::make_unique_for_overwrite<uint8_t[]>(kReceiveBufferSize);
    FDeadlineTimer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    return FDeadlineTimer >= 0 && Configure();
}

// A raw socket sees all ICMP of the host: let only echo replies through.
bool EchoSocket::SetFilter() {
    if (FIpv6) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(icmp::kIcmp6EchoReply, &filter);
        return setsockopt(FSocket, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter)) == 0;
    }
    icmp_filter filter{~(1u << icmp::kEchoReply)};
    return setsockopt(FSocket, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter)) == 0;
}

bool EchoSocket::Configure() {
    // ICMP errors about our requests arrive on the error queue, with the packet they quote.
    if (!(FIpv6 ? SetIntOption(FSocket, IPPROTO_IPV6, IPV6_RECVERR, 1)
                : SetIntOption(FSocket, IPPROTO_IP, IP_RECVERR, 1))) {
        return false;
    }
    FNextSequence = RandomWord();

    if (FKind == EchoSocketKind::Raw) {
        // Ours are told from the replies to other programs by an identifier of our own.
        if (!SetFilter()) return false;
        FIdentifier = RandomWord();
    } else {
        // The kernel stamps the socket's port on every request as the identifier: bind now so
        // the port is known before the first reply has to be recognised.
        SocketAddress local{};
        local.any.sa_family = FIpv6 ? AF_INET6 : AF_INET;
        socklen_t length = sizeof(local);
        if (bind(FSocket, &local.any, AddressLength(FIpv6)) != 0 ||
            getsockname(FSocket, &local.any, &length) != 0) {
            return false;
        }
        FIdentifier = ntohs(FIpv6 ? local.ipv6.sin6_port : local.ipv4.sin_port);
    }
    // Without an IP header (every ICMPv6 socket, the IPv4 datagram one) the reply's TTL comes as
    // a control message.
    if (FIpv6) return SetIntOption(FSocket, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
    return FKind == EchoSocketKind::Raw || SetIntOption(FSocket, IPPROTO_IP, IP_RECVTTL, 1);
}

inline bool EchoSocket::OptionsApplied(const IP_OPTION_INFORMATION& options) const {
    return options.OptionsSize == 0 && FAppliedOptions && FAppliedOptions->ipOptionsSize == 0 &&
           FAppliedOptions->ttl == options.Ttl && FAppliedOptions->tos == options.Tos &&
           FAppliedOptions->discovery == Discovery(options.Flags);
}

std::optional<uint32_t> EchoSocket::ApplyOptions(const IP_OPTION_INFORMATION& options) {
    SocketOptions wanted;
    wanted.ttl = options.Ttl;
    wanted.tos = options.Tos;
    wanted.discovery = Discovery(options.Flags);
    wanted.ipOptionsSize = options.OptionsSize;
    if (options.OptionsSize > 0) {
        // More than the header has room for is refused as the kernel would refuse it; IPv6 has
        // no such options at all.
        if (FIpv6 || options.OptionsData == nullptr || options.OptionsSize > kMaxIpOptionsSize) {
            return IP_BAD_OPTION;
        }
        std::copy_n(options.OptionsData, options.OptionsSize, wanted.ipOptions.begin());
    }
    if (wanted == FAppliedOptions) return std::nullopt;
    FAppliedOptions.reset();  // unknown until every option below is in place
    // The IPv6 discovery modes have the same values as the IPv4 ones.
    static_assert(IPV6_PMTUDISC_DO == IP_PMTUDISC_DO && IPV6_PMTUDISC_DONT == IP_PMTUDISC_DONT);
    const bool applied =
        FIpv6 ? SetIntOption(FSocket, IPPROTO_IPV6, IPV6_UNICAST_HOPS, wanted.ttl) &&
                    SetIntOption(FSocket, IPPROTO_IPV6, IPV6_TCLASS, wanted.tos) &&
                    SetIntOption(FSocket, IPPROTO_IPV6, IPV6_MTU_DISCOVER, wanted.discovery)
              : SetIntOption(FSocket, IPPROTO_IP, IP_TTL, wanted.ttl) &&
                    SetIntOption(FSocket, IPPROTO_IP, IP_TOS, wanted.tos) &&
                    SetIntOption(FSocket, IPPROTO_IP, IP_MTU_DISCOVER, wanted.discovery);
    if (!applied) return icmp::StatusForErrno(errno);
    // Once a socket has IP options, even an empty set of them is copied for every send; a socket
    // that was never given any is left without.
    if (wanted.ipOptionsSize > 0 || FHasIpOptions) {
        if (setsockopt(FSocket, IPPROTO_IP, IP_OPTIONS,
                       wanted.ipOptionsSize > 0 ? wanted.ipOptions.data() : nullptr,
                       wanted.ipOptionsSize) != 0) {
            return IP_BAD_OPTION;
        }
        FHasIpOptions = true;
    }
    FAppliedOptions = wanted;
    return std::nullopt;
}

inline bool EchoSocket::Send(size_t size, const SocketAddress& target) {
    ssize_t result;
    do {
        result = sendto(FSocket, FRequest.data(), size, 0, &target.any, AddressLength(FIpv6));
    } while (result < 0 && errno == EINTR);
    return result >= 0;
}

// Empties what earlier probes left behind: late replies, queued errors and the pending socket
// error, which would otherwise fail the next send even to a host that answers.
void EchoSocket::DrainLeftovers() {
    FErrorQueued = false;
    uint8_t scratch[64];
    for (int i = 0; i < kDrainLimit; ++i) {
        if (recv(FSocket, scratch, sizeof(scratch), MSG_ERRQUEUE | MSG_DONTWAIT) < 0 &&
            errno != EINTR) {
            break;
        }
    }
    for (int i = 0; i < kDrainLimit; ++i) {
        // A failed read other than "empty" reported (and so cleared) a pending error: go on.
        if (recv(FSocket, scratch, sizeof(scratch), MSG_DONTWAIT) < 0 && errno == EAGAIN) break;
    }
    int pendingError = 0;
    socklen_t length = sizeof(pendingError);
    getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &pendingError, &length);
}

EchoSocket::ReadResult EchoSocket::ReadQueuedError(const icmp::EchoRequestKey& request,
                                                   ProbeOutcome& outcome) {
    SocketAddress destination{};
    uint8_t quoted[1280];  // the most an ICMP error carries; routers often quote just 8 bytes
    alignas(cmsghdr) uint8_t control[256];
    iovec data{quoted, sizeof(quoted)};
    msghdr message = MessageHeader(destination, data, control);
    const ssize_t received = recvmsg(FSocket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (received < 0) {
        if (errno == EINTR) return ReadResult::NotOurs;
        FErrorQueued = false;
        return ReadResult::QueueEmpty;
    }

    const std::optional<IpAddress> originalDestination =
        FilledInAddress(destination, message.msg_namelen, FIpv6);
    const auto quotedBytes = std::span<const uint8_t>(quoted, static_cast<size_t>(received));
    const int level = FIpv6 ? IPPROTO_IPV6 : IPPROTO_IP;
    const int type = FIpv6 ? IPV6_RECVERR : IP_RECVERR;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != level || header->cmsg_type != type) continue;
        const auto extendedError =
            std::span<const uint8_t>(CMSG_DATA(header), header->cmsg_len - CMSG_LEN(0));
        const std::optional<icmp::ProbeError> error =
            icmp::ClassifyQueuedError(extendedError, originalDestination, quotedBytes, request);
        if (error) {
            outcome.status = error->status;
            outcome.address = error->reporter;
            return ReadResult::Decided;
        }
    }
    return ReadResult::NotOurs;
}

EchoSocket::ReadResult EchoSocket::ReadReply(const icmp::EchoRequestKey& request,
                                             std::span<uint8_t> dataArea, ProbeOutcome& outcome) {
    SocketAddress source;  // filled in by the kernel, to the length it reports
    alignas(cmsghdr) uint8_t control[64];
    iovec data{FReceived.get(), kReceiveBufferSize};
    msghdr message = MessageHeader(source, data, control);
    const ssize_t received = recvmsg(FSocket, &message, MSG_DONTWAIT);
    // Besides "empty", a read can fail by reporting a pending socket error; the error queue
    // holds the details, so read on.
    if (received < 0) {
        if (errno == EAGAIN) return ReadResult::QueueEmpty;
        FErrorQueued = FErrorQueued || errno != EINTR;
        return ReadResult::NotOurs;
    }

    const auto packet = std::span<const uint8_t>(FReceived.get(), static_cast<size_t>(received));
    std::optional<icmp::EchoReply> reply;
    if (FKind == EchoSocketKind::Raw && !FIpv6) {
        reply = icmp::ParseRawEchoReply(packet);
    } else if (message.msg_namelen >= AddressLength(FIpv6) &&
               source.any.sa_family == (FIpv6 ? AF_INET6 : AF_INET)) {
        // No IP header: the source comes from the socket, the TTL as a control message.
        const int level = FIpv6 ? IPPROTO_IPV6 : IPPROTO_IP;
        const int type = FIpv6 ? IPV6_HOPLIMIT : IP_TTL;
        uint8_t ttl = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == level && header->cmsg_type == type &&
                header->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int value;
                std::memcpy(&value, CMSG_DATA(header), sizeof(value));
                ttl = static_cast<uint8_t>(value);
            }
        }
        reply = icmp::ParseDatagramEchoReply(packet, FromSocketAddress(source), ttl);
    }
    if (!reply || !icmp::IsReplyTo(*reply, request)) return ReadResult::NotOurs;

    outcome.status = IP_SUCCESS;
    outcome.address = reply->source;
    outcome.ttl = reply->ttl;
    outcome.echoedSize = std::min(reply->payload.size(), dataArea.size());
    if (outcome.echoedSize > 0)
        std::memcpy(dataArea.data(), reply->payload.data(), outcome.echoedSize);
    return ReadResult::Decided;
}

// Reads, without waiting, what has arrived: replies first, then queued errors. True once the
// probe is decided.
bool EchoSocket::ReadPending(const icmp::EchoRequestKey& request, std::span<uint8_t> dataArea,
                             ProbeOutcome& outcome) {
    for (int i = 0; i < kReadsPerWakeUp; ++i) {
        const ReadResult result = ReadReply(request, dataArea, outcome);
        if (result == ReadResult::Decided) return true;
        if (result == ReadResult::QueueEmpty) break;
    }
    for (int i = 0; i < kReadsPerWakeUp; ++i) {
        const ReadResult result = ReadQueuedError(request, outcome);
        if (result == ReadResult::Decided) return true;
        if (result == ReadResult::QueueEmpty) break;
    }
    return false;
}

ProbeOutcome EchoSocket::Probe(const IpAddress& destination, std::span<const uint8_t> payload,
                               const IP_OPTION_INFORMATION& options, uint32_t timeout,
                               std::span<uint8_t> dataArea) {
    const std::lock_guard sending(FSending);
    ProbeOutcome outcome;
    if (!OptionsApplied(options)) {
        if (const std::optional<uint32_t> refused = ApplyOptions(options)) {
            outcome.status = *refused;
            return outcome;
        }
    }
    if (FErrorQueued) DrainLeftovers();

    const icmp::EchoRequestKey request{destination, FIdentifier, FNextSequence++, payload};
    icmp::IcmpHeader header = icmp::EchoRequestHeader(
        request.identifier, request.sequence, FIpv6 ? icmp::kIcmp6EchoRequest : icmp::kEchoRequest);
    // The kernel fills in the checksum (and verifies the replies' own), except on a raw IPv4
    // socket.
    if (FKind == EchoSocketKind::Raw && !FIpv6) icmp::SetChecksum(header, payload);
    const SocketAddress target = ToSocketAddress(destination);
    // One buffer, not a gather list: the kernel copies a single one faster.
    const size_t size = header.size() + payload.size();
    if (FRequest.size() < size) FRequest.resize(size);
    std::memcpy(FRequest.data(), header.data(), header.size());
    if (!payload.empty()) std::memcpy(&FRequest[header.size()], payload.data(), payload.size());

    const int64_t sent = MonotonicNanoseconds();
    const int64_t deadline = sent + int64_t{timeout} * kNanosecondsPerMillisecond;
    // An ICMP error that came after an earlier probe ended leaves a pending error on the socket,
    // which fails the next send before anything goes out. Then the leftovers are emptied and the
    // send tried once more: a failure now is this request's own.
    for (int attempt = 0; !Send(size, target); ++attempt) {
        const int sendError = errno;
        DrainLeftovers();  // a refused send also leaves a note on the error queue
        if (attempt == 1) {
            outcome.status = icmp::StatusForErrno(sendError);
            return outcome;
        }
    }
    const auto decided = [&] {
        const int64_t elapsed = std::clamp<int64_t>(MonotonicNanoseconds() - sent, 0,
                                                    int64_t{timeout} * kNanosecondsPerMillisecond);
        outcome.roundTripTime = static_cast<uint32_t>(elapsed / kNanosecondsPerMillisecond);
        outcome.roundTripMicroseconds =
            static_cast<uint32_t>(std::min<int64_t>(elapsed / 1000, UINT32_MAX));
        return outcome;
    };

    // Always one read before giving up: on loopback the reply is queued before the send returns,
    // and a zero timeout must still see it.
    if (ReadPending(request, dataArea, outcome)) return decided();
    if (timeout == 0) {
        outcome.status = IP_REQ_TIMED_OUT;
        return outcome;
    }
    const itimerspec expiry{{0, 0},
                            {static_cast<time_t>(deadline / kNanosecondsPerSecond),
                             static_cast<long>(deadline % kNanosecondsPerSecond)}};
    // Setting the timer also clears an expiry left over from an earlier probe.
    if (timerfd_settime(FDeadlineTimer, TFD_TIMER_ABSTIME, &expiry, nullptr) != 0) {
        outcome.status = icmp::StatusForErrno(errno);
        return outcome;
    }
    for (;;) {
        // POLLERR, for the error queue, comes unasked.
        pollfd watched[] = {{FSocket, POLLIN, 0}, {FDeadlineTimer, POLLIN, 0}};
        if (poll(watched, std::size(watched), -1) < 0) {
            if (errno == EINTR) continue;
            outcome.status = icmp::StatusForErrno(errno);
            return outcome;
        }
        if (watched[0].revents != 0 && ReadPending(request, dataArea, outcome)) return decided();
        if (watched[1].revents != 0) break;
    }
    outcome.status = IP_REQ_TIMED_OUT;
    return outcome;
}

}  // namespace nodrel::platform
