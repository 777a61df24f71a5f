#include "round_trip_figures.h"

#include <algorithm>
#include <cmath>

namespace nodrel {

void TRoundTripFigureSums::AddProbe(double rttMs) {
    weighted_.emplace_back(rttMs, 1);
    ++count_;
    maximum_ = std::max(maximum_.value_or(rttMs), rttMs);
    if (previous_) {
        differences_ += std::abs(rttMs - *previous_);
        ++differenceCount_;
    }
    previous_ = rttMs;
}

void TRoundTripFigureSums::AddMinute(int64_t answered, std::optional<double> medianMs,
                                     std::optional<double> maximumMs) {
    if (answered <= 0 || !medianMs) return;
    weighted_.emplace_back(*medianMs, answered);
    count_ += answered;
    const double highest = maximumMs.value_or(*medianMs);
    maximum_ = std::max(maximum_.value_or(highest), highest);
}

TRoundTripFigures TRoundTripFigureSums::Figures() {
    TRoundTripFigures figures;
    if (count_ == 0) return figures;
    std::sort(weighted_.begin(), weighted_.end());
    // The round trip of the probe at `rank`, counted from 1 in order of length.
    const auto atRank = [this](int64_t rank) {
        int64_t seen = 0;
        for (const auto& [rtt, weight] : weighted_) {
            seen += weight;
            if (seen >= rank) return rtt;
        }
        return weighted_.back().first;
    };
    figures.medianMs = count_ % 2 == 1 ? atRank(count_ / 2 + 1)
                                       : (atRank(count_ / 2) + atRank(count_ / 2 + 1)) / 2;
    figures.percentile95Ms = atRank((count_ * 95 + 99) / 100);
    figures.maximumMs = maximum_;
    if (differenceCount_ > 0) figures.jitterMs = differences_ / double(differenceCount_);
    return figures;
}

}  // namespace nodrel
