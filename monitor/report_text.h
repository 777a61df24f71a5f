#pragma once

// A journal report as text, ready to be laid out on paper: its facts line by line, the columns
// of its table of outages, and the name proposed for its file.

#include <QString>
#include <functional>
#include <vector>

#include "journal_report.h"

namespace nodrel {

struct TReportLine {
    QString label;
    QString value;
};

struct TReportSection {
    QString title;  // none for the first: what the report is of
    std::vector<TReportLine> lines;
};

// What the report is of, by `program` ("KAVREN Nodrel 1.4"); its availability; its outages, loss
// and round trips.
std::vector<TReportSection> ReportSections(const TJournalReport& report, const QString& program);

// Where the round trips come from when per-minute rows stand for some; empty otherwise.
QString RoundTripSourceNote(const TJournalReport& report);

struct TOutageColumn {
    QString title;
    bool number = false;  // aligned to the right
    std::function<QString(const TJournalOutage&)> cell;
};

// The table's columns: start in local time, duration, failed probes, reason; one that is empty
// in every row is left out.
std::vector<TOutageColumn> OutageColumns(const TJournalReport& report);

// The outages to list, oldest first: all of them, or where more than `room` are, the `room`
// longest.
std::vector<TJournalOutage> ListedOutages(const TJournalReport& report, size_t room);

// "nodrel-dns.google-2026-12-04-1200-to-2026-12-11-1200.pdf": the host, with what a file name
// should not hold replaced, and the period in local time.
QString ReportFileName(const QString& host, int64_t beginMs, int64_t endMs);

}  // namespace nodrel
