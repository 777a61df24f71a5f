#include "guarded_tcp_server.h"

#include <unistd.h>

#include <QTcpSocket>
#include <QTimer>

namespace nodrel::platform {

namespace {

// A scraping Prometheus server holds one connection, a pair of them two.
constexpr qsizetype kMaxConnections = 16;
// Request line and headers; GET needs no body.
constexpr qint64 kMaxRequestBytes = 8 * 1024;
constexpr int kRequestMilliseconds = 10000;

// Watches one connection, as a child of its socket: counts what arrives until the next answer
// leaves, and keeps the deadline.
class ConnectionGuard : public QObject {
public:
    ConnectionGuard(QTcpSocket& socket, QObject& reader)
        : QObject(&socket), socket_(socket), reader_(reader) {
        deadline_.setSingleShot(true);
        connect(&deadline_, &QTimer::timeout, this, &ConnectionGuard::Close);
        // Before the reader's own connection: a request too long is never read.
        connect(&socket, &QIODevice::readyRead, this, &ConnectionGuard::Received);
        connect(&socket, &QIODevice::bytesWritten, this, &ConnectionGuard::Answered);
        deadline_.start(kRequestMilliseconds);
    }

private:
    void Received() {
        // The reader takes everything that has arrived each time: what is there now is new.
        received_ += socket_.bytesAvailable();
        if (received_ > kMaxRequestBytes) Close();
    }

    void Answered() {
        received_ = 0;
        deadline_.start(kRequestMilliseconds);
    }

    void Close() {
        // The reader deletes the socket once it is disconnected.
        disconnect(&socket_, &QIODevice::readyRead, &reader_, nullptr);
        socket_.abort();
    }

    QTcpSocket& socket_;
    QObject& reader_;
    QTimer deadline_;
    qint64 received_ = 0;
};

}  // namespace

GuardedTcpServer::GuardedTcpServer(QObject& reader) : reader_(reader) {}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    // The sockets are this server's children until the reader deletes them.
    if (findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly).size() >= kMaxConnections) {
        ::close(int(descriptor));
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(int(descriptor));
        return;
    }
    // One byte past the bound, so that a request that long is seen and closed, and no more kept.
    socket->setReadBufferSize(kMaxRequestBytes + 1);
    new ConnectionGuard(*socket, reader_);
    addPendingConnection(socket);
}

}  // namespace nodrel::platform
