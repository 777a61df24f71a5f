#include "icmp_packet.h"

#include <netinet/in.h>
#include <time.h>
// After the C library headers, whose definitions the kernel header builds on.
#include <linux/errqueue.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "echo_types.h"

namespace nodrel::platform::icmp {

namespace {

uint16_t ReadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t ReadAddress(const uint8_t* bytes) {
    uint32_t address;
    std::memcpy(&address, bytes, sizeof(address));
    return address;
}

enum class Checksum { Verify, VerifiedByKernel };

// The echo fields of an ICMP message that is an echo reply.
std::optional<EchoReply> ReadEchoReply(std::span<const uint8_t> message, const IpAddress& source,
                                       uint8_t ttl, Checksum checksum) {
    const uint8_t replyType = source.isIpv6 ? kIcmp6EchoReply : kEchoReply;
    if (message.size() < kIcmpHeaderSize || message[0] != replyType) return std::nullopt;
    if (checksum == Checksum::Verify && InternetChecksum(message) != 0) return std::nullopt;
    return EchoReply{source, ttl, ReadBigEndian16(&message[4]), ReadBigEndian16(&message[6]),
                     message.subspan(kIcmpHeaderSize)};
}

bool IsNetworkWide(uint8_t unreachableCode) {
    // net unreachable, net unknown, net prohibited, net unreachable for the type of service
    return unreachableCode == 0 || unreachableCode == 6 || unreachableCode == 9 ||
           unreachableCode == 11;
}

// The status for an ICMPv6 error type and code; nullopt for messages that do not end a probe.
std::optional<uint32_t> StatusForIcmp6Error(uint8_t type, uint8_t code) {
    switch (type) {
        case kIcmp6DestinationUnreachable:
            switch (code) {
                case 0:  // no route
                    return IP_DEST_NET_UNREACHABLE;
                case 1:  // administratively prohibited
                case 5:  // source address failed policy
                case 6:  // reject route
                    return IP_DEST_ADMIN_PROHIBITED;
                case 4:
                    return IP_DEST_PORT_UNREACHABLE;
                default:  // address unreachable, beyond the source's scope
                    return IP_DEST_HOST_UNREACHABLE;
            }
        case kIcmp6PacketTooBig:
            return IP_PACKET_TOO_BIG;
        case kIcmp6TimeExceeded:
            return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
        case kIcmp6ParameterProblem:
            return IP_PARAM_PROBLEM;
        default:
            return std::nullopt;
    }
}

// The status for an ICMP error type and code; nullopt for messages that do not end a probe.
std::optional<uint32_t> StatusForIcmpError(uint8_t type, uint8_t code) {
    switch (type) {
        case kDestinationUnreachable:
            switch (code) {
                case 2:
                    return IP_DEST_PROT_UNREACHABLE;
                case 3:
                    return IP_DEST_PORT_UNREACHABLE;
                case 4:
                    return IP_PACKET_TOO_BIG;
                case 5:
                    return IP_BAD_ROUTE;
                default:
                    return IsNetworkWide(code) ? IP_DEST_NET_UNREACHABLE : IP_DEST_HOST_UNREACHABLE;
            }
        case kTimeExceeded:
            return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
        case kParameterProblem:
            return IP_PARAM_PROBLEM;
        default:
            return std::nullopt;  // redirect, source quench: advice, not failure
    }
}

// Routers may quote as little as the ICMP header; whatever they quote of the payload must match.
bool QuotesRequest(std::span<const uint8_t> quoted, const EchoRequestKey& request) {
    const uint8_t requestType = request.destination.isIpv6 ? kIcmp6EchoRequest : kEchoRequest;
    if (quoted.size() < kIcmpHeaderSize || quoted[0] != requestType ||
        ReadBigEndian16(&quoted[4]) != request.identifier ||
        ReadBigEndian16(&quoted[6]) != request.sequence) {
        return false;
    }
    const std::span<const uint8_t> quotedPayload = quoted.subspan(kIcmpHeaderSize);
    return quotedPayload.size() <= request.payload.size() &&
           std::ranges::equal(quotedPayload, request.payload.first(quotedPayload.size()));
}

// The address that reported an error, as the kernel puts it after sock_extended_err; unknown
// (all zeros) when it is missing or of the other family.
IpAddress OffenderAddress(std::span<const uint8_t> offender, bool ipv6) {
    IpAddress reporter{ipv6, 0, {}};
    if (ipv6) {
        sockaddr_in6 address;
        if (offender.size() >= sizeof(address)) {
            std::memcpy(&address, offender.data(), sizeof(address));
            if (address.sin6_family == AF_INET6)
                reporter.ipv6 = std::to_array(address.sin6_addr.s6_addr);
        }
    } else {
        sockaddr_in address;
        if (offender.size() >= sizeof(address)) {
            std::memcpy(&address, offender.data(), sizeof(address));
            if (address.sin_family == AF_INET) reporter.ipv4 = address.sin_addr.s_addr;
        }
    }
    return reporter;
}

}  // namespace

namespace {

// The one's complement sum of `bytes` as 16-bit words in the machine's byte order, not yet folded
// to 16 bits. The sum does not depend on the order the words are read in (RFC 1071), so eight
// bytes at a time serve as well as two; an odd last byte is padded with a zero byte.
uint64_t UnfoldedSum(std::span<const uint8_t> bytes) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, &bytes[i], sizeof(word));
        sum += (word & 0xFFFFFFFF) + (word >> 32);  // no overflow below 2^32 words
    }
    if (i == bytes.size()) return sum;
    uint64_t tail = 0;
    std::memcpy(&tail, &bytes[i], bytes.size() - i);
    return sum + (tail & 0xFFFFFFFF) + (tail >> 32);
}

