#include "icmp.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <span>

namespace nodrel {

namespace {

// The maker's web address is a reserved name that reaches nobody.
constexpr char kPayloadText[] = "KAVREN Nodrel ICMP request.  kavren.example  ";
constexpr size_t kHeaderSize = sizeof(platform::ICMP_ECHO_REPLY);
// How long a failing name waits between two repeated lookups.
constexpr int64_t kLookupAgainAfterMs = 60'000;
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
    ++FAddressGeneration;
    FAddressResolved = false;
    FAddressChanged = false;
    FLookupAgainError = 0;
    FFailStreak = 0;
}

platform::IpAddress TICMP::ResolvedAddress() const {
    std::lock_guard lock(FLock);
    return FResolvedAddress;
}

bool TICMP::AddressResolved() const {
    std::lock_guard lock(FLock);
    return FAddressResolved;
}

bool TICMP::AddressChanged() const {
    std::lock_guard lock(FLock);
    return FAddressChanged;
}

uint16_t TICMP::LookupAgainError() const {
    std::lock_guard lock(FLock);
    return FLookupAgainError;
}

uint64_t TICMP::AddressGeneration() const {
    std::lock_guard lock(FLock);
    return FAddressGeneration;
}

platform::ICMP_ECHO_REPLY TICMP::LastReply() const {
    std::lock_guard lock(FLock);
    return FLastReply;
}

void TICMP::PrepareBuffers(uint16_t size) {
    if (FRequestData.size() == size && FReplyArea.size() == kHeaderSize + size) return;
    // New buffers of the exact size, so a large Size once does not hold its memory for good.
    FRequestData = std::vector<char>(size);
    WriteRequestData(FRequestData);
    FReplyArea = std::vector<unsigned char>(kHeaderSize + size);
}

std::optional<TICMP::Target> TICMP::Resolve() {
    QString address;
    uint64_t generation = 0;
    bool lookingAgain = false;
    {
        std::lock_guard lock(FLock);
        lookingAgain = FAddressResolved && FResolvedFromName && FFailStreak >= 2 &&
                       FPlatform.MonotonicMilliseconds() >= FLookupAgainAt;
        FAddressChanged = false;
        FProbedGeneration = FAddressGeneration;
        if (FAddressResolved && !lookingAgain) return Target{FResolvedAddress, FAddressGeneration};
        // A copy of its own: the probing thread never shares (and so never releases) the text
        // that Address writers replace.
        address = QString(FAddress.constData(), FAddress.size());
        generation = FAddressGeneration;
    }
    // The resolution runs unlocked: a new address written meanwhile is not cached over.
    const QByteArray text = address.trimmed().toUtf8();
    platform::IpAddress resolved;
    if (platform::ParseAddressLiteral(text.toStdString(), resolved)) {
        Remember(generation, resolved, false);
        return Target{resolved, generation};
    }
    const uint16_t error = FPlatform.ResolveHost(text.constData(), resolved);
    if (error != 0 && lookingAgain) {
        // The name service failing too says nothing about the host: keep probing the address
        // known, and ask again in a minute.
        std::lock_guard lock(FLock);
        FLookupAgainAt = FPlatform.MonotonicMilliseconds() + kLookupAgainAfterMs;
        if (generation == FAddressGeneration) FLookupAgainError = error;
        return Target{FResolvedAddress, generation};
    }
    if (error != 0) {
        FLastErrorCode = error;
        {
            std::lock_guard lock(FLock);
            if (generation == FAddressGeneration) FResolvedAddress = kNoAddress;
        }
        if (FOnDisplay) FOnDisplay(this, QStringLiteral("Unable to resolve ") + address);
        return std::nullopt;
    }
    Remember(generation, resolved, true);
    return Target{resolved, generation};
}

void TICMP::Remember(uint64_t generation, const platform::IpAddress& address, bool fromName) {
    std::lock_guard lock(FLock);
    if (generation != FAddressGeneration) return;
    if (fromName) FLookupAgainAt = FPlatform.MonotonicMilliseconds() + kLookupAgainAfterMs;
    FAddressChanged = FAddressResolved && address != FResolvedAddress;
    FLookupAgainError = 0;
    FResolvedAddress = address;
    FAddressResolved = true;
    FResolvedFromName = fromName;
}

void TICMP::CountOutcome(const Target& target, uint32_t status) {
    if (target.generation != FAddressGeneration) return;
    if (status == platform::IP_SUCCESS) {
        FFailStreak = 0;
    } else if (++FFailStreak == 2) {
        FLookupAgainAt = FPlatform.MonotonicMilliseconds();  // at once
    }
}

uint32_t TICMP::Send(const platform::IpAddress& destination, uint16_t size,
                     const platform::IP_OPTION_INFORMATION& options, uint32_t timeout) {
    const auto replySize = static_cast<uint32_t>(FReplyArea.size());
    if (!destination.isIpv6) {
        return FLibrary->IcmpSendEcho(FHandle, destination.ipv4, FRequestData.data(), size,
                                      &options, FReplyArea.data(), replySize, timeout);
    }
    // Tried again at every IPv6 probe until it opens; meanwhile the service reports the unusable
    // handle in the reply header like any other failure.
    if (FHandle6 == platform::INVALID_ECHO_HANDLE) FHandle6 = FLibrary->Icmp6CreateFile();
    return FLibrary->Icmp6SendEcho(FHandle6, destination.ipv6, FRequestData.data(), size, &options,
                                   FReplyArea.data(), replySize, timeout);
}

int32_t TICMP::Ping() {
    FLastErrorCode = 0;
    const std::optional<Target> target = Resolve();
    if (!target || target->address == kNoAddress) {
        FLastErrorCode = platform::IP_BAD_DESTINATION;
        if (FOnDisplay) FOnDisplay(this, QStringLiteral("Invalid host address"));
        return 0;
    }

    // The echo service counts the request size in 16 bits; the buffers follow that count, so a
    // negative or oversized Size can never overrun them.
    const auto size = static_cast<uint16_t>(FSize.load());
    if (FOnEchoRequest) FOnEchoRequest(this);
    // After the handler, which may itself have pinged with another Size.
    PrepareBuffers(size);
    std::memset(FReplyArea.data(), 0, kHeaderSize);

    platform::IP_OPTION_INFORMATION options{};
    options.Ttl = static_cast<uint8_t>(FTTL.load());
    options.Flags = static_cast<uint8_t>(FFlags.load());
    const uint32_t timeout = static_cast<uint32_t>(std::max(FTimeout.load(), 0));
    const uint32_t replies = Send(target->address, size, options, timeout);
    FLastErrorCode = FPlatform.GetLastError();
    const auto result = static_cast<int32_t>(replies);
    {
        std::lock_guard lock(FLock);
        std::memcpy(&FLastReply, FReplyArea.data(), kHeaderSize);
        CountOutcome(*target, FLastReply.Status);
    }
    if (FOnEchoReply) FOnEchoReply(this, result);
    return result;
}

}  // namespace nodrel
