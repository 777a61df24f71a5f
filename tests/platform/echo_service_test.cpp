#include "echo_service.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "icmp_packet.h"
#include "support/isolated_network.h"

namespace nodrel::platform {

void PrintTo(EchoSocketKind kind, std::ostream* out) {
    *out << (kind == EchoSocketKind::Raw ? "raw socket" : "datagram socket");
}

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);
const Ipv6Address kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const std::vector<uint8_t> kPayload56(56, 'k');

struct Probe {
    uint32_t result;
    ICMP_ECHO_REPLY reply;
    std::vector<uint8_t> echoed;
    uint32_t lastError;
    Clock::duration took;
};

// Through IcmpSendEcho to an IPv4 destination, through Icmp6SendEcho to an IPv6 one.
template <typename Destination>
Probe SendEcho(EchoHandle handle, const Destination& destination, std::span<const uint8_t> payload,
               uint32_t timeout, const IP_OPTION_INFORMATION* options = nullptr,
               size_t dataRoom = SIZE_MAX) {
    std::vector<uint8_t> area(sizeof(ICMP_ECHO_REPLY) + std::min(payload.size(), dataRoom));
    Probe probe{};
    const Clock::time_point start = Clock::now();
    const auto send = [&](auto sendEcho, const auto& to) {
        return sendEcho(handle, to, payload.data(), static_cast<uint16_t>(payload.size()), options,
                        area.data(), static_cast<uint32_t>(area.size()), timeout);
    };
    if constexpr (std::is_same_v<Destination, Ipv6Address>) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(&to.sin6_addr, destination.data(), destination.size());
        probe.result = send(Icmp6SendEcho, to);
    } else {
        probe.result = send(IcmpSendEcho, destination);
    }
    probe.took = Clock::now() - start;
    probe.lastError = GetLastError();
    std::memcpy(&probe.reply, area.data(), sizeof(probe.reply));
    EXPECT_EQ(probe.reply.Data, area.data() + sizeof(ICMP_ECHO_REPLY));
    EXPECT_LE(sizeof(ICMP_ECHO_REPLY) + probe.reply.DataSize, area.size());
    const uint8_t* data = area.data() + sizeof(ICMP_ECHO_REPLY);
    probe.echoed.assign(data, data + probe.reply.DataSize);
    return probe;
}

class ScopedHandle {
public:
    explicit ScopedHandle(EchoSocketKind kind) : FHandle(IcmpCreateFileOfKind(kind)) {}
    explicit ScopedHandle(EchoHandle handle) : FHandle(handle) {}
    ~ScopedHandle() { IcmpCloseHandle(FHandle); }
    operator EchoHandle() const { return FHandle; }

private:
    EchoHandle FHandle;
};

