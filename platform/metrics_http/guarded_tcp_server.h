#pragma once

// The HTTP endpoint's TCP server, which bounds what a client can take of the monitor, as Qt's
// HTTP server (6.4) does not: at most 16 connections at once, a later one closed as it comes; at
// most 8 KiB of request before an answer; and at most 10 s from the connection, or from the last
// answer, to the next answer. A connection past either bound is closed; the monitor goes on.

#include <QTcpServer>

namespace nodrel::platform {

class GuardedTcpServer : public QTcpServer {
    Q_OBJECT

public:
    // `reader` reads the requests (the HTTP server): it hears no more of a connection closed here.
    explicit GuardedTcpServer(QObject& reader);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QObject& reader_;
};

}  // namespace nodrel::platform
