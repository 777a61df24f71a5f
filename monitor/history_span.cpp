#include "history_span.h"

namespace nodrel {

namespace {

constexpr int64_t kMinuteMs = 60'000;
constexpr int64_t kHourMs = 60 * kMinuteMs;
constexpr int64_t kDayMs = 24 * kHourMs;

struct TSpanCut {
    int64_t bucketMs;
    int count;
    bool fromOutcomes;
};

// A few hundred buckets at most: about one per pixel column of a wide window, and a year's
// minutes fold into days that one query can sum.
TSpanCut CutOf(THistorySpan span) {
    switch (span) {
        case THistorySpan::Hour:
            return {kMinuteMs, 60, true};
        case THistorySpan::Day:
            return {5 * kMinuteMs, 288, true};
        case THistorySpan::Week:
            return {30 * kMinuteMs, 336, false};
        case THistorySpan::Month:
            return {2 * kHourMs, 360, false};
        case THistorySpan::Year:
            return {kDayMs, 365, false};
    }
    return {kMinuteMs, 60, true};
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

}  // namespace

int TSpanLayout::BucketOf(int64_t timeMs) const {
    if (bucketMs <= 0 || timeMs < beginMs || timeMs >= EndMs()) return -1;
    return static_cast<int>((timeMs - beginMs) / bucketMs);
}

TSpanLayout LayoutSpan(THistorySpan span, int64_t nowMs, int64_t utcOffsetMs) {
    const TSpanCut cut = CutOf(span);
    // Minute buckets need no local alignment; the local offset is whole minutes anyway.
    const int64_t offset = cut.bucketMs >= kHourMs ? utcOffsetMs : 0;
    const int64_t end = (FloorDiv(nowMs + offset, cut.bucketMs) + 1) * cut.bucketMs - offset;
    return {end - cut.bucketMs * cut.count, cut.bucketMs, cut.count, cut.fromOutcomes};
}

QString SpanName(THistorySpan span) {
    switch (span) {
        case THistorySpan::Hour:
            return QStringLiteral("Last hour");
        case THistorySpan::Day:
            return QStringLiteral("Last day");
        case THistorySpan::Week:
            return QStringLiteral("Last week");
        case THistorySpan::Month:
            return QStringLiteral("Last month");
        case THistorySpan::Year:
            return QStringLiteral("Last year");
    }
    return {};
}

}  // namespace nodrel
