#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "echo_library.h"

namespace nodrel {

// A set-up failure of the echo requester; carries only its message.
class TICMPException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sends one ICMP echo request to one IPv4 host and waits for the answer, blocking the caller.
// Address, Size, Timeout, TTL and Flags may be written from another thread while Ping runs: each
// Ping takes its own copy of them at the start, and a write takes effect at the next Ping. Ping
// itself runs on one thread at a time.
class TICMP {
public:
    using DisplayEvent = std::function<void(TICMP* sender, const QString& msg)>;
    using EchoRequestEvent = std::function<void(TICMP* sender)>;
    using EchoReplyEvent = std::function<void(TICMP* sender, int32_t status)>;

    // Throws TICMPException when a service cannot be had; nothing stays acquired then.
    explicit TICMP(platform::EchoPlatform& platform = platform::SystemEchoPlatform());
    virtual ~TICMP();
    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    QString Address() const;
    // A text that differs (case-sensitively) from the current one drops the cached resolution.
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

    platform::ICMP_ECHO_REPLY LastReply() const;
    uint32_t LastErrorCode() const { return FLastErrorCode; }
    uint32_t ResolvedAddress() const;
    bool AddressResolved() const;

private:
    // Gives back what construction acquired, in reverse order.
    void ReleaseServices();

    // The address to probe, network byte order: the cached one while Address is unchanged, else
    // a fresh resolution; INADDR_NONE when there is none.
    uint32_t Resolve();

    // Makes the request data and the reply area fit `size` bytes of data.
    void PrepareBuffers(uint16_t size);

    platform::EchoPlatform& FPlatform;
    const platform::EchoLibrary* FLibrary = nullptr;
    bool FSocketLayerStarted = false;
    platform::EchoHandle FHandle = platform::INVALID_ECHO_HANDLE;

    mutable std::mutex FLock;  // guards the fields below up to FLastReply
    QString FAddress;
    uint64_t FAddressGeneration = 0;  // bumped by every change of FAddress
    uint32_t FResolvedAddress = 0;
    bool FAddressResolved = false;
    platform::ICMP_ECHO_REPLY FLastReply{};

    std::atomic<int32_t> FSize = 56;
    std::atomic<int32_t> FTimeout = 4000;
    std::atomic<int32_t> FTTL = 64;
    std::atomic<int32_t> FFlags = 0;
    std::atomic<uint32_t> FLastErrorCode = 0;

    // Kept from probe to probe: the request data depends on the size alone, and the reply area's
    // header is cleared before each send.
    std::vector<char> FRequestData;
    std::vector<unsigned char> FReplyArea;

    DisplayEvent FOnDisplay;
    EchoRequestEvent FOnEchoRequest;
    EchoReplyEvent FOnEchoReply;
};

}  // namespace nodrel
