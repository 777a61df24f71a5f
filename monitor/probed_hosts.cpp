#include "probed_hosts.h"

#include <algorithm>

namespace nodrel {

namespace {

bool NamedInHistory(uint32_t number, const TResultHistory& history) {
    for (int outcome = 1; outcome <= history.StoredOutcomes(); ++outcome) {
        if (history.Record(outcome)->Host == number) return true;
    }
    return false;
}

}  // namespace

void TProbedHosts::SetCurrent(uint32_t number, const QString& text, const TResultHistory& history) {
    if (!FHosts.empty() && FHosts.back().Number == number) return;
    // The probes run one after the other, so an outcome still to come is for the newest outcome's
    // host or a later one.
    const TOutcomeRecord* newest = history.Record(1);
    std::erase_if(FHosts, [&](const THost& host) {
        return newest && host.Number < newest->Host && !NamedInHistory(host.Number, history);
    });
    FHosts.push_back({number, text});
}

QString TProbedHosts::Current() const {
    return FHosts.empty() ? QString() : FHosts.back().Text;
}

const QString* TProbedHosts::Text(uint32_t number) const {
    const auto found = std::ranges::find(FHosts, number, &THost::Number);
    return found != FHosts.end() ? &found->Text : nullptr;
}

}  // namespace nodrel
