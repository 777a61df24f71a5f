// What one probe costs: TPing::Ping to 127.0.0.1 (and to ::1) against the floor of a bare ICMP
// socket that sends a request and reads the reply with nothing else around it, on the datagram and
// on the raw socket, with the ratio of the two printed at the end; the heap allocations a probe
// makes; and how late a probe to a silent host returns after its Timeout.
//
// As root the bench moves into a network namespace of its own (only loopback, nothing leaves the
// machine) and sets ping_group_range there, so that both socket kinds can be measured; otherwise
// it measures the kinds this user may open and skips the others, saying why.
//
// Options of its own, besides Google Benchmark's:
//   --ratio-rounds=N     rounds of the side-by-side ratio (default 101; 0 skips it)
//   --timeouts=A,B,...   the Timeouts of TimeoutLateness in ms (default 100,1000,4000)
//   --probes=N [--socket=datagram|raw] [--host=127.0.0.1|::1] [--bare]
//                        exactly N probes and nothing else, for callgrind and valgrind; prints
//                        the allocations made during them
// The commands behind the published figures are in bench/README.md.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
// After the C library headers, whose definitions the kernel header builds on.
#include <linux/icmp.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "icmp_packet.h"
#include "ping.h"
#include "support/isolated_network.h"

// Counts the allocations of the whole process, C++ and C (Qt's containers use malloc) alike, and
// leaves the work to the C library's own allocator.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<uint64_t> gAllocations = 0;
}

extern "C" {
void* malloc(size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) noexcept {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void free(void* pointer) noexcept {
    __libc_free(pointer);
}
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPayloadSize = 56;
const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

enum class SocketKind { Datagram, Raw };

const char* Name(SocketKind kind) {
    return kind == SocketKind::Raw ? "raw" : "datagram";
}

// Empty when this process moved into a namespace of its own, else why not.
std::string gNamespaceProblem = "not tried";

bool InPrivateNamespace() {
    return gNamespaceProblem.empty();
}

int OpenSocket(SocketKind kind) {
    return socket(AF_INET, (kind == SocketKind::Raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC,
                  IPPROTO_ICMP);
}

// Makes the echo service's automatic choice land on `kind`; an empty text when it does.
std::string ChooseSocketKind(SocketKind kind) {
    if (InPrivateNamespace()) {
        // Refusing the datagram socket is what makes the service take the raw one.
        nodrel::testing::WriteSysctl("net/ipv4/ping_group_range",
                                     kind == SocketKind::Datagram ? "0 2147483647" : "1 0");
    }
    const int datagram = OpenSocket(SocketKind::Datagram);
    if (datagram >= 0) close(datagram);
    if (kind == SocketKind::Datagram) {
        return datagram >= 0 ? "" : "datagram ICMP sockets are refused (ping_group_range)";
    }
    if (datagram >= 0) return "the service prefers the datagram socket this user may open";
    return nodrel::testing::CanOpenRawIcmpSocket() ? "" : "raw ICMP sockets need root";
}

void SetEchoIgnored(bool ignored) {
    nodrel::testing::WriteSysctl("net/ipv4/icmp_echo_ignore_all", ignored ? "1" : "0");
}

// The floor: one request out, its reply in, by a blocking socket with nothing around it. The
// datagram socket leaves the checksum to the kernel, the raw one must carry it; the raw one lets
// only echo replies through, as the echo service's does, and not its own requests as well.
class BareSocket {
public:
    explicit BareSocket(SocketKind kind) : FKind(kind), FSocket(OpenSocket(kind)) {
        FDestination.sin_family = AF_INET;
        FDestination.sin_addr.s_addr = kLoopback;
        if (kind == SocketKind::Raw && FSocket >= 0) {
            const icmp_filter onlyEchoReplies{~(1u << ICMP_ECHOREPLY)};
            setsockopt(FSocket, SOL_RAW, ICMP_FILTER, &onlyEchoReplies, sizeof onlyEchoReplies);
        }
    }
    ~BareSocket() {
        if (FSocket >= 0) close(FSocket);
    }
    BareSocket(const BareSocket&) = delete;
    BareSocket& operator=(const BareSocket&) = delete;

    bool IsOpen() const { return FSocket >= 0; }

    bool RoundTrip() {
        icmphdr header{};
        header.type = ICMP_ECHO;
        header.un.echo.id = htons(0x4e44);
        header.un.echo.sequence = htons(++FSequence);
        std::memcpy(FRequest.data(), &header, sizeof header);
        if (FKind == SocketKind::Raw) {
            const uint16_t sum = htons(nodrel::platform::icmp::InternetChecksum(FRequest));
            std::memcpy(FRequest.data() + offsetof(icmphdr, checksum), &sum, sizeof sum);
        }
        sendto(FSocket, FRequest.data(), FRequest.size(), 0,
               reinterpret_cast<const sockaddr*>(&FDestination), sizeof FDestination);
        for (;;) {
            const ssize_t got = recv(FSocket, FReply.data(), FReply.size(), 0);
            if (got <= 0) return false;
            const size_t offset = FKind == SocketKind::Raw ? (FReply[0] & 0x0fu) * 4 : 0;
            if (static_cast<size_t>(got) > offset && FReply[offset] == ICMP_ECHOREPLY) return true;
        }
    }

private:
    SocketKind FKind;
    int FSocket;
    sockaddr_in FDestination{};
    uint16_t FSequence = 0;
    std::array<unsigned char, sizeof(icmphdr) + kPayloadSize> FRequest{};
    std::array<unsigned char, 1500> FReply{};
};

void BM_BareSocketRoundTrip(benchmark::State& state, SocketKind kind) {
    if (const std::string whyNot = ChooseSocketKind(kind); !whyNot.empty()) {
        state.SkipWithError(whyNot.c_str());
        return;
    }
    BareSocket bare(kind);
    if (!bare.IsOpen()) {
        state.SkipWithError("the socket cannot be opened");
        return;
    }
    for (auto _ : state) {
        if (!bare.RoundTrip()) {
            state.SkipWithError("127.0.0.1 did not answer");
            break;
        }
    }
}

void BM_TPingRoundTrip(benchmark::State& state, SocketKind kind, const char* host) {
    if (const std::string whyNot = ChooseSocketKind(kind); !whyNot.empty()) {
        state.SkipWithError(whyNot.c_str());
        return;
    }
    try {
        nodrel::TPing ping;
        ping.SetAddress(host);
        ping.SetTimeout(1000);
        ping.Ping();  // resolves the address, opens the IPv6 handle and sizes the buffers once
        const uint64_t allocationsBefore = gAllocations.load();
        for (auto _ : state) {
            if (ping.Ping() != 1) {
                state.SkipWithError((std::string(host) + " did not answer").c_str());
                break;
            }
        }
        state.counters["allocs/probe"] = benchmark::Counter(
            static_cast<double>(gAllocations.load() - allocationsBefore) /
            static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1)));
    } catch (const nodrel::TICMPException& error) {
        state.SkipWithError(error.what());
    }
}

// How long after its Timeout a probe to a host that never answers returns.
void BM_TimeoutLateness(benchmark::State& state) {
    if (!InPrivateNamespace()) {
        state.SkipWithError(
            ("needs a silent loopback in a private namespace: " + gNamespaceProblem).c_str());
        return;
    }
    ChooseSocketKind(SocketKind::Datagram);
    const auto timeout = static_cast<int32_t>(state.range(0));
    nodrel::TPing ping;
    ping.SetAddress("127.0.0.1");
    ping.SetTimeout(timeout);
    SetEchoIgnored(true);
    double worstLateness = 0;
    double totalLateness = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const int32_t replies = ping.Ping();
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        state.SetIterationTime(took.count() / 1000);
        if (replies != 0) {
            state.SkipWithError("the silent host answered");
            break;
        }
        worstLateness = std::max(worstLateness, took.count() - timeout);
        totalLateness += took.count() - timeout;
    }
    SetEchoIgnored(false);
    state.counters["late_ms_mean"] =
        totalLateness /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["late_ms_max"] = worstLateness;
}

double ThreadCpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct BlockTime {
    double real = 0;
    double cpu = 0;
};

template <typename Probe>
BlockTime TimeBlock(int probes, Probe&& probe) {
    const Clock::time_point start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    for (int i = 0; i < probes; ++i) probe();
    return {std::chrono::duration<double>(Clock::now() - start).count(),
            ThreadCpuSeconds() - cpuStart};
}

double Median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[values.size() / 2];
}

// TPing::Ping over the bare loop, side by side: blocks of probes by each in turn, which one goes
// first alternating, so that the load of a shared machine falls on both alike. One socket is open
// at a time (every open raw socket gets a copy of every reply). Prints the medians of the
// per-round ratios of real time and of the thread's CPU time.
void PrintRatio(SocketKind kind, int rounds) {
    constexpr int kBlock = 250;
    if (const std::string whyNot = ChooseSocketKind(kind); !whyNot.empty()) {
        std::printf("%-8s socket: not measured: %s\n", Name(kind), whyNot.c_str());
        return;
    }
    std::vector<double> realRatios;
    std::vector<double> cpuRatios;
    std::vector<double> tpingTimes;
    std::vector<double> bareTimes;
    for (int round = 0; round < rounds; ++round) {
        BlockTime bare;
        BlockTime tping;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 0)) {
                BareSocket socket(kind);
                socket.RoundTrip();
                bare = TimeBlock(kBlock, [&] { socket.RoundTrip(); });
            } else {
                nodrel::TPing ping;
                ping.SetAddress("127.0.0.1");
                ping.SetTimeout(1000);
                ping.Ping();
                tping = TimeBlock(kBlock, [&] { ping.Ping(); });
            }
        }
        realRatios.push_back(tping.real / bare.real);
        cpuRatios.push_back(tping.cpu / bare.cpu);
        tpingTimes.push_back(tping.real / kBlock * 1e9);
        bareTimes.push_back(bare.real / kBlock * 1e9);
    }
    std::printf(
        "%-8s socket: TPing::Ping %.0f ns, bare loop %.0f ns; ratio %.3fx real time, %.3fx CPU "
        "time (medians of %d rounds of %d probes each)\n",
        Name(kind), Median(tpingTimes), Median(bareTimes), Median(realRatios), Median(cpuRatios),
        rounds, kBlock);
}

