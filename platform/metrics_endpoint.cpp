#include "metrics_endpoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QPluginLoader>

namespace nodrel::platform {

QString MetricsEndpointPluginPath() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../lib/kavren-nodrel/plugins/nodrel-metrics-http.so"));
}

std::unique_ptr<MetricsEndpoint> LoadMetricsEndpoint(MetricsTextSource text,
                                                     const QByteArray& contentType,
                                                     QString* failure) {
    // The loader only unloads the plugin when asked to: the instance outlives it.
    QPluginLoader loader(QDir::cleanPath(MetricsEndpointPluginPath()));
    auto* factory = qobject_cast<MetricsEndpointFactory*>(loader.instance());
    if (!factory) {
        if (failure) *failure = loader.errorString();
        return nullptr;
    }
    return factory->Make(std::move(text), contentType);
}

}  // namespace nodrel::platform
