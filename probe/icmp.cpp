#include "icmp.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <span>

namespace nodrel {

namespace {

// The maker's web address is a reserved name that reaches nobody.
constexpr char kPayloadText[] = "KAVREN Nodrel ICMP request.  kavren.example  ";
constexpr size_t kHeaderSize = sizeof(platform::ICMP_ECHO_REPLY);

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
        FLibrary->IcmpSendEcho == nullptr) {
        fail("Error loading dll functions");
    }
    FHandle = FLibrary->IcmpCreateFile();
    if (FHandle == platform::INVALID_ECHO_HANDLE) fail("Unable to get ping handle");
}

TICMP::~TICMP() {
    ReleaseServices();
}

void TICMP::ReleaseServices() {
    if (FHandle != platform::INVALID_ECHO_HANDLE) {
        FLibrary->IcmpCloseHandle(FHandle);
        FHandle = platform::INVALID_ECHO_HANDLE;
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
}

uint32_t TICMP::ResolvedAddress() const {
    std::lock_guard lock(FLock);
    return FResolvedAddress;
}

bool TICMP::AddressResolved() const {
    std::lock_guard lock(FLock);
    return FAddressResolved;
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

uint32_t TICMP::Resolve() {
    QString address;
    uint64_t generation = 0;
    {
        std::lock_guard lock(FLock);
        if (FAddressResolved) return FResolvedAddress;
        // A copy of its own: the probing thread never shares (and so never releases) the text
        // that Address writers replace.
        address = QString(FAddress.constData(), FAddress.size());
        generation = FAddressGeneration;
    }
    // The resolution runs unlocked: a new address written meanwhile is not cached over.
    const auto remember = [&](uint32_t resolved, bool found) {
        std::lock_guard lock(FLock);
        if (generation != FAddressGeneration) return;
        FResolvedAddress = resolved;
        FAddressResolved = found;
    };
    const QByteArray text = address.toUtf8();
    uint32_t resolved = inet_addr(text.constData());
    if (resolved == INADDR_NONE) {
        const uint16_t error = FPlatform.ResolveHostIPv4(text.constData(), resolved);
        if (error != 0) {
            FLastErrorCode = error;
            remember(INADDR_NONE, false);
            if (FOnDisplay) FOnDisplay(this, QStringLiteral("Unable to resolve ") + address);
            return INADDR_NONE;
        }
    }
    remember(resolved, true);
    return resolved;
}

int32_t TICMP::Ping() {
    FLastErrorCode = 0;
    const uint32_t destination = Resolve();
    if (destination == INADDR_NONE) {
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
    const uint32_t replies = FLibrary->IcmpSendEcho(
        FHandle, destination, FRequestData.data(), size, &options, FReplyArea.data(),
        static_cast<uint32_t>(FReplyArea.size()), timeout);
    FLastErrorCode = FPlatform.GetLastError();
    const auto result = static_cast<int32_t>(replies);
    {
        std::lock_guard lock(FLock);
        std::memcpy(&FLastReply, FReplyArea.data(), kHeaderSize);
    }
    if (FOnEchoReply) FOnEchoReply(this, result);
    return result;
}

}  // namespace nodrel
