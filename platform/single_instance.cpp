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
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace nodrel::platform {

// Held: the guard is this process's now; Free: it cannot be had; Shown and NotAsked: the running
// one holds it and was asked; Gone: it ended before answering.
enum class GuardTry { Held, Free, Shown, NotAsked, Gone };

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

// "process 1234 (nodrel)": what a user needs to find the process, "" when it is not known.
QString ProcessText(quint32 pid) {
    if (pid == 0) return {};
    QFile command(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString name = command.open(QIODevice::ReadOnly)
                             ? QString::fromLocal8Bit(command.readAll().trimmed())
                             : QString();
    return name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                          : QStringLiteral("process %1 (%2)").arg(pid).arg(name);
}

void SayNoGuard(const QString& why) {
    std::fprintf(stderr, "KAVREN Nodrel: another copy could start beside this one: %s\n",
                 qPrintable(why));
}

void SayNotAnswered(quint32 pid) {
    const QString process = ProcessText(pid);
    std::fprintf(stderr,
                 "KAVREN Nodrel is already running%s but did not answer within %d s; its window "
                 "was not shown. If it hangs, end it, then start again.\n",
                 qPrintable(process.isEmpty() ? process : " as " + process),
                 kAskMilliseconds / 1000);
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

// Asks the name's owner by its unique name, so that an error is known to come from the owner
// asked and not from one that took the name meanwhile.
GuardTry AskBusOwner(QDBusConnection& bus, const QString& applicationId,
                     const QDeadlineTimer& deadline) {
    QDBusConnectionInterface& names = *bus.interface();
    const QString owner = names.serviceOwner(applicationId);
    if (owner.isEmpty()) return GuardTry::Gone;
    QDBusMessage call = QDBusMessage::createMethodCall(
        owner, ObjectPath(applicationId), kApplicationInterface, QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage reply =
        bus.call(call, QDBus::Block, std::max(1, int(deadline.remainingTime())));
    if (reply.type() == QDBusMessage::ReplyMessage) return GuardTry::Shown;
    const quint32 pid = names.servicePid(owner).value();
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply")) {
        SayNotAnswered(pid);
        return GuardTry::NotAsked;
    }
    // An owner that gave the name up between our try and our call is no longer there.
    if (names.serviceOwner(applicationId) != owner) return GuardTry::Gone;
    const QString process = ProcessText(pid);
    std::fprintf(stderr,
                 "KAVREN Nodrel: %s owns %s on the session bus and could not be asked to show "
                 "a window: %s: %s\nIt is an older KAVREN Nodrel or another program: close it, "
                 "then start again.\n",
                 qPrintable(process.isEmpty() ? QStringLiteral("another program") : process),
                 qPrintable(applicationId), qPrintable(reply.errorName()),
                 qPrintable(reply.errorMessage()));
    return GuardTry::NotAsked;
}

// The abstract socket of this id, user and runtime folder, the user bus's scope: nothing in the
// file system to be left behind. Abstract names are seen by every process of the network namespace.
socklen_t SocketAddress(const QString& applicationId, sockaddr_un& address) {
    QByteArray name = applicationId.toUtf8() + '.' + QByteArray::number(qulonglong(getuid()));
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) name += ':' + runtime;
    address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::min(name.size(), qsizetype(sizeof address.sun_path - 1));
    std::memcpy(address.sun_path + 1, name.constData(), length);
    return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// The process at the other end, when it runs as this user.
std::optional<ucred> PeerOfThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
        return std::nullopt;
    }
    return peer;
}

// The running copy answers a byte once it is asked for its window; a connection closed unanswered
// was cut off by its end.
GuardTry AwaitAnswer(int fd, quint32 pid, const QDeadlineTimer& deadline) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, int(deadline.remainingTime())) != 1) {
        SayNotAnswered(pid);
        return GuardTry::NotAsked;
    }
    char answer = 0;
    return read(fd, &answer, 1) == 1 ? GuardTry::Shown : GuardTry::Gone;
}

