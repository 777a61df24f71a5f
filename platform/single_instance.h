#pragma once

// One monitor per session. The first start owns the application id as a well-known name on the
// session bus and holds a lock file in $XDG_RUNTIME_DIR; a later start asks it to show its window,
// over the bus (org.freedesktop.Application.Activate) or, without one, with SIGUSR1 to the process
// named in the lock file. The lock is an flock, so one left by a crashed start blocks nobody.

#include <QObject>
#include <QString>
#include <memory>

#include "signal_listener.h"

namespace nodrel::platform {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Decides at once which start this is; in a later one, the running one has been asked.
    // One object per process.
    explicit SingleInstance(const QString& applicationId);
    ~SingleInstance() override;

    // Takes the well-known name on the bus, where the lock file decided and the name was left
    // for later: a window can be up before the program connects to the bus. A later start finds
    // the running one by the lock file's pid meanwhile. Does nothing in a later start, or twice.
    void ClaimBusName();

    // False in a later start; when the running one could not be asked, standard error says so.
    bool IsFirst() const { return first_; }

signals:
    // A later start asked for the window.
    void ShowRequested();

private:
    // True when this process now holds the lock (or there is no folder for one); false when
    // another process does, which then has been asked.
    bool TakeLockOrAsk();
    // Whether the name is now this process's, or there is no bus to hold one.
    bool TakeBusName();
    bool ClaimBusNameOrAsk();
    void ListenForSignal();

    QString applicationId_;
    bool first_ = false;
    bool busNameDue_ = false;
    int lockFd_ = -1;
    std::unique_ptr<SignalListener> showSignal_;
};

}  // namespace nodrel::platform
