#pragma once

// The command line's report: nodrel --report FILE.pdf [--from DATE] [--to DATE] [--host HOST],
// and --version. Neither starts the monitor, its window, its tray icon or its single-instance
// guard: a report is made beside a running monitor, reading the journal as another reader.

class QCommandLineParser;

namespace nodrel {

// Adds --report, --from, --to and --host to the program's options.
void AddReportOptions(QCommandLineParser& parser);

// Whether the command line asks for a report or the version, which run without the monitor.
bool IsReportCommand(int argc, char** argv);

// Runs it on Qt's offscreen platform (the PDF writer needs fonts, not a display) and returns
// the exit status: 0 when the report was written or the help shown, 2 after one line on
// standard error for a bad option or date, an unknown host, a journal that cannot be read or a
// file that cannot be written. A file not written is left as it was.
int RunReportCommand(int argc, char** argv);

}  // namespace nodrel
