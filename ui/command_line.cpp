#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "metrics_settings.h"

namespace nodrel {

namespace {

const QString kTextfileOption = QStringLiteral("metrics-textfile");
const QString kListenOption = QStringLiteral("metrics-listen");

void DescribeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Watch whether one host answers ICMP echo requests, in a small floating window.\n"
        "The options of the Qt toolkit, such as -platform xcb, apply as well."));
    parser.addHelpOption();
    parser.addOption({kTextfileOption,
                      QStringLiteral("Write the figures for Prometheus to DIR/nodrel.prom every "
                                     "15 s, for node_exporter's textfile collector; an empty DIR "
                                     "writes none. For this run, in place of the stored "
                                     "\"metricstextfile\"."),
                      QStringLiteral("DIR")});
    parser.addOption({kListenOption,
                      QStringLiteral("Serve the figures for Prometheus at "
                                     "http://ADDRESS:PORT/metrics, e.g. 127.0.0.1:9374 or "
                                     "[::1]:9374; an empty value serves none. For this run, in "
                                     "place of the stored \"metricslisten\"."),
                      QStringLiteral("ADDRESS:PORT")});
    // So that Qt's -platform is not read as -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
}

[[noreturn]] void Refuse(const QString& mistake) {
    std::fprintf(stderr, "nodrel: %s\nSee nodrel --help.\n", qUtf8Printable(mistake));
    std::exit(2);
}

}  // namespace

void AnswerHelp(int argc, char** argv) {
    // The usual start, from the launcher or the session, pays nothing for the parser.
    if (argc < 2) return;
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    DescribeOptions(parser);
    // Qt's options are unknown here: only whether help is asked for counts.
    parser.parse(arguments);
    if (!parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("help-all"))) return;
    const QCoreApplication application(argc, argv);  // names the program in the usage line
    parser.showHelp(0);
}

TCommandLine ReadCommandLine(const QStringList& arguments) {
    if (arguments.size() < 2) return {};
    QCommandLineParser parser;
    DescribeOptions(parser);
    if (!parser.parse(arguments)) Refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        Refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments()[0]));
    }
    TCommandLine commandLine;
    if (parser.isSet(kTextfileOption)) commandLine.MetricsTextfile = parser.value(kTextfileOption);
    if (parser.isSet(kListenOption)) {
        commandLine.MetricsListen = parser.value(kListenOption);
        QString failure;
        if (!commandLine.MetricsListen->isEmpty() &&
            !ParseListenAddress(*commandLine.MetricsListen, &failure)) {
            Refuse(QStringLiteral("--%1: %2").arg(kListenOption, failure));
        }
    }
    return commandLine;
}

}  // namespace nodrel
