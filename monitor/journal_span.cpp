#include "journal_span.h"

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
TSpanCut CutOf(TJournalSpan span) {
    switch (span) {
        case TJournalSpan::Hour:
            return {kMinuteMs, 60, true};
        case TJournalSpan::Day:
            return {5 * kMinuteMs, 288, true};
        case TJournalSpan::Week:
            return {30 * kMinuteMs, 336, false};
        case TJournalSpan::Month:
            return {2 * kHourMs, 360, false};
        case TJournalSpan::Year:
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

TSpanLayout LayoutSpan(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs) {
    const TSpanCut cut = CutOf(span);
    // Minute buckets need no local alignment; the local offset is whole minutes anyway.
    const int64_t offset = cut.bucketMs >= kHourMs ? utcOffsetMs : 0;
    const int64_t end = (FloorDiv(nowMs + offset, cut.bucketMs) + 1) * cut.bucketMs - offset;
    return {end - cut.bucketMs * cut.count, cut.bucketMs, cut.count, cut.fromOutcomes};
}

QString SpanName(TJournalSpan span) {
    switch (span) {
        case TJournalSpan::Hour:
            return QStringLiteral("Last hour");
        case TJournalSpan::Day:
            return QStringLiteral("Last day");
        case TJournalSpan::Week:
            return QStringLiteral("Last week");
        case TJournalSpan::Month:
            return QStringLiteral("Last month");
        case TJournalSpan::Year:
            return QStringLiteral("Last year");
    }
    return {};
}

}  // namespace nodrel
