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
    CheckReply(icmp::ParseDatagramEchoReply(input, 0x0100007F, 64), input);

    // A queued error: the first byte says where the control data ends and the quote begins.
    if (!input.empty()) {
        const size_t split = std::min<size_t>(input[0], input.size() - 1);
        const std::span<const uint8_t> extendedError = input.subspan(1, split);
        const std::span<const uint8_t> quoted = input.subspan(1 + split);
        // Expect the request the quote names, so that matching quotes are reached.
        const uint16_t identifier = quoted.size() >= 8 ? (quoted[4] << 8 | quoted[5]) : 0;
        const uint16_t sequence = quoted.size() >= 8 ? (quoted[6] << 8 | quoted[7]) : 0;
        const std::span<const uint8_t> payload = quoted.size() >= 8 ? quoted.subspan(8) : quoted;
        const icmp::EchoRequestKey request{0x0100007F, identifier, sequence, payload};
        for (const std::optional<uint32_t> destination :
             {std::optional<uint32_t>{}, std::optional<uint32_t>{0x0100007F}}) {
            const auto error =
                icmp::ClassifyQueuedError(extendedError, destination, quoted, request);
            if (error) Check(IsKnownStatus(error->status));
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
    const auto reply = icmp::ParseDatagramEchoReply(echoed, 0x0100007F, 64);
    Check(reply && icmp::IsReplyTo(*reply, {0x0100007F, 0xBEEF, 0x0102, payload}));
    return 0;
}