// A raw ICMP socket of the test's own: sees the requests on loopback and forges errors.
class LoopbackWire {
public:
    LoopbackWire() : FSocket(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {
        const timeval wait{5, 0};
        setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    }
    ~LoopbackWire() { close(FSocket); }

    // The next echo request seen on the wire, whole IP packet.
    std::optional<std::vector<uint8_t>> NextRequest() {
        std::vector<uint8_t> packet(65536);
        for (;;) {
            const ssize_t size = recv(FSocket, packet.data(), packet.size(), 0);
            if (size < 0) return std::nullopt;
            const size_t headerSize = (packet[0] & 0x0F) * 4u;
            if (static_cast<size_t>(size) > headerSize &&
                packet[headerSize] == icmp::kEchoRequest) {
                packet.resize(static_cast<size_t>(size));
                return packet;
            }
        }
    }

    // Sends 127.0.0.1 an ICMP error quoting `request` (its IP header and ICMP header).
    void SendError(std::vector<uint8_t> request, uint8_t type, uint8_t code) {
        const size_t quoted = (request[0] & 0x0F) * 4u + icmp::kIcmpHeaderSize;
        std::vector<uint8_t> message{type, code, 0, 0, 0, 0, 0, 0};
        message.insert(message.end(), request.begin(), request.begin() + quoted);
        Send(message);
    }

    // Sends 127.0.0.1 the echo reply to `request`, as the host would answer it.
    void SendReply(const std::vector<uint8_t>& request) {
        std::vector<uint8_t> message(request.begin() + (request[0] & 0x0F) * 4u, request.end());
        message[0] = icmp::kEchoReply;
        message[2] = message[3] = 0;
        Send(message);
    }

private:
    void Send(std::vector<uint8_t> message) {
        const uint16_t checksum = icmp::InternetChecksum(message);
        message[2] = static_cast<uint8_t>(checksum >> 8);
        message[3] = static_cast<uint8_t>(checksum);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = kLoopback;
        ASSERT_EQ(sendto(FSocket, message.data(), message.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
                  static_cast<ssize_t>(message.size()));
    }

    int FSocket;
};

void SetLoopbackMtu(int mtu) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    request.ifr_mtu = mtu;
    ASSERT_EQ(ioctl(fd, SIOCSIFMTU, &request), 0);
    close(fd);
}

std::string KindName(const ::testing::TestParamInfo<EchoSocketKind>& kind) {
    return kind.param == EchoSocketKind::Raw ? "Raw" : "Datagram";
}

// Each case runs in a private namespace with only loopback, once per socket kind.
class EchoOverLoopback : public ::testing::TestWithParam<EchoSocketKind> {
protected:
    void SetUp() override {
        NODREL_REQUIRE_ISOLATED_NETWORK();
        if (GetParam() == EchoSocketKind::Datagram) {
            ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
        } else if (!testing::CanOpenRawIcmpSocket()) {
            GTEST_SKIP() << "raw ICMP sockets need root or CAP_NET_RAW";
        }
        handle.emplace(Open(GetParam()));
        ASSERT_NE(*handle, INVALID_ECHO_HANDLE);
        ASSERT_EQ(IcmpSocketKind(*handle), GetParam());
    }

    // The datagram sockets of both families are governed by the one ping_group_range.
    virtual EchoHandle Open(EchoSocketKind kind) { return IcmpCreateFileOfKind(kind); }

    std::optional<ScopedHandle> handle;
};

TEST_P(EchoOverLoopback, LoopbackAnswersWithTheEchoedData) {
    const Probe probe = SendEcho(*handle, kLoopback, kPayload56, 2000);
    EXPECT_EQ(probe.result, 1u);
    EXPECT_EQ(probe.reply.Status, IP_SUCCESS);
    EXPECT_EQ(probe.lastError, IP_SUCCESS);
    EXPECT_EQ(probe.reply.Address, kLoopback);
    EXPECT_EQ(probe.echoed, kPayload56);
    EXPECT_LE(probe.reply.RoundTripTime, 2000u);
    EXPECT_EQ(probe.reply.Options.Ttl, 64);

    const Probe empty = SendEcho(*handle, kLoopback, {}, 2000);
    EXPECT_EQ(empty.result, 1u);
    EXPECT_EQ(empty.reply.DataSize, 0);

    // Data cut to the room the caller gave.
    const Probe cut = SendEcho(*handle, kLoopback, kPayload56, 2000, nullptr, 10);
    EXPECT_EQ(cut.result, 1u);
    EXPECT_EQ(cut.echoed, std::vector<uint8_t>(kPayload56.begin(), kPayload56.begin() + 10));

    // A larger request than any before on the handle.
    std::vector<uint8_t> larger(1400);
    for (size_t i = 0; i < larger.size(); ++i) larger[i] = static_cast<uint8_t>(i % 251);
    EXPECT_EQ(SendEcho(*handle, kLoopback, larger, 2000).echoed, larger);
}

TEST_P(EchoOverLoopback, ZeroTimeoutStillSeesAReplyAlreadyQueued) {
    int answered = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        answered += static_cast<int>(SendEcho(*handle, kLoopback, kPayload56, 0).result);
    }
    EXPECT_GT(answered, 0);
}

