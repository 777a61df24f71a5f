#pragma once

// The Journal window's figures as text: local times, durations, the CSV files it exports and the
// lines it copies.

#include <QString>
#include <cstdint>
#include <vector>

#include "journal_reader.h"

namespace nodrel {

// "2026-12-08 11:15:03", in local time.
QString LocalTimeText(int64_t timeMs);
// A length of time in words: "45 s", "3 min 5 s", "2 h 3 min", "4 d 2 h".
QString DurationText(int64_t durationMs);
// The outage's duration, or "ongoing, " and its duration up to `nowMs` while it lasts.
QString OutageDurationText(const TJournalOutage& outage, int64_t nowMs);

// Where the outage's fault lay: its cause's word, with the router's address where it has one,
// "beyond (192.168.1.1)"; empty for one not placed.
QString OutageWhereText(const TJournalOutage& outage);

// A header line and one line per outage, as RFC 4180 has it (fields with a comma, a quote or a
// line break quoted): started,ended,duration_s,failures,reason,host,address,cause,gateway.
// Times are local; an outage that lasts has its end and duration empty.
QString OutagesCsv(const std::vector<TJournalOutage>& outages);
// minute,host,probes,answered,rtt_min_ms,rtt_median_ms,rtt_max_ms; a missing round trip empty.
QString MinutesCsv(const std::vector<TJournalMinute>& minutes);
// The table's columns, tab-separated, a header line first, for pasting into a spreadsheet or a
// message.
QString OutagesClipboardText(const std::vector<TJournalOutage>& outages, int64_t nowMs);

}  // namespace nodrel
