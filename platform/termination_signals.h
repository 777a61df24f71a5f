#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace nodrel::platform {

// Turns SIGTERM, SIGHUP and SIGINT (the end of a session, a closed terminal, Ctrl+C) into a Qt
// signal on the thread that created this object, so the program can end the way the user's own
// close does. One instance at a time; the signals' default handling returns when it is destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    TerminationSignals();
    ~TerminationSignals() override;

signals:
    void Received(int signalNumber);

private:
    void Drain();

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace nodrel::platform
