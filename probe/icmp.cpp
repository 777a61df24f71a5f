#include "icmp.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <system_error>

namespace nodrel {

namespace {

// The maker's web address is a reserved name that reaches nobody.
constexpr char kPayloadText[] = "KAVREN Nodrel ICMP request.  kavren.example  ";
constexpr size_t kHeaderSize = sizeof(platform::ICMP_ECHO_REPLY);
// How long a failing name waits between two repeated lookups.
constexpr int64_t kLookupAgainAfterMs = 60'000;
// How long a probe waits for a repeated lookup before it goes to the address known.
constexpr std::chrono::milliseconds kRepeatedLookupWait{1000};
const platform::IpAddress kNoAddress = platform::IpAddress::FromIpv4(INADDR_NONE);

// The request data: the payload text cut, or padded with spaces, to the data's size.
void WriteRequestData(std::span<char> data) {
    std::fill(data.begin(), data.end(), ' ');
    std::copy_n(kPayloadText, std::min(data.size(), sizeof kPayloadText - 1), data.begin());
}

}  // namespace

TICMP::TICMP(platform::EchoPlatform& platform) : FPlatform(platform) {
    const auto fail = [this](const char* message) {
        ReleaseServices();
        throw TICMPException(message);
    };
    if (FPlatform.StartSocketLayer() != 0) throw TICMPException("Error initialising Winsock");
    FSocketLayerStarted = true;
    FLibrary = FPlatform.LoadEchoLibrary();
    if (FLibrary == nullptr) fail("Unable to register icmp.dll");
    if (FLibrary->IcmpCreateFile == nullptr || FLibrary->IcmpCloseHandle == nullptr ||
        FLibrary->IcmpSendEcho == nullptr || FLibrary->Icmp6CreateFile == nullptr ||
        FLibrary->Icmp6SendEcho == nullptr) {
        fail("Error loading dll functions");
    }
    FHandle = FLibrary->IcmpCreateFile();
    if (FHandle == platform::INVALID_ECHO_HANDLE) fail("Unable to get ping handle");
}

TICMP::~TICMP() {
    FLookups.WaitForAll();  // a lookup under way still uses the services
    ReleaseServices();
}

void TICMP::ReleaseServices() {
    for (platform::EchoHandle* handle : {&FHandle, &FHandle6}) {
        if (*handle == platform::INVALID_ECHO_HANDLE) continue;
        FLibrary->IcmpCloseHandle(*handle);
        *handle = platform::INVALID_ECHO_HANDLE;
    }
    if (FLibrary != nullptr) {
        FPlatform.FreeEchoLibrary(FLibrary);
        FLibrary = nullptr;
    }
    if (FSocketLayerStarted) {
        FPlatform.StopSocketLayer();
        FSocketLayerStarted = false;
    }
}

QString TICMP::Address() const {
    std::lock_guard lock(FLock);
    return FAddress;
}

void TICMP::SetAddress(const QString& address) {
    std::lock_guard lock(FLock);
    if (address == FAddress) return;
    FAddress = address;
    FAddressGeneration.fetch_add(1, std::memory_order_release);
}

void TICMP::PrepareBuffers(uint16_t size) {
    // New buffers of the exact size, so a large Size once does not hold its memory for good.
    FRequestData = std::vector<char>(size);
    WriteRequestData(FRequestData);
    FReplyArea = std::vector<unsigned char>(kHeaderSize + size);
}

bool TICMP::RepeatedLookupDue() {
    return FResolvedFromName && FFailStreak >= 2 &&
           FPlatform.MonotonicMilliseconds() >= FLookupAgainAt;
}

inline bool TICMP::TargetCurrent() {
    return AddressResolved() && !FRepeatedAnswer.valid() && !RepeatedLookupDue();
}

void TICMP::StartRepeatedLookup(const QByteArray& name, uint64_t generation) {
    // Not again for a minute, however long this one takes.
    FLookupAgainAt = FPlatform.MonotonicMilliseconds() + kLookupAgainAfterMs;
    try {
        FRepeatedAnswer = FLookups.Start(name);
        FRepeatedGeneration = generation;
    } catch (const std::system_error&) {
        // No thread to be had: as if the name service had failed.
    }
}

void TICMP::TakeRepeatedLookup(std::chrono::milliseconds wait) {
    if (FRepeatedAnswer.wait_for(wait) != std::future_status::ready) return;
    const platform::LookupAnswer answer = FRepeatedAnswer.get();
    // A lookup of an Address changed since is of no use.
    if (!FAddressResolved || FRepeatedGeneration != FTarget.generation) return;
    if (answer.error != 0) {
        // The name service failing too says nothing about the host: keep probing the address
        // known, and ask again in a minute.
        FLookupAgainAt = FPlatform.MonotonicMilliseconds() + kLookupAgainAfterMs;
        FLookupAgainError = answer.error;
        return;
    }
    Remember(FRepeatedGeneration, answer.address, true);
}

bool TICMP::Resolve() {
    if (FRepeatedAnswer.valid()) TakeRepeatedLookup(std::chrono::milliseconds(0));
    const bool sameAddress = AddressResolved();
    if (sameAddress && !RepeatedLookupDue()) return true;
    QString address;
    uint64_t generation = 0;
    {
        std::lock_guard lock(FLock);
        // A copy of its own: the probing thread never shares (and so never releases) the text
        // that Address writers replace.
        address = QString(FAddress.constData(), FAddress.size());
        generation = FAddressGeneration.load(std::memory_order_relaxed);
    }
    const QByteArray text = address.trimmed().toUtf8();
    platform::IpAddress resolved;
    if (platform::ParseAddressLiteral(text.toStdString(), resolved)) {
        Remember(generation, resolved, false);
        return true;
    }
    if (sameAddress && generation == FTarget.generation) {
        // One repeated lookup at a time: one still under way for an earlier Address delays this.
        if (!FRepeatedAnswer.valid()) {
            StartRepeatedLookup(text, generation);
            if (FRepeatedAnswer.valid()) TakeRepeatedLookup(kRepeatedLookupWait);
        }
        return true;
    }
    const uint16_t error = FPlatform.ResolveHost(text.constData(), resolved);
    if (error != 0) {
        FLastErrorCode = error;
        FTarget = {kNoAddress, generation};
        FAddressResolved = false;
        FLookupAgainError = 0;
        if (FOnDisplay) FOnDisplay(this, QStringLiteral("Unable to resolve ") + address);
        return false;
    }
    Remember(generation, resolved, true);
    return true;
}

void TICMP::Remember(uint64_t generation, platform::IpAddress address, bool fromName) {
    // Typed or found without a zone, a link-local address may still have but one link to be on.
    platform::TakeOnlyLinkLocalZone(address);
    const bool sameAddress = FAddressResolved && generation == FTarget.generation;
    if (fromName) FLookupAgainAt = FPlatform.MonotonicMilliseconds() + kLookupAgainAfterMs;
    if (!sameAddress) FFailStreak = 0;
    FAddressChanged = sameAddress && address != FTarget.address;
    FLookupAgainError = 0;
    FTarget = {address, generation};
    FAddressResolved = true;
    FResolvedFromName = fromName;
}

void TICMP::CountOutcome(const Target& target, uint32_t status) {
    if (target.generation != FTarget.generation) return;
    if (status == platform::IP_SUCCESS) {
        FFailStreak = 0;
    } else if (++FFailStreak == 2) {
        FLookupAgainAt = FPlatform.MonotonicMilliseconds();  // at once
    }
}

int32_t TICMP::Ping() {
    FLastErrorCode = 0;
    FLastRoundTripMicroseconds = 0;
    FAddressChanged = false;
    if ((!TargetCurrent() && !Resolve()) || FTarget.address == kNoAddress) {
        FLastErrorCode = platform::IP_BAD_DESTINATION;
        if (FOnDisplay) FOnDisplay(this, QStringLiteral("Invalid host address"));
        return 0;
    }
    // A copy: a handler may ping in between and move FTarget on.
    const Target target = FTarget;

    // The echo service counts the request size in 16 bits; the buffers follow that count, so a
    // negative or oversized Size can never overrun them.
    const auto size = static_cast<uint16_t>(FSize.load());
    if (FOnEchoRequest) FOnEchoRequest(this);
    // After the handler, which may itself have pinged with another Size.
    if (FReplyArea.size() != kHeaderSize + size) PrepareBuffers(size);
    std::memset(FReplyArea.data(), 0, kHeaderSize);

    platform::IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<uint8_t>(FTTL.load());
    options.Flags = static_cast<uint8_t>(FFlags.load());
    const uint32_t timeout = static_cast<uint32_t>(std::max(FTimeout.load(), 0));
    const auto replySize = static_cast<uint32_t>(FReplyArea.size());
    uint32_t replies = 0;
    if (!target.address.isIpv6) {
        replies = FLibrary->IcmpSendEcho(FHandle, target.address.ipv4, FRequestData.data(), size,
                                         &options, FReplyArea.data(), replySize, timeout);
    } else {
        // Tried again at every IPv6 probe until it opens; meanwhile the service reports the
        // unusable handle in the reply header like any other failure.
        if (FHandle6 == platform::INVALID_ECHO_HANDLE) FHandle6 = FLibrary->Icmp6CreateFile();
        sockaddr_in6 destination{};
        destination.sin6_family = AF_INET6;
        std::memcpy(&destination.sin6_addr, target.address.ipv6.data(), target.address.ipv6.size());
        destination.sin6_scope_id = target.address.zone;
        replies = FLibrary->Icmp6SendEcho(FHandle6, destination, FRequestData.data(), size,
                                          &options, FReplyArea.data(), replySize, timeout);
    }
    FLastErrorCode = FPlatform.GetLastError();
    FLastRoundTripMicroseconds = FPlatform.LastRoundTripMicroseconds();
    const auto result = static_cast<int32_t>(replies);
    std::memcpy(&FLastReply, FReplyArea.data(), kHeaderSize);
    CountOutcome(target, FLastReply.Status);
    if (FOnEchoReply) FOnEchoReply(this, result);
    return result;
}

}  // namespace nodrel
