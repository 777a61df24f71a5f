// Any bytes a socket can hand the echo service: the parsers must give a defined answer, never read
// outside the input, and agree with the packets the service builds itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "echo_service.h"
#include "icmp_packet.h"

namespace {

using namespace nodrel::platform;

const IpAddress kLoopback = IpAddress::FromIpv4(0x0100007F);
const IpAddress kLoopback6 = IpAddress::FromIpv6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Inside(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void CheckReply(const std::optional<icmp::EchoReply>& reply, std::span<const uint8_t> input) {
    if (!reply) return;
    Check(Inside(reply->payload, input));
    const icmp::EchoRequestKey own{reply->source, reply->identifier, reply->sequence,
                                   reply->payload};
    Check(icmp::IsReplyTo(*reply, own));
}

// The checksum as RFC 1071 spells it out: big-endian words, one at a time.
uint16_t ReferenceChecksum(std::span<const uint8_t> bytes) {
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        sum += static_cast<uint32_t>(bytes[i] << 8) + (i + 1 < bytes.size() ? bytes[i + 1] : 0);
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

bool IsKnownStatus(uint32_t status) {
    return status >= IP_BUF_TOO_SMALL && status <= IP_GENERAL_FAILURE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    CheckReply(icmp::ParseRawEchoReply(input), input);
    for (const IpAddress& source : {kLoopback, kLoopback6}) {
        CheckReply(icmp::ParseDatagramEchoReply(input, source, 64), input);
    }

    // A queued error, ICMP and ICMPv6: the first byte says where the control data ends and the
    // quote begins.
    if (!input.empty()) {
        const size_t split = std::min<size_t>(input[0], input.size() - 1);
        const std::span<const uint8_t> extendedError = input.subspan(1, split);
        const std::span<const uint8_t> quoted = input.subspan(1 + split);
        // Expect the request the quote names, so that matching quotes are reached.
        const uint16_t identifier = quoted.size() >= 8 ? (quoted[4] << 8 | quoted[5]) : 0;
        const uint16_t sequence = quoted.size() >= 8 ? (quoted[6] << 8 | quoted[7]) : 0;
        const std::span<const uint8_t> payload = quoted.size() >= 8 ? quoted.subspan(8) : quoted;
        for (const IpAddress& host : {kLoopback, kLoopback6}) {
            const icmp::EchoRequestKey request{host, identifier, sequence, payload};
            for (const std::optional<IpAddress> destination :
                 {std::optional<IpAddress>{}, std::optional<IpAddress>{host}}) {
                const auto error =
                    icmp::ClassifyQueuedError(extendedError, destination, quoted, request);
                if (!error) continue;
                Check(IsKnownStatus(error->status));
                // Never an address of the other family, at most an unknown one.
                Check(error->reporter.isIpv6 == host.isIpv6 || error->reporter == IpAddress{});
            }
        }
    }

    Check(icmp::InternetChecksum(input) == ReferenceChecksum(input));

    // What we send, answered as a host answers it, must be recognised as the reply.
    const std::span<const uint8_t> payload =
        input.first(std::min(input.size(), icmp::kMaxEchoPayload));
    std::vector<uint8_t> echoed = icmp::BuildEchoRequest(0xBEEF, 0x0102, payload);
    Check(icmp::InternetChecksum(echoed) == 0);
    echoed[0] = icmp::kEchoReply;
    echoed[2] = echoed[3] = 0;
    const uint16_t checksum = icmp::InternetChecksum(echoed);
    echoed[2] = static_cast<uint8_t>(checksum >> 8);
    echoed[3] = static_cast<uint8_t>(checksum);
    const auto reply = icmp::ParseDatagramEchoReply(echoed, kLoopback, 64);
    Check(reply && icmp::IsReplyTo(*reply, {kLoopback, 0xBEEF, 0x0102, payload}));
    // An ICMPv6 reply to it is not an ICMP one, and the other way round.
    Check(!icmp::ParseDatagramEchoReply(echoed, kLoopback6, 64));
    echoed[0] = icmp::kIcmp6EchoReply;
    const auto reply6 = icmp::ParseDatagramEchoReply(echoed, kLoopback6, 64);
    Check(reply6 && icmp::IsReplyTo(*reply6, {kLoopback6, 0xBEEF, 0x0102, payload}));
    Check(!icmp::IsReplyTo(*reply6, {kLoopback, 0xBEEF, 0x0102, payload}));
    return 0;
}