TEST_P(EchoOverLoopback, RequestGoesOutWithTheGivenPayloadTtlAndFlags) {
    LoopbackWire wire;
    IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<uint8_t>(300);
    for (const size_t size : {56u, 10u, 0u}) {
        options.Flags = size == 10 ? 0x02 : 0;
        const std::vector<uint8_t> payload(kPayload56.begin(), kPayload56.begin() + size);
        EXPECT_EQ(SendEcho(*handle, kLoopback, payload, 2000, &options).result, 1u);

        const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
        ASSERT_TRUE(request);
        EXPECT_EQ((*request)[8], 44) << "TTL";
        EXPECT_EQ(((*request)[6] & 0x40) != 0, size == 10) << "don't fragment";
        const std::span<const uint8_t> message = std::span(*request).subspan(20);
        EXPECT_EQ(icmp::InternetChecksum(message), 0);
        EXPECT_EQ(std::vector<uint8_t>(message.begin() + 8, message.end()), payload);
    }
}

TEST_P(EchoOverLoopback, DontFragmentRefusesWhatTheLinkCannotCarry) {
    SetLoopbackMtu(1500);
    const std::vector<uint8_t> payload(3000, 'f');
    IP_OPTION_INFORMATION options{};
    options.Ttl = 64;
    options.Flags = 0x02;
    EXPECT_EQ(SendEcho(*handle, kLoopback, payload, 2000, &options).reply.Status, 11009u);
    // The refusal also left a note on the socket's error queue: it must not decide the next probe.
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    EXPECT_EQ(SendEcho(*handle, kLoopback, kPayload56, 200).reply.Status, 11010u);
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0"));
    options.Flags = 0;
    const Probe fragmented = SendEcho(*handle, kLoopback, payload, 2000, &options);
    EXPECT_EQ(fragmented.result, 1u);
    EXPECT_EQ(fragmented.echoed, payload);
}

TEST_P(EchoOverLoopback, LargestPayloadGoesAndOneByteMoreIsRefused) {
    const std::vector<uint8_t> largest(icmp::kMaxEchoPayload, 'L');
    const Probe probe = SendEcho(*handle, kLoopback, largest, 2000);
    EXPECT_EQ(probe.result, 1u);
    EXPECT_EQ(probe.echoed, largest);

    const std::vector<uint8_t> tooLarge(icmp::kMaxEchoPayload + 1, 'L');
    const Probe refused = SendEcho(*handle, kLoopback, tooLarge, 2000);
    EXPECT_EQ(refused.result, 0u);
    EXPECT_EQ(refused.reply.Status, IP_PACKET_TOO_BIG);
    EXPECT_LT(refused.took, 1s);
}

TEST_P(EchoOverLoopback, SilentHostTimesOut) {
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    const Probe probe = SendEcho(*handle, kLoopback, kPayload56, 300);
    EXPECT_EQ(probe.result, 0u);
    EXPECT_EQ(probe.reply.Status, IP_REQ_TIMED_OUT);
    EXPECT_EQ(probe.lastError, IP_REQ_TIMED_OUT);
    EXPECT_GE(probe.took, 250ms);
    EXPECT_LT(probe.took, 5s);
}

TEST_P(EchoOverLoopback, UnroutedAddressFailsPromptly) {
    const Probe probe = SendEcho(*handle, htonl(0xC0000201), kPayload56, 10000);  // 192.0.2.1
    EXPECT_EQ(probe.result, 0u);
    EXPECT_EQ(probe.reply.Status, IP_DEST_NET_UNREACHABLE);
    EXPECT_LT(probe.took, 5s);
}

