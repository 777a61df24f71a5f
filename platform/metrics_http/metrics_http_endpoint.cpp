#include "metrics_http_endpoint.h"

#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <memory>

#include "guarded_tcp_server.h"

namespace nodrel::platform {

namespace {

QHttpServerResponse MethodNotAllowed() {
    QHttpServerResponse response(QHttpServerResponder::StatusCode::MethodNotAllowed);
    response.setHeader(QByteArrayLiteral("Allow"), QByteArrayLiteral("GET"));
    return response;
}

}  // namespace

MetricsHttpEndpoint::MetricsHttpEndpoint(MetricsTextSource text, const QByteArray& contentType) {
    server_.route(QStringLiteral("/metrics"),
                  [text = std::move(text), contentType](const QHttpServerRequest& request) {
                      if (request.method() != QHttpServerRequest::Method::Get)
                          return MethodNotAllowed();
                      return QHttpServerResponse(contentType, text());
                  });
    server_.route(QStringLiteral("/"), [](const QHttpServerRequest& request) {
        if (request.method() != QHttpServerRequest::Method::Get) return MethodNotAllowed();
        return QHttpServerResponse(
            QByteArrayLiteral("text/plain; charset=utf-8"),
            QByteArrayLiteral("KAVREN Nodrel: the figures for Prometheus are at /metrics\n"));
    });
}

bool MetricsHttpEndpoint::Listen(const QString& address, uint16_t port, QString* failure) {
    auto tcpServer = std::make_unique<GuardedTcpServer>(server_);
    if (!tcpServer->listen(QHostAddress(address), port)) {
        if (failure) *failure = tcpServer->errorString();
        return false;
    }
    server_.bind(tcpServer.release());  // which takes it as a child
    return true;
}

}  // namespace nodrel::platform
