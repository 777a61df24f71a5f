#include "icmp_packet.h"

#include <gtest/gtest.h>
#include <linux/errqueue.h>
#include <netinet/in.h>

#include <cstring>

#include "echo_service.h"

namespace nodrel::platform::icmp {
namespace {

const IpAddress kHost = IpAddress::FromIpv4(htonl(0xC0000207));  // 192.0.2.7
const std::vector<uint8_t> kPayload{'n', 'o', 'd', 'r', 'e', 'l'};
const EchoRequestKey kRequest{kHost, 0x1234, 7, kPayload};

// The reply the host would send, inside an IPv4 header with `ipOptions` extra header bytes.
std::vector<uint8_t> RawReply(size_t ipOptions = 0) {
    std::vector<uint8_t> message = BuildEchoRequest(0x1234, 7, kPayload);
    message[0] = kEchoReply;
    message[2] = message[3] = 0;
    const uint16_t checksum = InternetChecksum(message);
    message[2] = static_cast<uint8_t>(checksum >> 8);
    message[3] = static_cast<uint8_t>(checksum);
    const size_t headerSize = kIpHeaderSize + ipOptions;
    std::vector<uint8_t> packet(headerSize);
    packet[0] = static_cast<uint8_t>(0x40 | headerSize / 4);
    packet[2] = static_cast<uint8_t>((headerSize + message.size()) >> 8);
    packet[3] = static_cast<uint8_t>(headerSize + message.size());
    packet[8] = 57;
    packet[9] = IPPROTO_ICMP;
    std::memcpy(&packet[12], &kHost.ipv4, sizeof(kHost.ipv4));
    packet.insert(packet.end(), message.begin(), message.end());
    return packet;
}

TEST(IcmpPacket, RawReplyIsReadPastIpOptionsAndRejectedWhenDamaged) {
    for (const size_t ipOptions : {0u, 8u}) {
        const std::vector<uint8_t> packet = RawReply(ipOptions);
        const std::optional<EchoReply> reply = ParseRawEchoReply(packet);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->ttl, 57);
        EXPECT_TRUE(IsReplyTo(*reply, kRequest));
    }
    std::vector<uint8_t> badChecksum = RawReply();
    badChecksum.back() ^= 1;
    EXPECT_FALSE(ParseRawEchoReply(badChecksum));
    std::vector<uint8_t> cut = RawReply();
    cut.pop_back();  // shorter than its IP total length says
    EXPECT_FALSE(ParseRawEchoReply(cut));

    const std::vector<uint8_t> packet = RawReply();
    const std::optional<EchoReply> reply = ParseRawEchoReply(packet);
    EchoRequestKey other = kRequest;
    other.destination = IpAddress::FromIpv4(htonl(0xC0000208));
    EXPECT_FALSE(IsReplyTo(*reply, other));
    other = kRequest;
    other.payload = std::span(kPayload).first(5);
    EXPECT_FALSE(IsReplyTo(*reply, other));
    other = kRequest;
    other.identifier = 0x1235;
    EXPECT_FALSE(IsReplyTo(*reply, other));
    other = kRequest;
    other.sequence = 8;
    EXPECT_FALSE(IsReplyTo(*reply, other));
}

TEST(IcmpPacket, ChecksumIsTheOnesComplementOfTheWordSum) {
    const std::vector<uint8_t> rfc1071{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(rfc1071), 0x220d);
    std::vector<uint8_t> longer = rfc1071;
    longer.push_back(0x01);  // an odd byte counts as the high byte of a word
    EXPECT_EQ(InternetChecksum(longer), 0x210d);
    longer.back() = 0x00;
    longer.push_back(0x03);
    EXPECT_EQ(InternetChecksum(longer), 0x220a);
    EXPECT_EQ(InternetChecksum(std::vector<uint8_t>(1, 0x01)), 0xfeff);
    EXPECT_EQ(InternetChecksum(std::vector<uint8_t>(12, 0xff)), 0x0000);  // carries wrap around
    EXPECT_EQ(InternetChecksum({}), 0xffff);
}

TEST(IcmpPacket, RequestHeaderCarriesTheChecksumOfTheWholeMessage) {
    for (const size_t size : {0u, 1u, 6u, 7u, 56u}) {
        const std::vector<uint8_t> payload(size, 'p');
        IcmpHeader header = EchoRequestHeader(0x1234, 0xABCD);
        EXPECT_EQ(header, (IcmpHeader{8, 0, 0, 0, 0x12, 0x34, 0xAB, 0xCD}));
        SetChecksum(header, payload);
        std::vector<uint8_t> message(header.begin(), header.end());
        message.resize(header.size() + size, 'p');
        EXPECT_EQ(InternetChecksum(message), 0) << size << " bytes of payload";
        EXPECT_EQ(BuildEchoRequest(0x1234, 0xABCD, payload), message);
    }
}

TEST(IcmpPacket, DatagramReplyIsTakenWithTheKernelsChecksumCheck) {
    // The kernel hands a datagram ICMP socket only messages with a verified checksum.
    std::vector<uint8_t> message = BuildEchoRequest(0x1234, 7, kPayload);
    message[0] = kEchoReply;
    const std::optional<EchoReply> reply = ParseDatagramEchoReply(message, kHost, 61);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ttl, 61);
    EXPECT_TRUE(IsReplyTo(*reply, kRequest));
    message[0] = kEchoRequest;
    EXPECT_FALSE(ParseDatagramEchoReply(message, kHost, 61));
    EXPECT_FALSE(ParseDatagramEchoReply(std::span(message).first(7), kHost, 61));
}

