#include "single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace nodrel::platform {

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");

// How long a later start waits for the running one: it may itself be starting, or ending.
constexpr int kAskMilliseconds = 10000;
// Between two tries while the running one is not ready to answer.
constexpr unsigned long kRetryMilliseconds = 50;

// "example.kavren.Nodrel" -> "/example/kavren/Nodrel", as org.freedesktop.Application asks.
QString ObjectPath(const QString& applicationId) {
    return u'/' + QString(applicationId).replace(u'.', u'/');
}

void SayOneRuns(const QString& how) {
    std::fprintf(stderr, "KAVREN Nodrel is already running; %s\n", qPrintable(how));
}

void SayNoGuard(const QString& why) {
    std::fprintf(stderr, "KAVREN Nodrel: another copy could start beside this one: %s\n",
                 qPrintable(why));
}

// What the running instance offers on the bus: Activate shows its window.
class ApplicationObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationObject(SingleInstance* instance) : QObject(instance) {
        connect(this, &ApplicationObject::Activated, instance, &SingleInstance::ShowRequested);
    }

public slots:
    Q_SCRIPTABLE void Activate(const QVariantMap&) { emit Activated(); }

signals:
    void Activated();
};

enum class Answer { Shown, NotThere, Silent };

Answer AskOverBus(QDBusConnection& bus, const QString& applicationId, int milliseconds) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(applicationId, ObjectPath(applicationId),
                                       kApplicationInterface, QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage reply = bus.call(call, QDBus::Block, milliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage) return Answer::Shown;
    // An owner that gave the name up between our try and our call no longer has the object.
    return reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply")
               ? Answer::Silent
               : Answer::NotThere;
}

// The abstract socket of this id and user: nothing in the file system to be left behind.
socklen_t SocketAddress(const QString& applicationId, sockaddr_un& address) {
    const QByteArray name = applicationId.toUtf8() + '.' + QByteArray::number(qulonglong(getuid()));
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), qsizetype(sizeof address.sun_path - 1));
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}

bool AnswerArrives(int fd, int milliseconds) {
    pollfd readable{fd, POLLIN, 0};
    char answer = 0;
    return poll(&readable, 1, milliseconds) == 1 && read(fd, &answer, 1) == 1;
}

}  // namespace

SingleInstance::SingleInstance(const QString& applicationId) : applicationId_(applicationId) {
    first_ = QDBusConnection::sessionBus().isConnected() ? TakeBusNameOrAsk() : TakeSocketOrAsk();
}

SingleInstance::~SingleInstance() {
    Release();
}

bool SingleInstance::TakeBusNameOrAsk() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The object comes first, so that whoever finds the name can call Activate at once.
    auto* application = new ApplicationObject(this);
    bus.registerObject(ObjectPath(applicationId_), application,
                       QDBusConnection::ExportScriptableSlots);
    const QDeadlineTimer deadline(kAskMilliseconds);
    while (!deadline.hasExpired()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken =
            bus.interface()->registerService(applicationId_);
        if (!taken.isValid()) {
            SayNoGuard(taken.error().message());
            return true;
        }
        if (taken.value() == QDBusConnectionInterface::ServiceRegistered) {
            onBus_ = true;
            return true;
        }
        const Answer answer = AskOverBus(bus, applicationId_, int(deadline.remainingTime()));
        if (answer == Answer::Shown) break;
        if (answer == Answer::Silent) {
            SayOneRuns(
                QStringLiteral("it did not answer on the session bus as %1").arg(applicationId_));
            break;
        }
        // The owner is ending and has given the name up: it is ours to take on the next try.
        QThread::msleep(kRetryMilliseconds);
    }
    bus.unregisterObject(ObjectPath(applicationId_));
    delete application;
    return false;
}

bool SingleInstance::TakeSocketOrAsk() {
    sockaddr_un address;
    const socklen_t length = SocketAddress(applicationId_, address);
    const auto* name = reinterpret_cast<const sockaddr*>(&address);
    const QDeadlineTimer deadline(kAskMilliseconds);
    do {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            SayNoGuard(QString::fromLocal8Bit(std::strerror(errno)));
            return true;
        }
        // The bind is the lock: one process at a time holds the name, until it ends.
        if (::bind(fd, name, length) == 0) {
            if (listen(fd, 8) != 0) {
                SayNoGuard(QString::fromLocal8Bit(std::strerror(errno)));
                close(fd);
                return true;
            }
            socket_ = fd;
            requests_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            connect(requests_.get(), &QSocketNotifier::activated, this,
                    &SingleInstance::AnswerSocketRequest);
            return true;
        }
        if (errno != EADDRINUSE) {
            SayNoGuard(QString::fromLocal8Bit(std::strerror(errno)));
            close(fd);
            return true;
        }
        // A connection is the request; the running copy answers once its window is asked for.
        if (::connect(fd, name, length) == 0) {
            if (!PeerIsThisUser(fd)) {
                close(fd);
                SayNoGuard(QStringLiteral("another user's process holds its name"));
                return true;
            }
            const bool answered = AnswerArrives(fd, int(deadline.remainingTime()));
            close(fd);
            if (!answered) SayOneRuns(QStringLiteral("it did not answer"));
            return false;
        }
        // Refused: the holder has bound the name but not yet listens (it is starting), or has
        // just ended; either way the next try tells.
        close(fd);
        QThread::msleep(kRetryMilliseconds);
    } while (!deadline.hasExpired());
    SayOneRuns(QStringLiteral("it did not answer"));
    return false;
}

// One connection per wake-up: the notifier comes again while more are waiting.
void SingleInstance::AnswerSocketRequest() {
    const int client = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) return;
    const bool asked = PeerIsThisUser(client);
    if (asked) {
        [[maybe_unused]] const ssize_t written = write(client, "1", 1);
    }
    close(client);
    if (asked) emit ShowRequested();
}

void SingleInstance::Release() {
    if (onBus_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(ObjectPath(applicationId_));
        bus.unregisterService(applicationId_);
        onBus_ = false;
    }
    requests_.reset();
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
}

}  // namespace nodrel::platform

#include "single_instance.moc"
