#pragma once

// What the echo service, its sockets and the packet reader share: the IP status codes of a
// probe's outcome, the options record of a request and the kinds of ICMP socket.

#include <cstdint>

namespace nodrel::platform {

// IP status codes written into ICMP_ECHO_REPLY::Status.
inline constexpr uint32_t IP_SUCCESS = 0;
inline constexpr uint32_t IP_BUF_TOO_SMALL = 11001;
inline constexpr uint32_t IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr uint32_t IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr uint32_t IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr uint32_t IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr uint32_t IP_NO_RESOURCES = 11006;
inline constexpr uint32_t IP_BAD_OPTION = 11007;
inline constexpr uint32_t IP_PACKET_TOO_BIG = 11009;
inline constexpr uint32_t IP_REQ_TIMED_OUT = 11010;
inline constexpr uint32_t IP_BAD_ROUTE = 11012;
inline constexpr uint32_t IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr uint32_t IP_TTL_EXPIRED_REASSEM = 11014;
inline constexpr uint32_t IP_PARAM_PROBLEM = 11015;
inline constexpr uint32_t IP_BAD_DESTINATION = 11018;
// A link-local destination without a zone: which link it is on is not known.
inline constexpr uint32_t IP_DEST_SCOPE_MISMATCH = 11045;
inline constexpr uint32_t IP_GENERAL_FAILURE = 11050;

struct IP_OPTION_INFORMATION {
    uint8_t Ttl;
    uint8_t Tos;
    uint8_t Flags;
    uint8_t OptionsSize;
    uint8_t* OptionsData;
};

enum class EchoSocketKind {
    Automatic,  // the unprivileged datagram ICMP socket, else a raw socket
    Datagram,
    Raw,
};

}  // namespace nodrel::platform
