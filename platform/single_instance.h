#pragma once

// One monitor per session. The first start owns the application id as a well-known name on the
// session bus and offers org.freedesktop.Application there, as desktop programs do; a later start
// calls its Activate, which shows the window. Where there is no session bus, an abstract Unix
// socket named for the id and the user stands in: binding it is the lock, which the kernel drops
// with the process, and a connection to it is the request. Nothing is read from a file, and no
// process is ever signalled.

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

namespace nodrel::platform {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    // Decides at once which start this is; in a later one, the running one has been asked.
    // One object per process.
    explicit SingleInstance(const QString& applicationId);
    ~SingleInstance() override;

    // False in a later start; when the running one could not be asked, standard error says so.
    bool IsFirst() const { return first_; }

    // Gives the instance up, so that a start from now on runs as the first: for a program that
    // is ending, which must not take a new start's request in its last moments.
    void Release();

signals:
    // A later start asked for the window.
    void ShowRequested();

private:
    // Whether this process now holds the name, or has asked the one that does.
    bool TakeBusNameOrAsk();
    bool TakeSocketOrAsk();
    void AnswerSocketRequest();

    QString applicationId_;
    bool first_ = true;
    bool onBus_ = false;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> requests_;
};

}  // namespace nodrel::platform