TEST_P(EchoOverLoopback, IcmpErrorQuotingTheRequestEndsTheWait) {
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    struct Case {
        uint8_t type, code;
        bool corruptSequence;
        uint32_t status;
    };
    for (const Case c :
         {Case{3, 1, false, IP_DEST_HOST_UNREACHABLE}, Case{11, 0, false, IP_TTL_EXPIRED_TRANSIT},
          Case{5, 1, false, IP_REQ_TIMED_OUT},  // a redirect is no failure
          Case{3, 1, true, IP_REQ_TIMED_OUT}}) {
        LoopbackWire wire;
        std::thread router([&] {
            std::optional<std::vector<uint8_t>> request = wire.NextRequest();
            ASSERT_TRUE(request);
            if (c.corruptSequence) (*request)[20 + 7] ^= 1;
            wire.SendError(*request, c.type, c.code);
        });
        const uint32_t timeout = c.status == IP_REQ_TIMED_OUT ? 500 : 10000;
        const Probe probe = SendEcho(*handle, kLoopback, kPayload56, timeout);
        router.join();
        EXPECT_EQ(probe.result, 0u);
        EXPECT_EQ(probe.reply.Status, c.status) << int(c.type) << "/" << int(c.code);
        EXPECT_LT(probe.took, 5s);
        if (c.status != IP_REQ_TIMED_OUT) {
            EXPECT_EQ(probe.reply.Address, kLoopback);
        }
    }
}

TEST_P(EchoOverLoopback, RepliesDifferingOnlyInIdentifierOrSequenceAreNotOurs) {
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    LoopbackWire wire;
    std::thread host([&] {
        const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
        ASSERT_TRUE(request);
        for (const size_t field : {20 + 4, 20 + 6}) {  // the identifier, the sequence number
            std::vector<uint8_t> other = *request;
            other[field] ^= 1;
            wire.SendReply(other);
        }
    });
    const Probe probe = SendEcho(*handle, kLoopback, kPayload56, 500);
    host.join();
    EXPECT_EQ(probe.reply.Status, IP_REQ_TIMED_OUT);
}

TEST_P(EchoOverLoopback, LateErrorDoesNotSpoilTheNextProbe) {
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    LoopbackWire wire;
    EXPECT_EQ(SendEcho(*handle, kLoopback, kPayload56, 100).reply.Status, IP_REQ_TIMED_OUT);
    const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
    ASSERT_TRUE(request);
    wire.SendError(*request, 3, 1);

    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0"));
    const Probe probe = SendEcho(*handle, kLoopback, kPayload56, 2000);
    EXPECT_EQ(probe.result, 1u);
    EXPECT_EQ(probe.reply.Status, IP_SUCCESS);
}

// Leftovers are emptied only once they show (a failed send, a read that reports a pending
// error): an error and a reply that belong to an earlier probe and arrive while a later one
// waits are passed over, and the probe after that is not failed by what was left behind either.
TEST_P(EchoOverLoopback, LeftoversArrivingDuringALaterProbeAreIgnored) {
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
    LoopbackWire wire;
    EXPECT_EQ(SendEcho(*handle, kLoopback, kPayload56, 100).reply.Status, IP_REQ_TIMED_OUT);
    const std::optional<std::vector<uint8_t>> earlier = wire.NextRequest();
    ASSERT_TRUE(earlier);

    const std::vector<uint8_t> payload(56, 'n');
    std::thread host([&] {
        const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
        ASSERT_TRUE(request);
        wire.SendError(*earlier, 3, 1);
        wire.SendError(*earlier, 11, 0);
        wire.SendReply(*earlier);
        wire.SendReply(*request);
    });
    const Probe answered = SendEcho(*handle, kLoopback, payload, 5000);
    host.join();
    EXPECT_EQ(answered.result, 1u);
    EXPECT_EQ(answered.reply.Status, IP_SUCCESS);
    EXPECT_EQ(answered.echoed, payload);

    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", "0"));
    for (int i = 0; i < 3; ++i) {
        const Probe next = SendEcho(*handle, kLoopback, kPayload56, 2000);
        EXPECT_EQ(next.result, 1u);
        EXPECT_EQ(next.reply.Status, IP_SUCCESS);
    }
}

