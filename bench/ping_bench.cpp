// Round trip of one probe to 127.0.0.1 through TPing, against the floor of a bare ICMP socket
// that sends a request and reads the reply with nothing else around it. Needs ICMP permission:
// the datagram socket (net.ipv4.ping_group_range) or raw sockets (root, CAP_NET_RAW).

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "icmp_packet.h"
#include "ping.h"

namespace {

constexpr size_t kPayloadSize = 56;

void BM_BareSocketRoundTrip(benchmark::State& state) {
    bool raw = false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) {
        state.SkipWithError("no ICMP socket can be opened here");
        return;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::array<unsigned char, sizeof(icmphdr) + kPayloadSize> request{};
    std::array<unsigned char, 1500> reply{};
    uint16_t sequence = 0;
    for (auto _ : state) {
        icmphdr header{};
        header.type = ICMP_ECHO;
        header.un.echo.id = htons(0x4e44);
        header.un.echo.sequence = htons(++sequence);
        std::memcpy(request.data(), &header, sizeof header);
        const uint16_t sum = htons(nodrel::platform::icmp::InternetChecksum(request));
        std::memcpy(request.data() + offsetof(icmphdr, checksum), &sum, sizeof sum);
        sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&destination),
               sizeof destination);
        for (;;) {  // a raw socket also sees the request itself on loopback
            const ssize_t got = recv(fd, reply.data(), reply.size(), 0);
            if (got <= 0) break;
            const size_t offset = raw ? static_cast<size_t>(reply[0] & 0x0f) * 4 : 0;
            if (static_cast<size_t>(got) > offset && reply[offset] == ICMP_ECHOREPLY) break;
        }
    }
    close(fd);
}
BENCHMARK(BM_BareSocketRoundTrip)->UseRealTime();

void BM_TPingRoundTrip(benchmark::State& state) {
    try {
        nodrel::TPing ping;
        ping.SetAddress("127.0.0.1");
        ping.SetTimeout(1000);
        for (auto _ : state) {
            if (ping.Ping() != 1) {
                state.SkipWithError("127.0.0.1 did not answer");
                break;
            }
        }
    } catch (const nodrel::TICMPException& error) {
        state.SkipWithError(error.what());
    }
}
BENCHMARK(BM_TPingRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
