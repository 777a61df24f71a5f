#pragma once

// The endpoint through Qt's HTTP server: GET /metrics answers the figures, GET / a line that says
// where they are; another path is not found (404), another method on these not allowed (405).

#include <QHttpServer>

#include "metrics_endpoint.h"

namespace nodrel::platform {

class MetricsHttpEndpoint : public MetricsEndpoint {
public:
    MetricsHttpEndpoint(MetricsTextSource text, const QByteArray& contentType);

    bool Listen(const QString& address, uint16_t port, QString* failure) override;

private:
    QHttpServer server_;
};

}  // namespace nodrel::platform