// --probes=N: exactly N probes and nothing else, for callgrind and valgrind.
int CountProbes(long probes, SocketKind kind, const std::string& host, bool bare) {
    if (const std::string whyNot = ChooseSocketKind(kind); !whyNot.empty()) {
        std::fprintf(stderr, "%s socket: %s\n", Name(kind), whyNot.c_str());
        return 1;
    }
    long answered = 0;
    uint64_t allocations = 0;
    if (bare) {
        BareSocket socket(kind);
        const uint64_t before = gAllocations.load();
        for (long i = 0; i < probes; ++i) answered += socket.RoundTrip();
        allocations = gAllocations.load() - before;
    } else {
        nodrel::TPing ping;
        ping.SetAddress(QString::fromStdString(host));
        ping.SetTimeout(1000);
        const uint64_t before = gAllocations.load();
        for (long i = 0; i < probes; ++i) answered += ping.Ping();
        allocations = gAllocations.load() - before;
    }
    std::printf("%s %s socket to %s: %ld of %ld probes answered, %llu allocations\n",
                bare ? "bare loop" : "TPing::Ping", Name(kind), bare ? "127.0.0.1" : host.c_str(),
                answered, probes, static_cast<unsigned long long>(allocations));
    return answered == probes ? 0 : 1;
}

// Takes the bench's own options out of argv, leaving Google Benchmark's.
std::string TakeOption(int& argc, char** argv, const std::string& name) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool isFlag = argument == "--" + name;
        if (!isFlag && argument.rfind(prefix, 0) != 0) continue;
        std::copy(argv + i + 1, argv + argc + 1, argv + i);
        --argc;
        return isFlag ? "1" : argument.substr(prefix.size());
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    gNamespaceProblem = nodrel::testing::EnterIsolatedNetwork();
    const std::string probes = TakeOption(argc, argv, "probes");
    const SocketKind kind =
        TakeOption(argc, argv, "socket") == "raw" ? SocketKind::Raw : SocketKind::Datagram;
    const bool bare = !TakeOption(argc, argv, "bare").empty();
    std::string host = TakeOption(argc, argv, "host");
    if (host.empty()) host = "127.0.0.1";
    std::string timeouts = TakeOption(argc, argv, "timeouts");
    const std::string ratioRounds = TakeOption(argc, argv, "ratio-rounds");
    if (!probes.empty()) return CountProbes(std::atol(probes.c_str()), kind, host, bare);

    for (const SocketKind each : {SocketKind::Datagram, SocketKind::Raw}) {
        benchmark::RegisterBenchmark((std::string("BareSocketRoundTrip/") + Name(each)).c_str(),
                                     BM_BareSocketRoundTrip, each)
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("TPingRoundTrip/") + Name(each)).c_str(),
                                     BM_TPingRoundTrip, each, "127.0.0.1")
            ->UseRealTime();
        benchmark::RegisterBenchmark((std::string("TPingRoundTrip6/") + Name(each)).c_str(),
                                     BM_TPingRoundTrip, each, "::1")
            ->UseRealTime();
    }
    if (timeouts.empty()) timeouts = "100,1000,4000";
    for (size_t start = 0; start < timeouts.size();) {
        const size_t end = std::min(timeouts.find(',', start), timeouts.size());
        const long timeout = std::atol(timeouts.substr(start, end - start).c_str());
        benchmark::RegisterBenchmark("TimeoutLateness", BM_TimeoutLateness)
            ->Arg(timeout)
            ->Iterations(timeout >= 4000   ? 2
                         : timeout >= 1000 ? 3
                                           : 10)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        start = end + 1;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!InPrivateNamespace()) std::printf("host namespace: %s\n", gNamespaceProblem.c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const int rounds = ratioRounds.empty() ? 101 : std::atoi(ratioRounds.c_str());
    for (const SocketKind each : {SocketKind::Datagram, SocketKind::Raw}) {
        if (rounds > 0) PrintRatio(each, rounds);
    }
    return 0;
}
