#pragma once

// One monitor per session. The first start binds an abstract Unix socket named for the id, the user
// and the runtime folder: binding it is the lock, which the kernel drops with the process, and a
// connection to it is a request to show the window. It also owns the application id as a well-known
// name on the session bus and offers org.freedesktop.Application there, as desktop programs do,
// whose Activate shows the window. A later start finds the socket held and asks there, whether or
// not it has a session bus; where the socket is free but the name is owned (a monitor in another
// network namespace, or one that listens on the bus alone), it asks the name's owner. Nothing is
// read from a file, and no process is ever signalled.

#include <QObject>
#include <QString>
#include <memory>

class QDBusConnection;
class QDeadlineTimer;
class QSocketNotifier;

namespace nodrel::platform {

// One try at one of the two guards below; defined with them.
enum class GuardTry;

// The exit status of a later start whose running monitor could not be asked to show its window.
inline constexpr int kNotAskedExitStatus = 3;

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Decides at once which start this is; in a later one, the running one has been asked, and
    // standard output (the window was shown) or standard error (why not) says how it went.
    // One object per process.
    explicit SingleInstance(const QString& applicationId);
    ~SingleInstance() override;

    // False in a later start.
    bool IsFirst() const { return start_ == Start::First; }

    // What a later start ends with: 0 when the running one showed its window, else
    // kNotAskedExitStatus.
    int LaterStartStatus() const { return start_ == Start::Shown ? 0 : kNotAskedExitStatus; }

    // Gives the instance up, so that a start from now on runs as the first: for a program that
    // is ending, which must not take a new start's request in its last moments.
    void Release();

signals:
    // A later start asked for the window.
    void ShowRequested();

private:
    enum class Start { First, Shown, NotAsked };

    // Each takes its guard or asks whoever holds it; a guard that cannot be had leaves its
    // reason in noGuard.
    GuardTry TakeSocketOrAsk(const QDeadlineTimer& deadline, QString& noGuard);
    GuardTry TakeBusNameOrAsk(QDBusConnection& bus, const QDeadlineTimer& deadline,
                              QString& noGuard);
    void AnswerSocketRequest();

    QString applicationId_;
    Start start_ = Start::First;
    // The object is registered, and the name maybe owned.
    bool onBus_ = false;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> requests_;
};

}  // namespace nodrel::platform
