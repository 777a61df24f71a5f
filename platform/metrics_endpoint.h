#pragma once

// The HTTP endpoint that serves the figures to a Prometheus server. It lives in a plugin of its
// own (metrics_http/), loaded when the endpoint is switched on: Qt's network and HTTP server
// libraries then cost a program that does not serve nothing at its start and nothing in memory.

#include <QByteArray>
#include <QString>
#include <QtPlugin>
#include <cstdint>
#include <functional>
#include <memory>

namespace nodrel::platform {

using MetricsTextSource = std::function<QByteArray()>;

class MetricsEndpoint {
public:
    virtual ~MetricsEndpoint() = default;
    // Serves from now on at `address` (an IPv4 or IPv6 literal) and `port`; false, with the
    // system's reason in `failure`, when it cannot listen there.
    virtual bool Listen(const QString& address, uint16_t port, QString* failure) = 0;
};

// What the plugin gives: endpoints that answer GET /metrics with what `text` makes, as
// `contentType`.
class MetricsEndpointFactory {
public:
    virtual ~MetricsEndpointFactory() = default;
    virtual std::unique_ptr<MetricsEndpoint> Make(MetricsTextSource text,
                                                  const QByteArray& contentType) = 0;
};

// The plugin's file, beside the program's: <prefix>/lib/kavren-nodrel/plugins/ for
// <prefix>/bin/nodrel, and the same folders of the build tree.
QString MetricsEndpointPluginPath();

// Loads the plugin and makes an endpoint; nullptr, with why in `failure`, when it cannot be
// loaded.
std::unique_ptr<MetricsEndpoint> LoadMetricsEndpoint(MetricsTextSource text,
                                                     const QByteArray& contentType,
                                                     QString* failure);

}  // namespace nodrel::platform

#define NODREL_METRICS_ENDPOINT_FACTORY_IID "example.kavren.Nodrel.MetricsEndpointFactory/1"
Q_DECLARE_INTERFACE(nodrel::platform::MetricsEndpointFactory, NODREL_METRICS_ENDPOINT_FACTORY_IID)
