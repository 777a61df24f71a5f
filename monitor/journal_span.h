#pragma once

// The spans the Journal window offers and how each is cut into buckets on one time axis.

#include <QString>
#include <cstdint>

namespace nodrel {

enum class TJournalSpan { Hour, Day, Week, Month, Year };

inline constexpr int kJournalSpanCount = 5;

// A span cut into `count` buckets of `bucketMs` each, the last holding `nowMs`.
struct TSpanLayout {
    int64_t beginMs = 0;
    int64_t bucketMs = 0;
    int count = 0;
    // The finest spans read the raw outcomes, the others the per-minute rows.
    bool fromOutcomes = false;

    int64_t EndMs() const { return beginMs + bucketMs * count; }
    int64_t BucketStart(int index) const { return beginMs + bucketMs * index; }
    // The bucket holding `timeMs`, or -1 outside the span.
    int BucketOf(int64_t timeMs) const;
    bool operator==(const TSpanLayout&) const = default;
};

// The buckets end at the bucket boundary after `nowMs`; boundaries of an hour or longer fall on
// the local clock's, `utcOffsetMs` being the local time's offset at `nowMs`.
TSpanLayout LayoutSpan(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs);

// "Last hour", "Last day", ...
QString SpanName(TJournalSpan span);

}  // namespace nodrel
