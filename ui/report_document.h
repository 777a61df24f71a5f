#pragma once

#include <QString>

#include "journal_report.h"

namespace nodrel {

// "KAVREN Nodrel 1.4": the program and version a report names as its maker.
QString ReportProgram();

// Writes `report` to `path` as a PDF of one or two pages of the locale's paper (A4, or US Letter):
// its facts as text that can be searched and copied, the Journal window's plot of the period, and
// its outages, the longest where not all fit. The file is replaced whole or not at all: false,
// with the reason in `error`, when it could not be written. Needs a QGuiApplication, for fonts.
bool WriteReportPdf(const TJournalReport& report, const QString& path, QString* error);

}  // namespace nodrel
