#include "journal_span.h"

#include <algorithm>

#include "journal_tables.h"

namespace nodrel {

namespace {

constexpr int64_t kHourMs = 60 * kMinuteMs;
// No finer cut than one that gives a period this many buckets at most.
constexpr int64_t kMostPeriodBuckets = 400;

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

TSpanLayout LayoutPeriod(int64_t beginMs, int64_t endMs, int64_t nowMs, TJournalSpan& scale) {
    const int64_t length = std::max<int64_t>(endMs - beginMs, kMinuteMs);
    scale = TJournalSpan::Year;
    for (int span = 0; span < kJournalSpanCount; ++span) {
        if (length <= CutOf(TJournalSpan(span)).bucketMs * kMostPeriodBuckets) {
            scale = TJournalSpan(span);
            break;
        }
    }
    const TSpanCut cut = CutOf(scale);
    const int count = int((length + cut.bucketMs - 1) / cut.bucketMs);
    const bool rawKept = beginMs >= MinuteStart(nowMs - kRawOutcomeDays * kDayMs) + kMinuteMs;
    return {beginMs, cut.bucketMs, count, cut.fromOutcomes && rawKept};
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
