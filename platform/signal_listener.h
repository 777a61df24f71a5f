#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <initializer_list>
#include <memory>
#include <vector>

namespace nodrel::platform {

// Turns POSIX signals into a Qt signal on the thread that created this object. Each signal number
// is heard by one listener at a time; its default handling returns when that listener goes.
class SignalListener : public QObject {
    Q_OBJECT

public:
    explicit SignalListener(std::initializer_list<int> signalNumbers);
    ~SignalListener() override;
    SignalListener(const SignalListener&) = delete;
    SignalListener& operator=(const SignalListener&) = delete;

    // False when no pipe could be had: then nothing is heard and the signals keep their default.
    bool Listening() const { return notifier_ != nullptr; }

signals:
    void Received(int signalNumber);

private:
    void Drain();

    std::vector<int> signalNumbers_;
    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

// SIGTERM, SIGHUP and SIGINT (the end of a session, a closed terminal, Ctrl+C), so the program can
// end the way the user's own close does.
class TerminationSignals : public SignalListener {
public:
    TerminationSignals() : SignalListener({SIGTERM, SIGHUP, SIGINT}) {}
};

}  // namespace nodrel::platform
