#include "ping.h"

#include <stdexcept>
#include <system_error>
#include <utility>

#include "ip_address.h"
#include "name_service.h"

namespace nodrel {

TPing::TPing(QObject* owner, platform::EchoPlatform& platform)
    : QObject(owner), FIcmp(std::make_unique<TICMP>(platform)), FLookups(platform) {
    try {
        FHandover.emplace();
    } catch (const std::system_error&) {
        // Not told: only the lookups of names need it.
    }
}

TPing::~TPing() {
    AbortDnsLookup();
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
    platform::IpAddress literal;
    const bool isLiteral = platform::ParseAddressLiteral(name.toStdString(), literal);
    uint64_t lookup = 0;
    {
        std::lock_guard lock(FLookupLock);
        lookup = ++FLookupNumber;  // a pending lookup is replaced: its answer now mismatches
        FLookupPending = !isLiteral;
        FLookupResult =
            isLiteral ? QString::fromStdString(platform::AddressText(literal)) : QString();
    }
    if (isLiteral) {
        if (FOnDnsLookupDone) FOnDnsLookupDone(this, 0);
        return;
    }
    try {
        FLookups.Start(name, [this, lookup](const platform::LookupAnswer& answer) {
            if (FHandover)
                FHandover->Post([this, lookup, answer] { FinishDnsLookup(lookup, answer); });
        });
    } catch (const std::system_error& failure) {
        {
            std::lock_guard lock(FLookupLock);
            if (lookup == FLookupNumber) FLookupPending = false;
        }
        // One substitution for both: a '%' in the target is never taken for a placeholder.
        throw std::runtime_error(QStringLiteral("%1: can't start DNS lookup, error #%2")
                                     .arg(target, QString::number(failure.code().value()))
                                     .toStdString());
    }
}

void TPing::FinishDnsLookup(uint64_t lookup, const platform::LookupAnswer& answer) {
    {
        std::lock_guard lock(FLookupLock);
        if (!FLookupPending || lookup != FLookupNumber) return;
        FLookupPending = false;
        if (answer.error == 0)
            FLookupResult = QString::fromStdString(platform::AddressText(answer.address));
    }
    if (FOnDnsLookupDone) FOnDnsLookupDone(this, answer.error);
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