TEST_P(EchoOverLoopback, UnusableRequestsGetAStatusWithoutWaiting) {
    const uint8_t* noData = nullptr;
    std::vector<uint8_t> area(sizeof(ICMP_ECHO_REPLY) + 8);
    EXPECT_EQ(IcmpSendEcho(*handle, kLoopback, noData, 8, nullptr, area.data(),
                           static_cast<uint32_t>(area.size()), 1000),
              0u);
    EXPECT_EQ(GetLastError(), IP_GENERAL_FAILURE);

    EXPECT_EQ(SendEcho(*handle, 0, kPayload56, 1000).reply.Status, IP_BAD_DESTINATION);

    IP_OPTION_INFORMATION missingOptionData{};
    missingOptionData.Ttl = 64;
    missingOptionData.OptionsSize = 4;
    EXPECT_EQ(SendEcho(*handle, kLoopback, kPayload56, 1000, &missingOptionData).reply.Status,
              IP_BAD_OPTION);

    IP_OPTION_INFORMATION zeroTtl{};
    const Probe probe = SendEcho(*handle, kLoopback, kPayload56, 10000, &zeroTtl);
    EXPECT_EQ(probe.result, 0u);
    EXPECT_NE(probe.reply.Status, IP_SUCCESS);
    EXPECT_LT(probe.took, 5s);
}

INSTANTIATE_TEST_SUITE_P(BothSocketKinds, EchoOverLoopback,
                         ::testing::Values(EchoSocketKind::Datagram, EchoSocketKind::Raw),
                         KindName);

// A raw ICMPv6 socket of the test's own, sending from `source`: sees the echo requests to ::1 and
// forges replies and errors to ::1. The kernel fills in every ICMPv6 checksum.
class LoopbackWire6 {
public:
    explicit LoopbackWire6(const char* source = "::1")
        : FSocket(socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6)) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(icmp::kIcmp6EchoRequest, &filter);
        setsockopt(FSocket, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter));
        const timeval wait{5, 0};
        setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
        // Free to send from an address this host does not have.
        const int freeBind = 1;
        setsockopt(FSocket, IPPROTO_IPV6, IPV6_FREEBIND, &freeBind, sizeof(freeBind));
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        inet_pton(AF_INET6, source, &local.sin6_addr);
        EXPECT_EQ(bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
    }
    ~LoopbackWire6() { close(FSocket); }

    // The ICMPv6 message of the next echo request seen on the wire.
    std::optional<std::vector<uint8_t>> NextRequest() {
        std::vector<uint8_t> message(65536);
        const ssize_t size = recv(FSocket, message.data(), message.size(), 0);
        if (size < static_cast<ssize_t>(icmp::kIcmpHeaderSize)) return std::nullopt;
        message.resize(static_cast<size_t>(size));
        return message;
    }

    // The echo reply to `request`, its identifier changed by `identifierFlip`.
    void SendReply(std::vector<uint8_t> request, uint8_t identifierFlip = 0) {
        request[0] = icmp::kIcmp6EchoReply;
        request[5] ^= identifierFlip;
        Send(request);
    }

    // An ICMPv6 error quoting `request` behind the IPv6 header it went out with.
    void SendError(const std::vector<uint8_t>& request, uint8_t type, uint8_t code) {
        // An MTU of 1280, then the IPv6 header: version, a payload shorter than 256 bytes,
        // next header ICMPv6, hop limit 64, from ::1 to ::1.
        std::vector<uint8_t> message{type, code, 0, 0, 0, 0, 0x05, 0x00, 0x60, 0, 0, 0, 0};
        message.insert(message.end(), {static_cast<uint8_t>(request.size()), IPPROTO_ICMPV6, 64});
        message.insert(message.end(), kLoopback6.begin(), kLoopback6.end());
        message.insert(message.end(), kLoopback6.begin(), kLoopback6.end());
        message.insert(message.end(), request.begin(), request.end());
        Send(message);
    }

private:
    void Send(const std::vector<uint8_t>& message) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(&to.sin6_addr, kLoopback6.data(), kLoopback6.size());
        ASSERT_EQ(sendto(FSocket, message.data(), message.size(), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof(to)),
                  static_cast<ssize_t>(message.size()));
    }

    int FSocket;
};

class Echo6OverLoopback : public EchoOverLoopback {
protected:
    EchoHandle Open(EchoSocketKind kind) override { return Icmp6CreateFileOfKind(kind); }

    void SilenceEchoes() {
        ASSERT_TRUE(testing::WriteSysctl("net/ipv6/icmp/echo_ignore_all", "1"));
    }
};

