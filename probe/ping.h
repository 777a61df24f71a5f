#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "gui_handover.h"
#include "icmp.h"
#include "name_lookups.h"

namespace nodrel {

// The probe component: owns one echo requester, forwards its settings and relays its events with
// itself as sender. Lives on the thread that constructs it, and is destroyed there; Ping may run
// on any thread.
//
// It also looks host names up without blocking, through the name service its probes use: the
// completion is queued back to the component's thread, where OnDnsLookupDone fires.
class TPing : public QObject {
    Q_OBJECT

public:
    using TPingDisplay = std::function<void(TPing* sender, TICMP* icmp, const QString& msg)>;
    using TPingRequest = std::function<void(TPing* sender, TICMP* icmp)>;
    using TPingReply = std::function<void(TPing* sender, TICMP* icmp, int32_t status)>;
    // `error` is 0 on success, otherwise a socket-layer error number (WSAEINTR when aborted).
    using TDnsLookupDone = std::function<void(TPing* sender, uint16_t error)>;

    // Throws TICMPException when the requester cannot be set up.
    explicit TPing(QObject* owner = nullptr,
                   platform::EchoPlatform& platform = platform::SystemEchoPlatform());
    // A pending lookup is aborted (reported with WSAEINTR) first; then waits for the name
    // service to answer the lookups still under way.
    ~TPing() override;

    // One echo exchange on the calling thread; the events fire inside the call.
    virtual int32_t Ping();

    // Starts looking `target` up, replacing a pending lookup, which then goes unreported. An IPv4
    // or IPv6 address completes before this returns; a name completes later on the component's
    // thread. Throws std::runtime_error when the lookup cannot be started.
    virtual void StartDnsLookup(const QString& target);
    // Abandons the pending lookup, if any, and reports it with WSAEINTR.
    void AbortDnsLookup();
    // The address found by the last successful lookup, as text; empty otherwise.
    QString LookupResult() const;
    void SetOnDnsLookupDone(TDnsLookupDone handler) { FOnDnsLookupDone = std::move(handler); }

    QString Address() const { return FIcmp->Address(); }
    void SetAddress(const QString& address) { FIcmp->SetAddress(address); }
    uint64_t AddressGeneration() const { return FIcmp->AddressGeneration(); }
    int32_t Size() const { return FIcmp->Size(); }
    void SetSize(int32_t size) { FIcmp->SetSize(size); }
    int32_t Timeout() const { return FIcmp->Timeout(); }
    void SetTimeout(int32_t timeout) { FIcmp->SetTimeout(timeout); }
    int32_t TTL() const { return FIcmp->TTL(); }
    void SetTTL(int32_t ttl) { FIcmp->SetTTL(ttl); }
    int32_t Flags() const { return FIcmp->Flags(); }
    void SetFlags(int32_t flags) { FIcmp->SetFlags(flags); }

    platform::ICMP_ECHO_REPLY LastReply() const { return FIcmp->LastReply(); }

    // Each handler is handed to the requester only while it is set: a probe calls none that is
    // not.
    void SetOnDisplay(TPingDisplay handler);
    void SetOnEchoRequest(TPingRequest handler);
    void SetOnEchoReply(TPingReply handler);

private:
    // On the component's thread: reports the answer of `lookup` unless it was replaced or aborted.
    void FinishDnsLookup(uint64_t lookup, const platform::LookupAnswer& answer);

    std::unique_ptr<TICMP> FIcmp;

    // Brings lookup answers to the component's thread. None when it cannot be had: a name's
    // lookup then never completes, while the probes go on.
    std::optional<platform::GuiHandover> FHandover;
    mutable std::mutex FLookupLock;  // guards the lookup state below
    uint64_t FLookupNumber = 0;      // numbers every started lookup; stale answers mismatch
    bool FLookupPending = false;
    QString FLookupResult;
    TDnsLookupDone FOnDnsLookupDone;

    TPingDisplay FOnDisplay;
    TPingRequest FOnEchoRequest;
    TPingReply FOnEchoReply;

    // Last, so that it goes first: it waits for the lookups under way, whose answers use the
    // hand-over.
    platform::NameLookups FLookups;
};

}  // namespace nodrel
