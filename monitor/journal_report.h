#pragma once

// A report of one host's journal over a period, as a person shows it to a provider: how much of
// the time it was watched, how much of that it answered, its outages, loss and round trips, and
// the buckets of the Journal window's plot. Read in one read transaction, as the window reads.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "journal_reader.h"
#include "report_period.h"
#include "round_trip_figures.h"

namespace nodrel {

struct TJournalReport {
    QString host;           // as typed in Options
    QStringList addresses;  // probed for it, as its outages name them; it, when it is an address
    int64_t beginMs = 0;
    int64_t endMs = 0;  // the period's end, or when the report was made when that came first
    int64_t madeMs = 0;
    // The host's buckets on the period's time axis and its outages in the period, newest first.
    TJournalView view;
    int64_t probes = 0;
    int64_t answered = 0;
    int64_t monitoredMs = 0;    // the minutes with probes for the host
    int64_t unmonitoredMs = 0;  // the others, but those the journal may not have written yet
    int64_t downMs = 0;         // the outages' time within the period
    int64_t outagesMs = 0;      // the outages' durations, in all
    int64_t longestOutageMs = 0;
    TRoundTripFigures roundTrips;
    // The first probe kept probe by probe, and whether per-minute rows stand for older ones.
    std::optional<int64_t> probeByProbeFromMs;
    bool fromMinuteRows = false;

    // The monitored time outside outages, in hundredths of a percent, rounded down so that a
    // host that was down at all never reads as always up; nothing without monitored time.
    std::optional<int64_t> AvailabilityHundredths() const;
};

// Reads the report of `host` over `period` at `nowMs`: of the host as typed, or when it is
// empty, of the host probed last in the period (or in the journal). Nothing, with `error` set
// to one line, when the journal is missing or cannot be read, or has no probe of that host.
std::optional<TJournalReport> ReadJournalReport(TJournalReader& reader, const TReportPeriod& period,
                                                const QString& host, int64_t nowMs, QString* error);

}  // namespace nodrel
