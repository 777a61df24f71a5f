#include "ping.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QCoreApplication>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

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
}

TPing::~TPing() {
    AbortDnsLookup();
    std::lock_guard lock(FLookupChannel->lock);
    FLookupChannel->owner = nullptr;
}

int32_t TPing::Ping() {
    return FIcmp->Ping();
}

void TPing::SetOnDisplay(TPingDisplay handler) {
    FOnDisplay = std::move(handler);
    FIcmp->SetOnDisplay(
        !FOnDisplay ? TICMP::DisplayEvent()
                    : [this](TICMP* icmp, const QString& msg) { FOnDisplay(this, icmp, msg); });
}

void TPing::SetOnEchoRequest(TPingRequest handler) {
    FOnEchoRequest = std::move(handler);
    FIcmp->SetOnEchoRequest(!FOnEchoRequest ? TICMP::EchoRequestEvent()
                                            : [this](TICMP* icmp) { FOnEchoRequest(this, icmp); });
}

void TPing::SetOnEchoReply(TPingReply handler) {
    FOnEchoReply = std::move(handler);
    FIcmp->SetOnEchoReply(
        !FOnEchoReply ? TICMP::EchoReplyEvent()
                      : [this](TICMP* icmp, int32_t status) { FOnEchoReply(this, icmp, status); });
}

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
            if (channel->owner != nullptr)
                channel->owner->FinishDnsLookup({lookup, error, address});
        }).detach();
    } catch (const std::system_error& failure) {
        {
            std::lock_guard lock(FLookupLock);
            FLookupPending = false;
        }
        // One substitution for both: a '%' in the target is never taken for a placeholder.
        throw std::runtime_error(QStringLiteral("%1: can't start DNS lookup, error #%2")
                                     .arg(target, QString::number(failure.code().value()))
                                     .toStdString());
    }
}

void TPing::FinishDnsLookup(const FinishedLookup& finished) {
    std::lock_guard lock(FLookupLock);
    if (!FLookupPending || finished.number != FLookupNumber) return;
    FFinishedLookup = finished;
    // The event carries nothing: the outcome travels under FLookupLock. The event is made and
    // posted under it too, and looked at under it, so that race detectors, which cannot see the
    // locks of Qt's queue, see the hand-over.
    QCoreApplication::postEvent(this, new QEvent(LookupDoneEvent));
}

bool TPing::event(QEvent* event) {
    std::unique_lock lock(FLookupLock);
    if (event->type() != LookupDoneEvent) {
        lock.unlock();
        return QObject::event(event);
    }
    const std::optional<FinishedLookup> finished = std::exchange(FFinishedLookup, std::nullopt);
    if (!finished || !FLookupPending || finished->number != FLookupNumber) return true;
    FLookupPending = false;
    const uint16_t error = finished->error;
    if (error == 0) FLookupResult = DottedText(finished->address);
    lock.unlock();
    if (FOnDnsLookupDone) FOnDnsLookupDone(this, error);
    return true;
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
