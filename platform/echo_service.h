#pragma once

// The ICMP echo service: one call sends one echo request, ICMP to an IPv4 host or ICMPv6 to an
// IPv6 one, and waits a bounded time for its reply. It mirrors the classic echo interface (create,
// send, close, with a handle of each family), so the requester above it keeps one contract
// whatever socket the service uses underneath.

#include <netinet/in.h>

#include <cstdint>

#include "echo_types.h"
#include "ip_address.h"

namespace nodrel::platform {

// Header of a reply record; the echoed bytes follow it in the caller's reply area.
struct ICMP_ECHO_REPLY {
    uint32_t Address;        // IPv4 address of the replying host, network byte order
    uint32_t Status;         // IP_SUCCESS or one of the IP status codes of echo_types.h
    uint32_t RoundTripTime;  // milliseconds
    uint16_t DataSize;
    uint16_t Reserved;
    void* Data;  // the echoed bytes inside the reply area
    IP_OPTION_INFORMATION Options;
    Ipv6Address Address6;  // the replying host when it is an IPv6 one (Address is 0 then)
};

using EchoHandle = intptr_t;
inline constexpr EchoHandle INVALID_ECHO_HANDLE = -1;

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

// IcmpSendEcho for a handle from Icmp6CreateFile and an IPv6 destination, whose sin6_scope_id
// is the zone of a link-local one (IP_DEST_SCOPE_MISMATCH without). Of the options, Ttl is the
// hop limit, Tos the traffic class and Flags 0x02 forbids fragmenting; IPv6 takes no IP options
// (IP_BAD_OPTION).
uint32_t Icmp6SendEcho(EchoHandle handle, const sockaddr_in6& destination, const void* requestData,
                       uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                       void* replyBuffer, uint32_t replySize, uint32_t timeout);

// The code left by the last echo-service call on the calling thread: 0 after a reply, otherwise an
// IP status code.
uint32_t GetLastError();

// The round trip of the calling thread's last echo request in microseconds: its reply's
// RoundTripTime, timed finer than whole milliseconds; 0 without an answer.
uint32_t LastRoundTripMicroseconds();

}  // namespace nodrel::platform
