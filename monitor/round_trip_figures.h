#pragma once

// A period's round trips summed up for a report: median, 95th percentile, maximum and jitter,
// from the probes' own round trips where the journal keeps them and from per-minute rows where
// it keeps only those.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace nodrel {

struct TRoundTripFigures {
    std::optional<double> medianMs;
    std::optional<double> percentile95Ms;  // the nearest rank: 95 % of round trips are no longer
    std::optional<double> maximumMs;
    // The mean absolute difference between consecutive round trips, over those kept probe by
    // probe.
    std::optional<double> jitterMs;
};

class TRoundTripFigureSums {
public:
    // An answered probe's round trip, in the order of the probes.
    void AddProbe(double rttMs);
    // A minute known only by its row: its answered probes count as that many round trips of its
    // median.
    void AddMinute(int64_t answered, std::optional<double> medianMs,
                   std::optional<double> maximumMs);

    // Reorders what was added.
    TRoundTripFigures Figures();

private:
    // A round trip and how many probes had it.
    std::vector<std::pair<double, int64_t>> weighted_;
    int64_t count_ = 0;
    std::optional<double> maximum_;
    std::optional<double> previous_;
    double differences_ = 0;
    int64_t differenceCount_ = 0;
};

}  // namespace nodrel
