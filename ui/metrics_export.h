#pragma once

// The monitor's figures for Prometheus: counted from the outcomes and outages the window is
// handed, written for node_exporter's textfile collector and served over HTTP, each where the
// settings or the command line ask for it. With both off nothing of it is made or loaded.

#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

#include "command_line.h"
#include "metrics_endpoint.h"
#include "metrics_figures.h"
#include "metrics_settings.h"
#include "metrics_textfile.h"

namespace nodrel {

class TFloatingWindow;

class TMetricsExport : public QObject {
    Q_OBJECT

public:
    // Counts from now on, and starts writing and serving once the window is first painted (at
    // once for a window that starts hidden). Nothing when both ways out are off.
    static std::unique_ptr<TMetricsExport> Make(TFloatingWindow& window,
                                                const TCommandLine& commandLine);

private:
    TMetricsExport(TFloatingWindow& window, const QString& textfileFolder,
                   std::optional<TListenAddress> listen);

    void StartOutputs();
    void Listen();

    TFloatingWindow& window_;
    TMetricsFigures figures_;
    std::unique_ptr<platform::MetricsTextfile> textfile_;
    std::optional<TListenAddress> listen_;
    std::unique_ptr<platform::MetricsEndpoint> endpoint_;
    QTimer listenAgain_;
    bool listenFailed_ = false;
};

}  // namespace nodrel
