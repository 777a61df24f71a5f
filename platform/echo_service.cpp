#include "echo_service.h"

#include <netinet/in.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <unordered_map>

#include "echo_socket.h"
#include "icmp_packet.h"

namespace nodrel::platform {

namespace {

constexpr uint8_t kDefaultTtl = 64;

thread_local uint32_t tLastError = IP_SUCCESS;
thread_local uint32_t tLastRoundTripMicroseconds = 0;

// Open sockets by handle. Handles are never reused, so a stale or made-up one finds nothing. The
// lock also hands a socket created on one thread safely to a thread that sends through it.
//
// Each thread keeps the socket it found last, so that probe after probe through one handle finds
// it without the lock: weakly, so that closing the handle still closes the socket once no probe
// uses it, and valid only while no handle has been closed since it was kept.
class HandleTable {
public:
    EchoHandle Add(std::shared_ptr<EchoSocket> echoSocket) {
        const std::lock_guard lock(FLock);
        const EchoHandle handle = FNextHandle++;
        FSockets.emplace(handle, std::move(echoSocket));
        return handle;
    }

    std::shared_ptr<EchoSocket> Find(EchoHandle handle) {
        Recent& recent = tRecent;
        if (recent.handle == handle &&
            recent.closures == FClosures.load(std::memory_order_acquire)) {
            if (std::shared_ptr<EchoSocket> kept = recent.socket.lock()) return kept;
        }
        const std::lock_guard lock(FLock);
        const auto found = FSockets.find(handle);
        if (found == FSockets.end()) return nullptr;
        recent = {handle, FClosures.load(std::memory_order_relaxed), found->second};
        return found->second;
    }

    // The socket closes when the last probe still using it is done.
    bool Remove(EchoHandle handle) {
        const std::lock_guard lock(FLock);
        if (FSockets.erase(handle) == 0) return false;
        FClosures.fetch_add(1, std::memory_order_release);
        return true;
    }

private:
    struct Recent {
        EchoHandle handle = INVALID_ECHO_HANDLE;
        uint64_t closures = 0;
        std::weak_ptr<EchoSocket> socket;
    };
    static thread_local Recent tRecent;

    std::mutex FLock;
    EchoHandle FNextHandle = 1;
    std::unordered_map<EchoHandle, std::shared_ptr<EchoSocket>> FSockets;
    std::atomic<uint64_t> FClosures = 0;  // handles closed so far
};

thread_local HandleTable::Recent HandleTable::tRecent;

// Never destroyed: a worker thread may still be probing while the process exits.
HandleTable& Handles() {
    static HandleTable& table = *new HandleTable;
    return table;
}

void WriteReplyHeader(const ProbeOutcome& outcome, uint8_t* replyArea) {
    ICMP_ECHO_REPLY header{};
    if (outcome.address.isIpv6) {
        header.Address6 = outcome.address.ipv6;
    } else {
        header.Address = outcome.address.ipv4;
    }
    header.Status = outcome.status;
    header.RoundTripTime = outcome.roundTripTime;
    header.Options.Ttl = outcome.ttl;
    header.DataSize = static_cast<uint16_t>(outcome.echoedSize);  // at most kMaxEchoPayload
    header.Data = replyArea + sizeof(header);
    // The caller's area need not be aligned for the record.
    std::memcpy(replyArea, &header, sizeof(header));
}

// Like the system service it stands in for, the service reports running out of memory as a
// status, never as an exception.
EchoHandle CreateHandle(EchoSocketKind kind, bool ipv6) {
    try {
        auto echoSocket = std::make_shared<EchoSocket>();
        if (!echoSocket->Open(kind, ipv6)) {
            tLastError = icmp::StatusForErrno(errno);
            return INVALID_ECHO_HANDLE;
        }
        const EchoHandle handle = Handles().Add(std::move(echoSocket));
        tLastError = IP_SUCCESS;
        return handle;
    } catch (const std::bad_alloc&) {
        tLastError = IP_NO_RESOURCES;
        return INVALID_ECHO_HANDLE;
    }
}

uint32_t SendEcho(EchoHandle handle, const IpAddress& destination, const void* requestData,
                  uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                  void* replyBuffer, uint32_t replySize, uint32_t timeout) {
    if (replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY)) {
        tLastError = replyBuffer == nullptr ? IP_GENERAL_FAILURE : IP_BUF_TOO_SMALL;
        return 0;
    }
    auto* const replyArea = static_cast<uint8_t*>(replyBuffer);
    const auto dataArea = std::span<uint8_t>(replyArea + sizeof(ICMP_ECHO_REPLY),
                                             replySize - sizeof(ICMP_ECHO_REPLY));