// A socket closed with the scope that made it, unless it is handed on.
class OwnedSocket {
public:
    OwnedSocket() : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~OwnedSocket() {
        if (fd_ >= 0) close(fd_);
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;

    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

}  // namespace

SingleInstance::SingleInstance(const QString& applicationId) : applicationId_(applicationId) {
    const QDeadlineTimer deadline(kAskMilliseconds);
    // The running one may be starting (bound, not yet listening) or ending (its name given up).
    const auto persist = [&](const auto& attempt) {
        GuardTry outcome = attempt();
        for (; outcome == GuardTry::Gone; outcome = attempt()) {
            if (deadline.hasExpired()) {
                SayNotAnswered(0);
                return GuardTry::NotAsked;
            }
            QThread::msleep(kRetryMilliseconds);
        }
        return outcome;
    };
    QString noSocket, noBusName;
    GuardTry outcome = persist([&] { return TakeSocketOrAsk(deadline, noSocket); });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if ((outcome == GuardTry::Held || outcome == GuardTry::Free) && bus.isConnected()) {
        // The object comes first, so that whoever finds the name can call Activate at once.
        bus.registerObject(ObjectPath(applicationId_), new ApplicationObject(this),
                           QDBusConnection::ExportScriptableSlots);
        onBus_ = true;
        outcome = persist([&] { return TakeBusNameOrAsk(bus, deadline, noBusName); });
    }
    switch (outcome) {
        case GuardTry::Free:
            if (socket_ < 0) SayNoGuard(noBusName.isEmpty() ? noSocket : noBusName);
            return;
        case GuardTry::Held:
            return;
        case GuardTry::Shown:
            std::printf("KAVREN Nodrel is already running; its window was shown.\n");
            start_ = Start::Shown;
            break;
        case GuardTry::NotAsked:
        case GuardTry::Gone:
            start_ = Start::NotAsked;
            break;
    }
    Release();
}

SingleInstance::~SingleInstance() {
    Release();
}

GuardTry SingleInstance::TakeSocketOrAsk(const QDeadlineTimer& deadline, QString& noGuard) {
    sockaddr_un address;
    const socklen_t length = SocketAddress(applicationId_, address);
    const auto* name = reinterpret_cast<const sockaddr*>(&address);
    OwnedSocket fd;
    // The bind is the lock: one process at a time holds the name, until it ends.
    if (fd.Get() >= 0 && ::bind(fd.Get(), name, length) == 0 && listen(fd.Get(), 8) == 0) {
        socket_ = fd.Release();
        requests_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
        connect(requests_.get(), &QSocketNotifier::activated, this,
                &SingleInstance::AnswerSocketRequest);
        return GuardTry::Held;
    }
    if (fd.Get() < 0 || errno != EADDRINUSE) {
        noGuard = QString::fromLocal8Bit(std::strerror(errno));
        return GuardTry::Free;
    }
    // A connection is the request. Refused, the holder has bound the name but not yet listens
    // (it is starting), or has just ended: the next try tells.
    if (::connect(fd.Get(), name, length) != 0) return GuardTry::Gone;
    const std::optional<ucred> holder = PeerOfThisUser(fd.Get());
    if (!holder) {
        noGuard = QStringLiteral("another user's process holds its name");
        return GuardTry::Free;
    }
    return AwaitAnswer(fd.Get(), quint32(holder->pid), deadline);
}

GuardTry SingleInstance::TakeBusNameOrAsk(QDBusConnection& bus, const QDeadlineTimer& deadline,
                                          QString& noGuard) {
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken =
        bus.interface()->registerService(applicationId_);
    if (!taken.isValid()) {
        noGuard = taken.error().message();
        return GuardTry::Free;
    }
    if (taken.value() == QDBusConnectionInterface::ServiceRegistered) return GuardTry::Held;
    return AskBusOwner(bus, applicationId_, deadline);
}

// One connection per wake-up: the notifier comes again while more are waiting. Another user's
// connection is closed unanswered and asks for nothing.
void SingleInstance::AnswerSocketRequest() {
    const int client = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) return;
    const bool asked = PeerOfThisUser(client).has_value();
    if (asked) {
        [[maybe_unused]] const ssize_t written = write(client, "1", 1);
    }
    close(client);
    if (asked) emit ShowRequested();
}

// The name goes before the socket: a start that finds the socket free finds the name free too.
void SingleInstance::Release() {
    if (onBus_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(applicationId_);
        bus.unregisterObject(ObjectPath(applicationId_));
        onBus_ = false;
    }
    requests_.reset();
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
}

}  // namespace nodrel::platform

#include "single_instance.moc"
