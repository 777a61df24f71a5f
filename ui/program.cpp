#include "program.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QSessionManager>
#include <QTextDocument>
#include <QTimer>
#include <QtMath>
#include <cstdio>

#include "floating_window.h"
#include "notifier.h"
#include "ping_thread.h"
#include "single_instance.h"
#include "termination_signals.h"
#include "tray_images.h"

namespace nodrel {

namespace {

const QString kApplicationTitle = QStringLiteral("KAVREN Nodrel");
const QString kNoPingHandle = QStringLiteral("Unable to get ping handle");

void ReportStartError(const QString& message) {
    ApplicationIcon();
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, ErrorBoxText(message),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("StartError"));
    if (message == kNoPingHandle) {
        // Each command on a line of its own, unbroken, to be copied whole.
        box.setInformativeText(
            QStringLiteral("Allow ICMP for users:"
                           "<pre>sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"</pre>"
                           "or let the program open raw sockets:"
                           "<pre>sudo setcap cap_net_raw+ep %1</pre>")
                .arg(QCoreApplication::applicationFilePath().toHtmlEscaped()));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        // The box narrows its texts to wrap them; a command must not be cut instead.
        if (auto* advice = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            QTextDocument laidOut;
            laidOut.setDefaultFont(advice->font());
            laidOut.setHtml(advice->text());
            advice->setMinimumWidth(qCeil(laidOut.idealWidth()));
        }
    }
    box.exec();
}

// How long the message of a failed save stays before a program closed by its user ends.
constexpr int kSaveNoticeMilliseconds = 8000;
// How long an ending session waits at most for the notification server to take the message.
constexpr int kServerAnswerMilliseconds = 1000;

// The first failed save of a run is told once: a line on standard error always, and a
// notification, or, without a notification server, the tray icon's message where the icon can be
// shown. A user who closed the program gets the time to read it; an ending session is never kept
// waiting for more than the server's answer.
class SaveFailureNotice : public QObject {
public:
    explicit SaveFailureNotice(TFloatingWindow& window) : window_(window) {}

    void SessionEnding() { sessionEnding_ = true; }

    void Tell(const QString& path, const QString& reason) {
        if (told_) return;
        told_ = true;
        std::fprintf(stderr, "KAVREN Nodrel: settings not saved to %s: %s\n", qPrintable(path),
                     qPrintable(reason));
        TNotifier& notifier = window_.Notifier();
        const TNotifier::TChannel channel =
            notifier.Tell(QStringLiteral("save"),
                          {QStringLiteral("Settings not saved"),
                           QStringLiteral("%1\n%2").arg(reason, path), true},
                          TNotifier::TFallback::ShowIcon);
        if (channel == TNotifier::TChannel::Nowhere) return;
        const bool ending = sessionEnding_ || qApp->isSavingSession();
        QEventLoop loop;
        QTimer::singleShot(ending ? kServerAnswerMilliseconds : kSaveNoticeMilliseconds, &loop,
                           &QEventLoop::quit);
        if (channel == TNotifier::TChannel::Server) {
            // The server keeps the notification once it has it.
            QObject::connect(&notifier, &TNotifier::Answered, &loop, &QEventLoop::quit);
            loop.exec();
            return;
        }
        if (ending) return;
        window_.hide();  // the close goes on once the message is told
        // The icon stays with its message and nothing else to offer until the message is
        // clicked or its time is up.
        QSystemTrayIcon& tray = window_.TrayIcon();
        QObject::disconnect(&tray, &QSystemTrayIcon::activated, nullptr, nullptr);
        tray.setContextMenu(nullptr);
        QObject::connect(&tray, &QSystemTrayIcon::messageClicked, &loop, &QEventLoop::quit);
        QObject::connect(&tray, &QSystemTrayIcon::activated, &loop, &QEventLoop::quit);
        loop.exec();
    }

private:
    TFloatingWindow& window_;
    bool told_ = false;
    bool sessionEnding_ = false;
};

}  // namespace

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

int RunProgram(platform::EchoPlatform& echoPlatform, platform::SingleInstance* instance) {
    // Hiding to the notification area closes no window; only "Close KAVREN Nodrel" ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));

    TFloatingWindow window(echoPlatform);
    if (window.StartError()) {
        ReportStartError(*window.StartError());
        return 1;
    }
    SaveFailureNotice saveFailureNotice(window);
    QObject::connect(&window, &TFloatingWindow::SaveFailed, &saveFailureNotice,
                     &SaveFailureNotice::Tell);
    // The end of the desktop session, or a signal to end, closes the window as the menu does,
    // so the settings are saved. A session manager asks for the data also for a session save
    // that ends nothing: then the settings are saved and the program runs on.
    platform::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &platform::TerminationSignals::Received,
                     [&] { saveFailureNotice.SessionEnding(); });
    QObject::connect(&terminationSignals, &platform::TerminationSignals::Received, &window,
                     &QWidget::close);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, &QWidget::close);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [&] {
        saveFailureNotice.SessionEnding();
        window.Save();
    });
    if (instance) {
        QObject::connect(instance, &platform::SingleInstance::ShowRequested, &window,
                         &TFloatingWindow::ShowFromTray);
    }

    // Taking the name on the bus costs milliseconds the first paint does not need. What the
    // start leaves free goes back at once, not with the next outcome.
    if (window.StartsShown()) {
        // Queued: runs once the first exposure has been painted.
        QObject::connect(
            &window, &TFloatingWindow::Exposed, &window,
            [instance, &window] {
                if (instance) instance->ClaimBusName();
                window.FollowSleep();
                TrimMemory();
            },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        window.show();
    } else {
        if (instance) instance->ClaimBusName();
        window.FollowSleep();
    }
    return QApplication::exec();
}

int RunFirstProgram() {
    platform::SingleInstance instance(QString::fromLatin1(kApplicationId));
    if (!instance.IsFirst()) return 0;
    return RunProgram(platform::SystemEchoPlatform(), &instance);
}

}  // namespace nodrel
