#pragma once

// The system's sleep, as logind announces it on the system bus (PrepareForSleep). While it
// follows, the watch holds a delay lock, so that the system waits for the Sleeping handlers
// before it sleeps; the lock is given back as soon as they have run, and taken again on waking.
// Without a system bus or logind nothing is ever announced.

#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace nodrel::platform {

class SleepWatch : public QObject {
    Q_OBJECT

public:
    explicit SleepWatch(QObject* parent = nullptr);

signals:
    // The system is about to sleep: what must stop stops before the handler returns.
    void Sleeping();
    // The system has woken up.
    void Woke();

private slots:
    void PrepareForSleep(bool sleeping);

private:
    void TakeDelayLock();

    QDBusUnixFileDescriptor delayLock_;  // closed with the last copy
};

}  // namespace nodrel::platform