    ProbeOutcome outcome;
    const std::shared_ptr<EchoSocket> echoSocket = Handles().Find(handle);
    if (!echoSocket || echoSocket->IsIpv6() != destination.isIpv6 ||
        (requestData == nullptr && requestSize > 0)) {
        outcome.status = IP_GENERAL_FAILURE;
    } else if (requestSize > icmp::kMaxEchoPayload) {
        outcome.status = IP_PACKET_TOO_BIG;
    } else if (destination.IsUnspecified()) {
        // Linux would take 0.0.0.0 (or ::) for this host and the reply would come from elsewhere.
        outcome.status = IP_BAD_DESTINATION;
    } else if (destination.IsLinkLocal() && destination.zone == 0) {
        // Linux refuses to guess the link; say why rather than fail in general.
        outcome.status = IP_DEST_SCOPE_MISMATCH;
    } else {
        IP_OPTION_INFORMATION defaults{};
        defaults.Ttl = kDefaultTtl;
        const auto payload =
            std::span<const uint8_t>(static_cast<const uint8_t*>(requestData), requestSize);
        try {
            outcome = echoSocket->Probe(destination, payload,
                                        requestOptions != nullptr ? *requestOptions : defaults,
                                        timeout, dataArea);
        } catch (const std::bad_alloc&) {
            outcome.status = IP_NO_RESOURCES;
        }
    }
    WriteReplyHeader(outcome, replyArea);
    tLastError = outcome.status;
    tLastRoundTripMicroseconds = outcome.roundTripMicroseconds;
    return outcome.status == IP_SUCCESS ? 1 : 0;
}

}  // namespace

EchoSocketKind IcmpSocketKind(EchoHandle handle) {
    const std::shared_ptr<EchoSocket> echoSocket = Handles().Find(handle);
    return echoSocket ? echoSocket->Kind() : EchoSocketKind::Automatic;
}

bool IcmpCloseHandle(EchoHandle handle) {
    const bool closed = Handles().Remove(handle);
    tLastError = closed ? IP_SUCCESS : IP_GENERAL_FAILURE;
    return closed;
}

EchoHandle IcmpCreateFile() {
    return IcmpCreateFileOfKind(EchoSocketKind::Automatic);
}

EchoHandle IcmpCreateFileOfKind(EchoSocketKind kind) {
    return CreateHandle(kind, false);
}

EchoHandle Icmp6CreateFile() {
    return Icmp6CreateFileOfKind(EchoSocketKind::Automatic);
}

EchoHandle Icmp6CreateFileOfKind(EchoSocketKind kind) {
    return CreateHandle(kind, true);
}

uint32_t IcmpSendEcho(EchoHandle handle, uint32_t destination, const void* requestData,
                      uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                      void* replyBuffer, uint32_t replySize, uint32_t timeout) {
    return SendEcho(handle, IpAddress::FromIpv4(destination), requestData, requestSize,
                    requestOptions, replyBuffer, replySize, timeout);
}

uint32_t Icmp6SendEcho(EchoHandle handle, const sockaddr_in6& destination, const void* requestData,
                       uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                       void* replyBuffer, uint32_t replySize, uint32_t timeout) {
    return SendEcho(handle, FromSocketAddress(destination), requestData, requestSize,
                    requestOptions, replyBuffer, replySize, timeout);
}

uint32_t GetLastError() {
    return tLastError;
}

uint32_t LastRoundTripMicroseconds() {
    return tLastRoundTripMicroseconds;
}

}  // namespace nodrel::platform
