#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "icmp.h"

namespace nodrel {

// The probe component: owns one echo requester, forwards its settings and relays its events with
// itself as sender. Lives on the thread that constructs it; Ping may run on any thread.
class TPing : public QObject {
    Q_OBJECT

public:
    using TPingDisplay = std::function<void(TPing* sender, TICMP* icmp, const QString& msg)>;
    using TPingRequest = std::function<void(TPing* sender, TICMP* icmp)>;
    using TPingReply = std::function<void(TPing* sender, TICMP* icmp, int32_t status)>;

    // Throws TICMPException when the requester cannot be set up.
    explicit TPing(QObject* owner = nullptr,
                   platform::EchoPlatform& platform = platform::SystemEchoPlatform());
    ~TPing() override;

    // One echo exchange on the calling thread; the events fire inside the call.
    virtual int32_t Ping();

    QString Address() const { return FIcmp->Address(); }
    void SetAddress(const QString& address) { FIcmp->SetAddress(address); }
    int32_t Size() const { return FIcmp->Size(); }
    void SetSize(int32_t size) { FIcmp->SetSize(size); }
    int32_t Timeout() const { return FIcmp->Timeout(); }
    void SetTimeout(int32_t timeout) { FIcmp->SetTimeout(timeout); }
    int32_t TTL() const { return FIcmp->TTL(); }
    void SetTTL(int32_t ttl) { FIcmp->SetTTL(ttl); }
    int32_t Flags() const { return FIcmp->Flags(); }
    void SetFlags(int32_t flags) { FIcmp->SetFlags(flags); }

    platform::ICMP_ECHO_REPLY LastReply() const { return FIcmp->LastReply(); }

    void SetOnDisplay(TPingDisplay handler) { FOnDisplay = std::move(handler); }
    void SetOnEchoRequest(TPingRequest handler) { FOnEchoRequest = std::move(handler); }
    void SetOnEchoReply(TPingReply handler) { FOnEchoReply = std::move(handler); }

private:
    std::unique_ptr<TICMP> FIcmp;
    TPingDisplay FOnDisplay;
    TPingRequest FOnEchoRequest;
    TPingReply FOnEchoReply;
};

}  // namespace nodrel
