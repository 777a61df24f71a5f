#pragma once

// A span's buckets and outages as the journal holds them, read inside a read transaction: the
// Journal window's views and the reports read them alike.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "database.h"
#include "journal_reader.h"

namespace nodrel {

// The rows a read takes: those of one host, or of every host when `host` is empty, before
// `endMs`.
struct TRowFilter {
    QString host;
    int64_t endMs = INT64_MAX;
};

// The median of `values`, reordering them; the mean of the middle two of an even count.
std::optional<double> MedianOf(std::vector<double>& values);

// Fills buckets [first, count) of `view` from the journal.
void ReadBuckets(platform::Database& db, TJournalView& view, int first, const TRowFilter& filter);

// The outages overlapping [beginMs, filter.endMs), newest first.
std::vector<TJournalOutage> ReadOutages(platform::Database& db, int64_t beginMs,
                                        const TRowFilter& filter);

}  // namespace nodrel
