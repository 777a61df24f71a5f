#pragma once

// The ICMP echo service: one call sends one echo request, ICMP to an IPv4 host or ICMPv6 to an
// IPv6 one, and waits a bounded time for its reply. It mirrors the classic echo interface (create,
// send, close, with a handle of each family), so the requester above it keeps one contract
// whatever socket the service uses underneath.

#include <cstdint>

#include "ip_address.h"

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
inline constexpr uint32_t IP_GENERAL_FAILURE = 11050;

struct IP_OPTION_INFORMATION {
    uint8_t Ttl;
    uint8_t Tos;
    uint8_t Flags;
    uint8_t OptionsSize;
    uint8_t* OptionsData;
};

// Header of a reply record; the echoed bytes follow it in the caller's reply area.
struct ICMP_ECHO_REPLY {
    uint32_t Address;        // IPv4 address of the replying host, network byte order
    uint32_t Status;         // IP_SUCCESS or one of the IP status codes above
    uint32_t RoundTripTime;  // milliseconds
    uint16_t DataSize;
    uint16_t Reserved;
    void* Data;  // the echoed bytes inside the reply area
    IP_OPTION_INFORMATION Options;
    Ipv6Address Address6;  // the replying host when it is an IPv6 one (Address is 0 then)
};

using EchoHandle = intptr_t;
inline constexpr EchoHandle INVALID_ECHO_HANDLE = -1;

enum class EchoSocketKind {
    Automatic,  // the unprivileged datagram ICMP socket, else a raw socket
    Datagram,
    Raw,
};

// Opens an echo handle; INVALID_ECHO_HANDLE when no ICMP socket can be had (GetLastError says why).
EchoHandle IcmpCreateFile();
EchoHandle IcmpCreateFileOfKind(EchoSocketKind kind);
// The same for ICMPv6 echo requests to IPv6 hosts.
EchoHandle Icmp6CreateFile();
EchoHandle Icmp6CreateFileOfKind(EchoSocketKind kind);

// The socket kind behind an open handle (Datagram or Raw).
EchoSocketKind IcmpSocketKind(EchoHandle handle);

bool IcmpCloseHandle(EchoHandle handle);

// Sends one echo request to `destination` (network byte order) and waits at most about `timeout`
// milliseconds. Returns the number of reply records stored in `replyBuffer` (0 or 1). On every
// outcome writes the first ICMP_ECHO_REPLY of `replyBuffer` (when it has room for one), with Status
// IP_SUCCESS exactly when the echo reply from `destination` arrived.
uint32_t IcmpSendEcho(EchoHandle handle, uint32_t destination, const void* requestData,
                      uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                      void* replyBuffer, uint32_t replySize, uint32_t timeout);

// IcmpSendEcho for a handle from Icmp6CreateFile and an IPv6 destination. Of the options, Ttl is
// the hop limit, Tos the traffic class and Flags 0x02 forbids fragmenting; IPv6 takes no IP
// options (IP_BAD_OPTION).
uint32_t Icmp6SendEcho(EchoHandle handle, const Ipv6Address& destination, const void* requestData,
                       uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                       void* replyBuffer, uint32_t replySize, uint32_t timeout);

// The code left by the last echo-service call on the calling thread: 0 after a reply, otherwise an
// IP status code.
uint32_t GetLastError();

}  // namespace nodrel::platform
