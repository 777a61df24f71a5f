#pragma once

// Building and reading ICMP and ICMPv6 echo packets, kept free of sockets so that every byte the
// network can hand us goes through code that can be tested and fuzzed on its own. Addresses are in
// network byte order, identifiers and sequence numbers in host order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ip_address.h"

namespace nodrel::platform {

// An ICMPv6 destination refused by a filter (administratively prohibited, source address failed
// policy, reject route). The classic statuses fold it into protocol unreachable, which misleads.
inline constexpr uint32_t IP_DEST_ADMIN_PROHIBITED = 11046;

}  // namespace nodrel::platform

namespace nodrel::platform::icmp {

inline constexpr uint8_t kEchoReply = 0;
inline constexpr uint8_t kDestinationUnreachable = 3;
inline constexpr uint8_t kEchoRequest = 8;
inline constexpr uint8_t kTimeExceeded = 11;
inline constexpr uint8_t kParameterProblem = 12;

inline constexpr uint8_t kIcmp6DestinationUnreachable = 1;
inline constexpr uint8_t kIcmp6PacketTooBig = 2;
inline constexpr uint8_t kIcmp6TimeExceeded = 3;
inline constexpr uint8_t kIcmp6ParameterProblem = 4;
inline constexpr uint8_t kIcmp6EchoRequest = 128;
inline constexpr uint8_t kIcmp6EchoReply = 129;

inline constexpr size_t kIpHeaderSize = 20;  // without options
inline constexpr size_t kIcmpHeaderSize = 8;
// The largest echo payload one IPv4 packet can carry.
inline constexpr size_t kMaxEchoPayload = 65535 - kIpHeaderSize - kIcmpHeaderSize;

// The one's complement sum of RFC 1071; a message with a correct checksum sums to 0.
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

using IcmpHeader = std::array<uint8_t, kIcmpHeaderSize>;

// The header of an echo request (ICMP type 8, or kIcmp6EchoRequest), its checksum left 0: a
// datagram ICMP socket fills it in, as every ICMPv6 socket does.
IcmpHeader EchoRequestHeader(uint16_t identifier, uint16_t sequence, uint8_t type = kEchoRequest);

// Fills in the checksum of the message made of `header` followed by `payload`.
void SetChecksum(IcmpHeader& header, std::span<const uint8_t> payload);

// A whole echo request with its checksum filled in.
std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> payload);

// What a probe waits for: the reply to exactly this request.
struct EchoRequestKey {
    IpAddress destination;
    uint16_t identifier;
    uint16_t sequence;
    std::span<const uint8_t> payload;
};

struct EchoReply {
    IpAddress source;
    uint8_t ttl;  // the hop limit, for IPv6
    uint16_t identifier;
    uint16_t sequence;
    std::span<const uint8_t> payload;  // inside the parsed bytes
};

// A whole IPv4 packet as a raw socket receives it. Checks the IP header (version, header length,
// total length, protocol) and the ICMP checksum; nullopt unless it is a well-formed echo reply.
std::optional<EchoReply> ParseRawEchoReply(std::span<const uint8_t> ipPacket);

// An ICMP message as a datagram ICMP socket receives it, or an ICMPv6 message as either kind of
// ICMPv6 socket does (no IP header); the source address and TTL come from the socket, and the
// source's family says which echo reply type to expect. The kernel delivers only messages whose
// checksum it has verified, so the checksum is not computed again. nullopt unless it is an echo
// reply.
std::optional<EchoReply> ParseDatagramEchoReply(std::span<const uint8_t> icmpMessage,
                                                const IpAddress& source, uint8_t ttl);

// Whether `reply` answers `request`: same identifier, sequence and payload, from the destination.
bool IsReplyTo(const EchoReply& reply, const EchoRequestKey& request);

// An error that ends a probe: its IP status and the address that reported it (0 if unknown).
struct ProbeError {
    uint32_t status;
    IpAddress reporter;
};

// Reads one entry of a socket's error queue: `extendedError` is the data of the IP_RECVERR or
// IPV6_RECVERR control message (sock_extended_err, then the offender's address),
// `originalDestination` the address recvmsg gave back, if the kernel filled it in, and `quoted`
// its data (the start of the ICMP message that caused the error).
// Returns the error only when it concerns `request` and should end the wait; notices such as
// redirects, and errors about other packets, give nullopt.
std::optional<ProbeError> ClassifyQueuedError(std::span<const uint8_t> extendedError,
                                              std::optional<IpAddress> originalDestination,
                                              std::span<const uint8_t> quoted,
                                              const EchoRequestKey& request);

// The IP status for an errno from sending or from a locally raised error.
uint32_t StatusForErrno(int error);

}  // namespace nodrel::platform::icmp
