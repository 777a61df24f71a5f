#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "echo_library.h"
#include "name_lookups.h"

namespace nodrel {

// A set-up failure of the echo requester; carries only its message.
class TICMPException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sends one echo request to one host and waits for the answer, blocking the caller: ICMP to an
// IPv4 host, ICMPv6 to an IPv6 one. A name is probed at the first address in the resolver's order
// (which /etc/gai.conf sets), as ping does.
// Address, Size, Timeout, TTL and Flags may be written from another thread while Ping runs: each
// Ping takes its own copy of them at the start, and a write takes effect at the next Ping. Ping
// itself runs on one thread at a time; what it leaves (LastReply, LastErrorCode, ResolvedAddress,
// AddressChanged) is read on that thread, in the events or after Ping returns. A probe to an
// Address unchanged since the last one takes no lock and reads no clock.
//
// A name's address is kept while probes succeed. From the second failed probe in a row on, the
// name is looked up again before the next probe, and then at most once a minute while the
// failures go on, so that a host whose name has moved is followed to its new address. Such a
// repeated lookup runs on a thread of its own and holds a probe up by a second at most: a
// resolver that hangs leaves the probes going to the address known, and an answer that comes
// later is taken at the next probe after it.
class TICMP {
public:
    using DisplayEvent = std::function<void(TICMP* sender, const QString& msg)>;
    using EchoRequestEvent = std::function<void(TICMP* sender)>;
    using EchoReplyEvent = std::function<void(TICMP* sender, int32_t status)>;

    // Throws TICMPException when a service cannot be had; nothing stays acquired then.
    explicit TICMP(platform::EchoPlatform& platform = platform::SystemEchoPlatform());
    // Waits for a repeated lookup still under way.
    virtual ~TICMP();
    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    QString Address() const;
    // A text that differs (case-sensitively) from the current one drops the cached resolution.
    // The text is kept as written; blanks around it are ignored when it is resolved.
    void SetAddress(const QString& address);

    int32_t Size() const { return FSize; }
    void SetSize(int32_t size) { FSize = size; }
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t timeout) { FTimeout = timeout; }
    int32_t TTL() const { return FTTL; }
    void SetTTL(int32_t ttl) { FTTL = ttl; }
    int32_t Flags() const { return FFlags; }
    void SetFlags(int32_t flags) { FFlags = flags; }

    void SetOnDisplay(DisplayEvent handler) { FOnDisplay = std::move(handler); }
    void SetOnEchoRequest(EchoRequestEvent handler) { FOnEchoRequest = std::move(handler); }
    void SetOnEchoReply(EchoReplyEvent handler) { FOnEchoReply = std::move(handler); }

    // Sends one echo request; returns the number of replies (0 or 1), 0 without sending when the
    // address cannot be resolved. Allocates only when Size changed since the last Ping.
    int32_t Ping();

    platform::ICMP_ECHO_REPLY LastReply() const { return FLastReply; }
    uint32_t LastErrorCode() const { return FLastErrorCode; }
    // The last reply's round trip in microseconds where the echo service timed it so finely, else
    // 0: LastReply's RoundTripTime has whole milliseconds.
    uint32_t LastRoundTripMicroseconds() const { return FLastRoundTripMicroseconds; }
    // The address probes go to; the all-ones IPv4 address while none is known.
    platform::IpAddress ResolvedAddress() const { return FTarget.address; }
    // Whether the current Address has been resolved (false again at once after SetAddress).
    // Asked at every probe: inline.
    bool AddressResolved() const {
        return FAddressResolved &&
               FTarget.generation == FAddressGeneration.load(std::memory_order_acquire);
    }
    // Whether the last probe went to a new address that a repeated lookup of the name found.
    bool AddressChanged() const { return FAddressChanged; }
    // The error of the name's last repeated lookup when it failed and the probes went on to the
    // address the name had; 0 once the name resolves again or Address changes. On the probing
    // thread.
    uint16_t LookupAgainError() const { return FLookupAgainError; }
    // Numbers the Address texts: each change takes the next number.
    uint64_t AddressGeneration() const {
        return FAddressGeneration.load(std::memory_order_acquire);
    }
    // The number of the Address the last probe was for. On the probing thread, as its events do.
    uint64_t ProbedGeneration() const { return FTarget.generation; }

private:
    // A probe's destination and the Address it was resolved from.
    struct Target {
        platform::IpAddress address;
        uint64_t generation;
    };
    // Gives back what construction acquired, in reverse order.
    void ReleaseServices();

    // Whether the address known can be probed as it is: Address unchanged and no repeated lookup
    // of the name due or under way.
    bool TargetCurrent();
    bool RepeatedLookupDue();
    // Starts looking the name up again, without waiting for it.
    void StartRepeatedLookup(const QByteArray& name, uint64_t generation);
    // Takes the answer of the repeated lookup under way if it comes within `wait`.
    void TakeRepeatedLookup(std::chrono::milliseconds wait);
    // Resolves Address afresh into FTarget; false when there is nothing to probe.
    bool Resolve();
    // Keeps what a resolution of the Address of `generation` found.
    void Remember(uint64_t generation, platform::IpAddress address, bool fromName);
    // Counts the outcome of a probe sent to `target`.
    void CountOutcome(const Target& target, uint32_t status);
    // Makes the request data and the reply area fit `size` bytes of data.
    void PrepareBuffers(uint16_t size);

    platform::EchoPlatform& FPlatform;
    const platform::EchoLibrary* FLibrary = nullptr;
    bool FSocketLayerStarted = false;
    platform::EchoHandle FHandle = platform::INVALID_ECHO_HANDLE;
    // Opened at the first IPv6 probe, so that a machine without IPv6 still probes IPv4 hosts.
    platform::EchoHandle FHandle6 = platform::INVALID_ECHO_HANDLE;

    mutable std::mutex FLock;  // guards FAddress
    QString FAddress;
    // Bumped by every change of FAddress, under FLock. The probing thread compares it with the
    // generation of its own resolution, without a lock.
    std::atomic<uint64_t> FAddressGeneration = 0;

    // The probing thread's own.
    Target FTarget{{}, 0};           // the last resolution and the Address it came from
    bool FAddressResolved = false;   // FTarget holds an address to probe
    bool FResolvedFromName = false;  // a literal address is never looked up again
    bool FAddressChanged = false;
    uint16_t FLookupAgainError = 0;
    int FFailStreak = 0;         // failed probes in a row to FTarget
    int64_t FLookupAgainAt = 0;  // with two failures or more: the earliest repeated lookup
    uint32_t FLastErrorCode = 0;
    uint32_t FLastRoundTripMicroseconds = 0;
    platform::ICMP_ECHO_REPLY FLastReply{};
    platform::NameLookups FLookups{FPlatform};
    // Valid while a repeated lookup is under way, of the Address of FRepeatedGeneration.
    std::future<platform::LookupAnswer> FRepeatedAnswer;
    uint64_t FRepeatedGeneration = 0;

    std::atomic<int32_t> FSize = 56;
    std::atomic<int32_t> FTimeout = 4000;
    std::atomic<int32_t> FTTL = 64;
    std::atomic<int32_t> FFlags = 0;

    // Kept from probe to probe: the request data depends on the size alone, and the reply area's
    // header is cleared before each send.
    std::vector<char> FRequestData;
    std::vector<unsigned char> FReplyArea;

    DisplayEvent FOnDisplay;
    EchoRequestEvent FOnEchoRequest;
    EchoReplyEvent FOnEchoReply;
};

}  // namespace nodrel
