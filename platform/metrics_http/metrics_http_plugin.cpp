// The plugin's entry: what the program finds through QPluginLoader.

#include <QLoggingCategory>
#include <QObject>

#include "metrics_http_endpoint.h"

namespace nodrel::platform {

class MetricsHttpPlugin : public QObject, public MetricsEndpointFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID NODREL_METRICS_ENDPOINT_FACTORY_IID)
    Q_INTERFACES(nodrel::platform::MetricsEndpointFactory)

public:
    std::unique_ptr<MetricsEndpoint> Make(MetricsTextSource text,
                                          const QByteArray& contentType) override {
        // The server warns of every upgrade request it declines: any client could fill the
        // user's log with them.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
        return std::make_unique<MetricsHttpEndpoint>(std::move(text), contentType);
    }
};

}  // namespace nodrel::platform

#include "metrics_http_plugin.moc"
