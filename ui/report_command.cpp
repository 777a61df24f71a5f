#include "report_command.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "journal_report.h"
#include "report_document.h"
#include "report_period.h"

namespace nodrel {

namespace {

constexpr int kBadInput = 2;

const QString kReportOption = QStringLiteral("report");
const QString kFromOption = QStringLiteral("from");
const QString kToOption = QStringLiteral("to");
const QString kHostOption = QStringLiteral("host");

// The options that make this a report's run rather than the monitor's; --help is answered before.
const char* const kOwnOptions[] = {"--report", "--from", "--to", "--host", "--version", "-v"};

int Fail(const QString& message) {
    std::fprintf(stderr, "nodrel: %s\n", qUtf8Printable(QString(message).replace(u'\n', u' ')));
    return kBadInput;
}

}  // namespace

void AddReportOptions(QCommandLineParser& parser) {
    parser.addOptions({
        {kReportOption,
         QStringLiteral("Write a report of the journal to <file> (a PDF of one or two pages) and "
                        "end."),
         QStringLiteral("file")},
        {kFromOption,
         QStringLiteral("The report's first day (YYYY-MM-DD) or minute (\"YYYY-MM-DD HH:MM\"), "
                        "local time; by default 7 days before its end."),
         QStringLiteral("date")},
        {kToOption,
         QStringLiteral("The report's last day (YYYY-MM-DD, to its end) or its end "
                        "(\"YYYY-MM-DD HH:MM\"), local time; now by default."),
         QStringLiteral("date")},
        {kHostOption,
         QStringLiteral("The host as typed in Options; by default the one probed last in the "
                        "period."),
         QStringLiteral("host")},
    });
}

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
    DescribeOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) return Fail(parser.errorText());
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s\n", qUtf8Printable(ReportProgram()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().constFirst()));
    }
    if (!parser.isSet(kReportOption)) {
        return Fail(QStringLiteral("--from, --to and --host go with --report FILE.pdf"));
    }
    const QString path = parser.value(kReportOption);
    if (path.isEmpty()) return Fail(QStringLiteral("--report needs the name of a file"));

    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    QString error;
    const std::optional<TReportPeriod> period =
        CommandLinePeriod(parser.value(kFromOption), parser.value(kToOption), now, &error);
    if (!period) return Fail(error);
    TJournalReader reader;
    const std::optional<TJournalReport> read =
        ReadJournalReport(reader, *period, parser.value(kHostOption), now, &error);
    reader.Close();
    if (!read) return Fail(error);
    if (!WriteReportPdf(*read, path, &error)) {
        return Fail(QStringLiteral("%1 was not written: %2").arg(path, error));
    }
    std::printf("Wrote the report of %s to %s\n", qUtf8Printable(read->host), qUtf8Printable(path));
    return 0;
}

}  // namespace nodrel
