#include "ping.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <stdexcept>
#include <system_error>
#include <thread>

#include "name_service.h"

namespace nodrel {

namespace {

QString DottedText(uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

}  // namespace

// Shared between the component and its lookup threads; `owner` is cleared when the component
// goes, so a lookup finishing later posts nothing.
struct TPing::LookupChannel {
    std::mutex lock;
    TPing* owner = nullptr;
};

TPing::TPing(QObject* owner, platform::EchoPlatform& platform)
    : QObject(owner),
      FIcmp(std::make_unique<TICMP>(platform)),
      FLookupChannel(std::make_shared<LookupChannel>()) {
    FLookupChannel->owner = this;
    FIcmp->SetOnDisplay([this](TICMP* icmp, const QString& msg) {
        if (FOnDisplay) FOnDisplay(this, icmp, msg);
    });
    FIcmp->SetOnEchoRequest([this](TICMP* icmp) {
        if (FOnEchoRequest) FOnEchoRequest(this, icmp);
    });
    FIcmp->SetOnEchoReply([this](TICMP* icmp, int32_t status) {
        if (FOnEchoReply) FOnEchoReply(this, icmp, status);
    });
}

TPing::~TPing() {
    AbortDnsLookup();
    std::lock_guard lock(FLookupChannel->lock);
    FLookupChannel->owner = nullptr;
}

int32_t TPing::Ping() { return FIcmp->Ping(); }

void TPing::StartDnsLookup(const QString& target) {
    const QByteArray name = target.toUtf8();
    const uint32_t dotted = inet_addr(name.constData());
    uint64_t lookup = 0;
    {
        std::lock_guard lock(FLookupLock);
        lookup = ++FLookupNumber;  // a pending lookup is replaced: its completion now mismatches
        FLookupPending = dotted == INADDR_NONE;
        FLookupResult = FLookupPending ? QString() : DottedText(dotted);
    }
    if (dotted != INADDR_NONE) {
        if (FOnDnsLookupDone) FOnDnsLookupDone(this, 0);
        return;
    }
    try {
        // A thread of its own per lookup: blocking getaddrinfo is the one resolver that honours
        // every name source of the system, and an abandoned lookup simply runs out on its own.
        std::thread([channel = FLookupChannel, name, lookup] {
            uint32_t address = 0;
            const uint16_t error = platform::ResolveHostIPv4(name.constData(), address);
            std::lock_guard lock(channel->lock);
            if (channel->owner == nullptr) return;
            TPing* owner = channel->owner;
            QMetaObject::invokeMethod(
                owner, [owner, lookup, error, address] {
                    owner->CompleteDnsLookup(lookup, error, address);
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error& failure) {
        {
            std::lock_guard lock(FLookupLock);
            FLookupPending = false;
        }
        throw std::runtime_error(QStringLiteral("%1: can't start DNS lookup, error #%2")
                                     .arg(target)
                                     .arg(failure.code().value())
                                     .toStdString());
    }
}

void TPing::CompleteDnsLookup(uint64_t lookup, uint16_t error, uint32_t address) {
    {
        std::lock_guard lock(FLookupLock);
        if (!FLookupPending || lookup != FLookupNumber) return;
        FLookupPending = false;
        if (error == 0) FLookupResult = DottedText(address);
    }
    if (FOnDnsLookupDone) FOnDnsLookupDone(this, error);
}

void TPing::AbortDnsLookup() {
    {
        std::lock_guard lock(FLookupLock);
        if (!FLookupPending) return;
        FLookupPending = false;
        ++FLookupNumber;
    }
    if (FOnDnsLookupDone) FOnDnsLookupDone(this, platform::WSAEINTR);
}

QString TPing::LookupResult() const {
    std::lock_guard lock(FLookupLock);
    return FLookupResult;
}

}  // namespace nodrel
