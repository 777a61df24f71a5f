#include "ping.h"

namespace nodrel {

TPing::TPing(QObject* owner, platform::EchoPlatform& platform)
    : QObject(owner), FIcmp(std::make_unique<TICMP>(platform)) {
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

TPing::~TPing() = default;

int32_t TPing::Ping() { return FIcmp->Ping(); }

}  // namespace nodrel