TEST_P(Echo6OverLoopback, LoopbackAnswersOverIcmpv6) {
    LoopbackWire6 wire;
    const Probe probe = SendEcho(*handle, kLoopback6, kPayload56, 2000);
    EXPECT_EQ(probe.result, 1u);
    EXPECT_EQ(probe.reply.Status, IP_SUCCESS);
    EXPECT_EQ(probe.reply.Address6, kLoopback6);
    EXPECT_EQ(probe.reply.Address, 0u);
    EXPECT_EQ(probe.reply.Options.Ttl, 64);
    EXPECT_EQ(probe.echoed, kPayload56);

    const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ((*request)[0], 128);
    EXPECT_EQ(std::vector<uint8_t>(request->begin() + 8, request->end()), kPayload56);
    // An IPv4 destination has no place on this handle.
    EXPECT_EQ(SendEcho(*handle, kLoopback, kPayload56, 1000).reply.Status, IP_GENERAL_FAILURE);
}

// Errors quoting our request end the wait with their status; one quoting another request leaves
// the probe to time out at the silent host.
TEST_P(Echo6OverLoopback, IcmpErrorQuotingTheRequestEndsTheWait) {
    SilenceEchoes();
    struct Case {
        uint8_t type, code;
        bool corruptSequence;
        uint32_t status;
    };
    for (const Case c :
         {Case{1, 0, false, 11002}, Case{1, 3, false, 11003}, Case{1, 1, false, 11046},
          Case{1, 4, false, 11005}, Case{2, 0, false, 11009}, Case{3, 0, false, 11013},
          Case{4, 0, false, 11015}, Case{1, 3, true, 11010}}) {
        LoopbackWire6 wire;
        std::thread router([&] {
            std::optional<std::vector<uint8_t>> request = wire.NextRequest();
            ASSERT_TRUE(request);
            if (c.corruptSequence) (*request)[7] ^= 1;
            wire.SendError(*request, c.type, c.code);
        });
        const Probe probe =
            SendEcho(*handle, kLoopback6, kPayload56, c.status == 11010 ? 300 : 10000);
        router.join();
        EXPECT_EQ(probe.result, 0u);
        EXPECT_EQ(probe.reply.Status, c.status) << int(c.type) << "/" << int(c.code);
        EXPECT_GE(probe.took, c.status == 11010 ? 250ms : 0ms);
        EXPECT_LT(probe.took, 5s);
        if (c.status != 11010) {
            EXPECT_EQ(probe.reply.Address6, kLoopback6);
        }
    }
}

TEST_P(Echo6OverLoopback, StaleForeignAndMisnumberedRepliesAreIgnored) {
    SilenceEchoes();
    LoopbackWire6 wire;
    LoopbackWire6 foreignHost("2001:db8::2");
    EXPECT_EQ(SendEcho(*handle, kLoopback6, kPayload56, 100).reply.Status, IP_REQ_TIMED_OUT);
    const std::optional<std::vector<uint8_t>> earlier = wire.NextRequest();
    ASSERT_TRUE(earlier);

    const std::vector<uint8_t> payload(56, 'n');
    std::thread host([&] {
        const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
        ASSERT_TRUE(request);
        wire.SendReply(*earlier);
        wire.SendReply(*request, 1);
        foreignHost.SendReply(*request);
    });
    EXPECT_EQ(SendEcho(*handle, kLoopback6, payload, 500).reply.Status, IP_REQ_TIMED_OUT);
    host.join();

    // The same forged answer, genuine this time, is taken.
    std::thread genuineHost([&] {
        const std::optional<std::vector<uint8_t>> request = wire.NextRequest();
        ASSERT_TRUE(request);
        wire.SendReply(*request);
    });
    const Probe answered = SendEcho(*handle, kLoopback6, payload, 5000);
    genuineHost.join();
    EXPECT_EQ(answered.reply.Status, IP_SUCCESS);
    EXPECT_EQ(answered.echoed, payload);
}

INSTANTIATE_TEST_SUITE_P(BothSocketKinds, Echo6OverLoopback,
                         ::testing::Values(EchoSocketKind::Datagram, EchoSocketKind::Raw),
                         KindName);