uint16_t FinishChecksum(uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    // Words were read in the machine's order; the checksum is read in network order.
    return static_cast<uint16_t>(~ntohs(static_cast<uint16_t>(sum)));
}

}  // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
    return FinishChecksum(UnfoldedSum(bytes));
}

IcmpHeader EchoRequestHeader(uint16_t identifier, uint16_t sequence, uint8_t type) {
    return {type,
            0,
            0,
            0,
            static_cast<uint8_t>(identifier >> 8),
            static_cast<uint8_t>(identifier),
            static_cast<uint8_t>(sequence >> 8),
            static_cast<uint8_t>(sequence)};
}

void SetChecksum(IcmpHeader& header, std::span<const uint8_t> payload) {
    header[2] = header[3] = 0;
    // The header's length is even, so the payload's words line up as in one message.
    const uint16_t checksum = FinishChecksum(UnfoldedSum(header) + UnfoldedSum(payload));
    header[2] = static_cast<uint8_t>(checksum >> 8);
    header[3] = static_cast<uint8_t>(checksum);
}

std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> payload) {
    IcmpHeader header = EchoRequestHeader(identifier, sequence);
    SetChecksum(header, payload);
    std::vector<uint8_t> packet(kIcmpHeaderSize + payload.size());
    std::ranges::copy(header, packet.begin());
    std::ranges::copy(payload, packet.begin() + kIcmpHeaderSize);
    return packet;
}

std::optional<EchoReply> ParseRawEchoReply(std::span<const uint8_t> ipPacket) {
    if (ipPacket.size() < kIpHeaderSize || (ipPacket[0] >> 4) != 4) return std::nullopt;
    const size_t headerSize = static_cast<size_t>(ipPacket[0] & 0x0F) * 4;
    const size_t totalSize = ReadBigEndian16(&ipPacket[2]);
    if (headerSize < kIpHeaderSize || totalSize < headerSize || totalSize > ipPacket.size()) {
        return std::nullopt;
    }
    if (ipPacket[9] != IPPROTO_ICMP) return std::nullopt;
    const std::span<const uint8_t> message = ipPacket.subspan(headerSize, totalSize - headerSize);
    return ReadEchoReply(message, IpAddress::FromIpv4(ReadAddress(&ipPacket[12])), ipPacket[8],
                         Checksum::Verify);
}

std::optional<EchoReply> ParseDatagramEchoReply(std::span<const uint8_t> icmpMessage,
                                                const IpAddress& source, uint8_t ttl) {
    return ReadEchoReply(icmpMessage, source, ttl, Checksum::VerifiedByKernel);
}

bool IsReplyTo(const EchoReply& reply, const EchoRequestKey& request) {
    return reply.source == request.destination && reply.identifier == request.identifier &&
           reply.sequence == request.sequence && std::ranges::equal(reply.payload, request.payload);
}

std::optional<ProbeError> ClassifyQueuedError(std::span<const uint8_t> extendedError,
                                              std::optional<IpAddress> originalDestination,
                                              std::span<const uint8_t> quoted,
                                              const EchoRequestKey& request) {
    sock_extended_err error;
    if (extendedError.size() < sizeof(error) ||
        (originalDestination && *originalDestination != request.destination)) {
        return std::nullopt;
    }
    std::memcpy(&error, extendedError.data(), sizeof(error));

    if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
        // Raised by a send of ours: nothing is quoted, and every failed send empties the queue
        // behind it, so the note is this probe's.
        return ProbeError{StatusForErrno(static_cast<int>(error.ee_errno)), {}};
    }
    const bool ipv6 = request.destination.isIpv6;
    if (error.ee_origin != (ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP) ||
        !QuotesRequest(quoted, request)) {
        return std::nullopt;
    }
    const std::optional<uint32_t> status = ipv6 ? StatusForIcmp6Error(error.ee_type, error.ee_code)
                                                : StatusForIcmpError(error.ee_type, error.ee_code);
    if (!status) return std::nullopt;
    return ProbeError{*status, OffenderAddress(extendedError.subspan(sizeof(error)), ipv6)};
}

uint32_t StatusForErrno(int error) {
    switch (error) {
        case ENETUNREACH:
            return IP_DEST_NET_UNREACHABLE;
        case EHOSTUNREACH:
            return IP_DEST_HOST_UNREACHABLE;
        case EMSGSIZE:
            return IP_PACKET_TOO_BIG;
        case ENOBUFS:
        case ENOMEM:
        case EAGAIN:
            return IP_NO_RESOURCES;
        default:
            return IP_GENERAL_FAILURE;
    }
}

}  // namespace nodrel::platform::icmp
