#pragma once

// The period a report covers: the Journal window's span, or the dates of the command line.

#include <QString>
#include <cstdint>
#include <optional>

#include "journal_span.h"

namespace nodrel {

struct TReportPeriod {
    int64_t beginMs = 0;
    int64_t endMs = 0;  // may lie ahead: the report ends when it is made
    // How the plot cuts it, and on which span's time axis.
    TJournalSpan scale = TJournalSpan::Week;
    TSpanLayout layout;
};

// The Journal window's span at `nowMs`, cut as the window cuts it.
TReportPeriod SpanPeriod(TJournalSpan span, int64_t nowMs, int64_t utcOffsetMs);

// A local time as the command line gives it: "2026-12-04 18:30", or "2026-12-04" for the start
// of that day or, `dayEnd`, its end.
std::optional<int64_t> ParseLocalTime(const QString& text, bool dayEnd);

// The period of the command line's --from and --to, each empty when not given: the last 7 days
// by default, the 7 days before --to, or from --from up to now. Nothing, with `error` set, for a
// date that is none or a period that ends before it begins.
std::optional<TReportPeriod> CommandLinePeriod(const QString& from, const QString& to,
                                               int64_t nowMs, QString* error);

}  // namespace nodrel
