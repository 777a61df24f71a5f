#include "metrics_export.h"

#include <QCoreApplication>
#include <cstdio>

#include "floating_window.h"
#include "metrics_text.h"
#include "notifier.h"

namespace nodrel {

namespace {

// As often as the textfile is written.
constexpr int kListenAgainMilliseconds = 15000;
constexpr int kAfterFirstPaintMilliseconds = 200;

QString Url(const TListenAddress& listen) {
    const QString host =
        listen.Address.contains(u':') ? u'[' + listen.Address + u']' : listen.Address;
    return QStringLiteral("http://%1:%2/metrics").arg(host).arg(listen.Port);
}

// Tells of a fault: a line on standard error and a notification, or the tray icon's message.
void Tell(TFloatingWindow& window, const QString& summary, const QString& line) {
    std::fprintf(stderr, "KAVREN Nodrel: %s\n", qPrintable(line));
    window.Notifier().Tell(QStringLiteral("metrics"), {summary, line, false},
                           TNotifier::TFallback::ShowIcon);
}

}  // namespace

std::unique_ptr<TMetricsExport> TMetricsExport::Make(TFloatingWindow& window,
                                                     const TCommandLine& commandLine) {
    UserSettingsStore store;
    TMetricsSettings settings = LoadMetricsSettings(store);
    if (commandLine.MetricsTextfile) settings.TextfileFolder = *commandLine.MetricsTextfile;
    if (commandLine.MetricsListen) settings.ListenAddress = *commandLine.MetricsListen;
    std::optional<TListenAddress> listen;
    if (!settings.ListenAddress.isEmpty()) {
        // The command line's value was checked when it was read: this is the stored one.
        QString failure;
        listen = ParseListenAddress(settings.ListenAddress, &failure);
        if (!listen) {
            Tell(window, QStringLiteral("Figures not served"),
                 QStringLiteral("the stored metricslisten is not used: %1").arg(failure));
        }
    }
    if (settings.TextfileFolder.isEmpty() && !listen) return nullptr;
    return std::unique_ptr<TMetricsExport>(
        new TMetricsExport(window, settings.TextfileFolder, listen));
}

TMetricsExport::TMetricsExport(TFloatingWindow& window, const QString& textfileFolder,
                               std::optional<TListenAddress> listen)
    : window_(window), figures_(window.Settings().Address()), listen_(std::move(listen)) {
    connect(&window, &TFloatingWindow::OutcomeAdded, this,
            [this](bool success, const TOutcomeRecord& record, const QString& host) {
                figures_.Add(success, record, host);
            });
    TOutageWatch& outages = window.Outages();
    connect(&outages, &TOutageWatch::Started, this,
            [this](const TOutage& outage) { figures_.OutageStarted(outage); });
    connect(&outages, &TOutageWatch::Extended, this,
            [this](const TOutage& outage) { figures_.OutageExtended(outage); });
    connect(&outages, &TOutageWatch::Ended, this,
            [this](const TOutage& outage) { figures_.OutageEnded(outage); });

    if (!textfileFolder.isEmpty()) {
        textfile_ = std::make_unique<platform::MetricsTextfile>(
            textfileFolder, [this] { return MetricsText(figures_); });
        connect(textfile_.get(), &platform::MetricsTextfile::Failed, this,
                [this](const QString& reason) {
                    Tell(window_, QStringLiteral("Figures not written"),
                         QStringLiteral("the figures for Prometheus cannot be written to %1: %2; "
                                        "tried again every 15 s")
                             .arg(textfile_->Path(), reason));
                });
        connect(textfile_.get(), &platform::MetricsTextfile::Resumed, this, [this] {
            std::fprintf(stderr, "KAVREN Nodrel: the figures for Prometheus are written to %s\n",
                         qPrintable(textfile_->Path()));
        });
        // Before the program ends: its figures would read as current.
        connect(qApp, &QCoreApplication::aboutToQuit, textfile_.get(),
                &platform::MetricsTextfile::Close);
    }
    listenAgain_.setInterval(kListenAgainMilliseconds);
    connect(&listenAgain_, &QTimer::timeout, this, &TMetricsExport::Listen);

    if (window.StartsShown()) {
        // Once the first paint has left for the screen, which happens when the event loop next
        // waits: loading the endpoint's libraries or a first write before would hold it back.
        connect(
            &window, &TFloatingWindow::Exposed, this,
            [this] {
                QTimer::singleShot(kAfterFirstPaintMilliseconds, this,
                                   &TMetricsExport::StartOutputs);
            },
            Qt::SingleShotConnection);
    } else {
        StartOutputs();
    }
}

void TMetricsExport::StartOutputs() {
    if (textfile_) textfile_->Start();
    if (listen_) Listen();
}

void TMetricsExport::Listen() {
    if (!endpoint_) {
        QString failure;
        endpoint_ = platform::LoadMetricsEndpoint([this] { return MetricsText(figures_); },
                                                  QByteArray(kMetricsContentType), &failure);
        if (!endpoint_) {
            Tell(window_, QStringLiteral("Figures not served"),
                 QStringLiteral("the figures for Prometheus cannot be served: %1").arg(failure));
            return;
        }
    }
    QString failure;
    if (endpoint_->Listen(listen_->Address, listen_->Port, &failure)) {
        listenAgain_.stop();
        if (listenFailed_) {
            std::fprintf(stderr, "KAVREN Nodrel: the figures for Prometheus are served at %s\n",
                         qPrintable(Url(*listen_)));
        }
        return;
    }
    if (!listenFailed_) {
        listenFailed_ = true;
        Tell(window_, QStringLiteral("Figures not served"),
             QStringLiteral("the figures for Prometheus cannot be served at %1: %2; tried again "
                            "every 15 s")
                 .arg(Url(*listen_), failure));
    }
    listenAgain_.start();
}

}  // namespace nodrel
