#include "report_command.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>

#include "journal_report.h"
#include "report_document.h"
#include "report_period.h"

namespace nodrel {

namespace {

constexpr int kBadInput = 2;

const char* const kOwnOptions[] = {"--report", "--from",     "--to",      "--host", "--help",
                                   "-h",       "--help-all", "--version", "-v"};

int Fail(const QString& message) {
    std::fprintf(stderr, "nodrel: %s\n", qUtf8Printable(QString(message).replace(u'\n', u' ')));
    return kBadInput;
}

}  // namespace

bool IsReportCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : kOwnOptions) {
            const size_t length = std::strlen(option);
            if (std::strncmp(argv[i], option, length) == 0 &&
                (argv[i][length] == '\0' || argv[i][length] == '=')) {
                return true;
            }
        }
    }
    return false;
}

int RunReportCommand(int argc, char** argv) {
    // It shows nothing, so it runs the same with a display, without one, or from a session whose
    // platform is set for the monitor's window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NODREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "KAVREN Nodrel watches whether one host answers ICMP echo requests, in a small floating "
        "window, and keeps a journal of what it saw. Without options it starts the monitor (Qt's "
        "options, such as -platform xcb, apply). With --report it writes a PDF report of the "
        "journal and ends: no window, and it may run while the monitor runs."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("Write a report of the journal to <file> (a PDF of one or two pages) and "
                       "end."),
        QStringLiteral("file"));
    const QCommandLineOption from(
        QStringLiteral("from"),
        QStringLiteral("The report's first day (YYYY-MM-DD) or minute (\"YYYY-MM-DD HH:MM\"), "
                       "local time; by default 7 days before its end."),
        QStringLiteral("date"));
    const QCommandLineOption to(
        QStringLiteral("to"),
        QStringLiteral("The report's last day (YYYY-MM-DD, to its end) or its end "
                       "(\"YYYY-MM-DD HH:MM\"), local time; now by default."),
        QStringLiteral("date"));
    const QCommandLineOption host(
        QStringLiteral("host"),
        QStringLiteral("The host as typed in Options; by default the one probed last in the "
                       "period."),
        QStringLiteral("host"));
    parser.addOptions({report, from, to, host});

    if (!parser.parse(QCoreApplication::arguments())) return Fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help-all"))) {
        parser.process(QCoreApplication::arguments());  // shows Qt's options too, and ends
    }
    if (parser.isSet(help)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s\n", qUtf8Printable(ReportProgram()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().constFirst()));
    }
    if (!parser.isSet(report)) {
        return Fail(QStringLiteral("--from, --to and --host go with --report FILE.pdf"));
    }
    const QString path = parser.value(report);
    if (path.isEmpty()) return Fail(QStringLiteral("--report needs the name of a file"));

    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    QString error;
    const std::optional<TReportPeriod> period =
        CommandLinePeriod(parser.value(from), parser.value(to), now, &error);
    if (!period) return Fail(error);
    TJournalReader reader;
    const std::optional<TJournalReport> read =
        ReadJournalReport(reader, *period, parser.value(host), now, &error);
    reader.Close();
    if (!read) return Fail(error);
    if (!WriteReportPdf(*read, path, &error)) {
        return Fail(QStringLiteral("%1 was not written: %2").arg(path, error));
    }
    std::printf("Wrote the report of %s to %s\n", qUtf8Printable(read->host), qUtf8Printable(path));
    return 0;
}

}  // namespace nodrel
