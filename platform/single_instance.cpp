#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QVariantMap>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nodrel::platform {

namespace {

const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");

// "example.kavren.Nodrel" -> "/example/kavren/Nodrel", as org.freedesktop.Application asks.
QString ObjectPath(const QString& applicationId) {
    return u'/' + QString(applicationId).replace(u'.', u'/');
}

bool AskOverBus(const QString& applicationId) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(applicationId, ObjectPath(applicationId),
                                       kApplicationInterface, QStringLiteral("Activate"));
    call << QVariantMap();
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

// Empty without $XDG_RUNTIME_DIR.
QString LockPath(const QString& applicationId) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime)) return {};
    return runtime + u'/' + applicationId + QStringLiteral(".lock");
}

void SayOneRuns(const QString& how) {
    std::fprintf(stderr, "KAVREN Nodrel is already running; %s\n", qPrintable(how));
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

}  // namespace

SingleInstance::SingleInstance(const QString& applicationId) : applicationId_(applicationId) {
    first_ = TakeLockOrAsk();
    // Without a lock the bus alone decides, at once.
    if (first_ && lockFd_ < 0) first_ = ClaimBusNameOrAsk();
    busNameDue_ = first_ && lockFd_ >= 0;
}

SingleInstance::~SingleInstance() {
    if (lockFd_ >= 0) close(lockFd_);
}

bool SingleInstance::TakeLockOrAsk() {
    const QString path = LockPath(applicationId_);
    if (path.isEmpty()) return true;
    // Close-on-exec: a program the monitor starts (a browser for a link) must not keep the lock.
    lockFd_ = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) return true;  // no lock to be had: the bus alone decides
    if (flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        // Ready for SIGUSR1 before anyone can read the number that invites it.
        ListenForSignal();
        const QByteArray pid = QByteArray::number(qint64(getpid()));
        if (ftruncate(lockFd_, 0) != 0 || pwrite(lockFd_, pid.data(), size_t(pid.size()), 0) < 0) {
            std::fprintf(stderr, "Cannot write %s: %s\n", qPrintable(path), strerror(errno));
        }
        return true;
    }

    char text[32] = {};
    const ssize_t length = pread(lockFd_, text, sizeof text - 1, 0);
    close(lockFd_);
    lockFd_ = -1;
    if (AskOverBus(applicationId_)) return false;
    const long pid = length > 0 ? std::strtol(text, nullptr, 10) : 0;
    if (pid > 0 && kill(pid_t(pid), SIGUSR1) == 0) return false;
    SayOneRuns(QStringLiteral("it could not be asked to show its window (lock %1)").arg(path));
    return false;
}

bool SingleInstance::TakeBusName() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return true;
    if (!bus.registerService(applicationId_)) return false;
    bus.registerObject(ObjectPath(applicationId_), new ApplicationObject(this),
                       QDBusConnection::ExportScriptableSlots);
    return true;
}

bool SingleInstance::ClaimBusNameOrAsk() {
    if (TakeBusName()) return true;
    // Owned by a start that found no lock folder, or another one.
    if (!AskOverBus(applicationId_)) {
        SayOneRuns(
            QStringLiteral("it did not answer on the session bus as %1").arg(applicationId_));
    }
    return false;
}

void SingleInstance::ClaimBusName() {
    if (!busNameDue_) return;
    busNameDue_ = false;
    if (TakeBusName()) return;
    // A start that found no lock folder runs on the same bus: this one holds the lock and stays.
    std::fprintf(stderr, "KAVREN Nodrel: %s is held on the session bus by another process\n",
                 qPrintable(applicationId_));
}

void SingleInstance::ListenForSignal() {
    showSignal_ = std::make_unique<SignalListener>(std::initializer_list<int>{SIGUSR1});
    connect(showSignal_.get(), &SignalListener::Received, this, &SingleInstance::ShowRequested);
    if (!showSignal_->Listening()) std::signal(SIGUSR1, SIG_IGN);  // never heard, not an ending
}

}  // namespace nodrel::platform

#include "single_instance.moc"