TEST(EchoService, AutomaticKindFallsBackToRawWhereDatagramIsRefused) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    if (!testing::CanOpenRawIcmpSocket()) GTEST_SKIP() << "raw ICMP sockets need root";
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "1 0"));
    EXPECT_EQ(IcmpSocketKind(ScopedHandle(EchoSocketKind::Automatic)), EchoSocketKind::Raw);
    EXPECT_EQ(ScopedHandle(EchoSocketKind::Datagram), INVALID_ECHO_HANDLE);
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    EXPECT_EQ(IcmpSocketKind(ScopedHandle(EchoSocketKind::Automatic)), EchoSocketKind::Datagram);
}

TEST(EchoService, RawHandlesOnTwoThreadsCountOnlyTheirOwnReplies) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    if (!testing::CanOpenRawIcmpSocket()) GTEST_SKIP() << "raw ICMP sockets need root";
    auto pingRepeatedly = [](uint8_t fill, int& answered) {
        const ScopedHandle handle(EchoSocketKind::Raw);  // opened here, used here
        const std::vector<uint8_t> payload(56, fill);
        for (int i = 0; i < 50; ++i) {
            const Probe probe = SendEcho(handle, kLoopback, payload, 2000);
            answered += probe.result == 1 && probe.echoed == payload;
        }
    };
    int answeredA = 0;
    int answeredB = 0;
    std::thread a(pingRepeatedly, 'a', std::ref(answeredA));
    std::thread b(pingRepeatedly, 'b', std::ref(answeredB));
    a.join();
    b.join();
    EXPECT_EQ(answeredA, 50);
    EXPECT_EQ(answeredB, 50);
}

TEST(EchoService, HandleMadeOnOneThreadProbesOnAnother) {
    NODREL_REQUIRE_ISOLATED_NETWORK();
    ASSERT_TRUE(testing::WriteSysctl("net/ipv4/ping_group_range", "0 2147483647"));
    const EchoHandle handle = IcmpCreateFile();
    ASSERT_NE(handle, INVALID_ECHO_HANDLE);
    uint32_t result = 0;
    std::thread([&] { result = SendEcho(handle, kLoopback, kPayload56, 2000).result; }).join();
    EXPECT_EQ(result, 1u);
    EXPECT_TRUE(IcmpCloseHandle(handle));
}

TEST(EchoService, BadHandlesAndBuffersAreRefused) {
    std::vector<uint8_t> area(sizeof(ICMP_ECHO_REPLY), 0xAA);
    const auto untouched = area;
    EXPECT_EQ(IcmpSendEcho(INVALID_ECHO_HANDLE, kLoopback, nullptr, 0, nullptr, area.data(),
                           sizeof(ICMP_ECHO_REPLY) - 1, 1000),
              0u);
    EXPECT_EQ(GetLastError(), IP_BUF_TOO_SMALL);
    EXPECT_EQ(area, untouched);
    EXPECT_EQ(IcmpSendEcho(INVALID_ECHO_HANDLE, kLoopback, nullptr, 0, nullptr, nullptr, 1000, 0),
              0u);
    EXPECT_EQ(GetLastError(), IP_GENERAL_FAILURE);

    for (const EchoHandle bogus : {INVALID_ECHO_HANDLE, EchoHandle{0}, EchoHandle{123456789}}) {
        const Probe probe = SendEcho(bogus, kLoopback, kPayload56, 1000);
        EXPECT_EQ(probe.result, 0u);
        EXPECT_EQ(probe.reply.Status, IP_GENERAL_FAILURE);
        EXPECT_EQ(probe.lastError, IP_GENERAL_FAILURE);
        EXPECT_FALSE(IcmpCloseHandle(bogus));
        EXPECT_EQ(IcmpSocketKind(bogus), EchoSocketKind::Automatic);
    }
    // The last error belongs to the thread that made the call.
    uint32_t otherThreadError = 1;
    std::thread([&] { otherThreadError = GetLastError(); }).join();
    EXPECT_EQ(otherThreadError, IP_SUCCESS);
}

}  // namespace
}  // namespace nodrel::platform