std::vector<uint8_t> ExtendedError(uint8_t origin, uint8_t type, uint8_t code, uint32_t error = 0) {
    sock_extended_err extended{};
    extended.ee_origin = origin;
    extended.ee_type = type;
    extended.ee_code = code;
    extended.ee_errno = error;
    sockaddr_in offender{};
    offender.sin_family = AF_INET;
    offender.sin_addr.s_addr = htonl(0x0A000001);
    std::vector<uint8_t> bytes(sizeof(extended) + sizeof(offender));
    std::memcpy(bytes.data(), &extended, sizeof(extended));
    std::memcpy(bytes.data() + sizeof(extended), &offender, sizeof(offender));
    return bytes;
}

TEST(IcmpPacket, QueuedErrorsEndTheProbeOnlyWhenTheyQuoteIt) {
    const std::vector<uint8_t> quote = BuildEchoRequest(0x1234, 7, kPayload);
    const auto classify = [&](const std::vector<uint8_t>& error, std::span<const uint8_t> quoted,
                              std::optional<IpAddress> destination = std::nullopt) {
        const std::optional<ProbeError> found =
            ClassifyQueuedError(error, destination, quoted, kRequest);
        return found ? found->status : 0;
    };
    const auto hostUnreachable = ExtendedError(SO_EE_ORIGIN_ICMP, 3, 1);
    EXPECT_EQ(classify(hostUnreachable, quote), 11003u);
    EXPECT_EQ(classify(hostUnreachable, std::span(quote).first(8)), 11003u);
    EXPECT_EQ(ClassifyQueuedError(hostUnreachable, kHost, quote, kRequest)->reporter,
              IpAddress::FromIpv4(htonl(0x0A000001)));
    // Destination unreachable by code, time exceeded, parameter problem.
    struct Case {
        uint8_t type, code;
        uint32_t status;
    };
    for (const Case c :
         {Case{3, 0, 11002}, Case{3, 2, 11004}, Case{3, 3, 11005}, Case{3, 4, 11009},
          Case{3, 5, 11012}, Case{11, 0, 11013}, Case{11, 1, 11014}, Case{12, 0, 11015}}) {
        EXPECT_EQ(classify(ExtendedError(SO_EE_ORIGIN_ICMP, c.type, c.code), quote), c.status)
            << int(c.type) << "/" << int(c.code);
    }
    EXPECT_EQ(classify(ExtendedError(SO_EE_ORIGIN_LOCAL, 0, 0, EMSGSIZE), {}), 11009u);

    EXPECT_EQ(classify(ExtendedError(SO_EE_ORIGIN_ICMP, 5, 1), quote), 0u) << "redirect";
    EXPECT_EQ(classify(ExtendedError(SO_EE_ORIGIN_ICMP, 4, 0), quote), 0u) << "source quench";
    EXPECT_EQ(classify(hostUnreachable, quote, IpAddress::FromIpv4(htonl(0xC0000208))), 0u)
        << "other destination";
    EXPECT_EQ(classify(hostUnreachable, std::span(quote).first(7)), 0u) << "quote too short";
    for (const size_t field : {0u, 5u, 7u, 9u}) {  // type, identifier, sequence, payload
        std::vector<uint8_t> altered = quote;
        altered[field] ^= 1;
        EXPECT_EQ(classify(hostUnreachable, altered), 0u) << "byte " << field;
    }
}

}  // namespace
}  // namespace nodrel::platform::icmp
