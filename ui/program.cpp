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
#include "journal.h"
#include "journal_notice.h"
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

// The first failed save of a run is told once: a line on standard error always, and the tray
// icon's message where the icon can be shown. A user who closed the program gets the time to read
// it; an ending session is never kept waiting.
class SaveFailureNotice : public QObject {
public:
    explicit SaveFailureNotice(TFloatingWindow& window) : window_(window) {}

    void SessionEnding() { sessionEnding_ = true; }

    void Tell(const QString& path, const QString& reason) {
        if (told_) return;
        told_ = true;
        std::fprintf(stderr, "KAVREN Nodrel: settings not saved to %s: %s\n", qPrintable(path),
                     qPrintable(reason));
        if (!window_.TrayAvailable()) return;
        QSystemTrayIcon& tray = window_.TrayIcon();
        tray.show();
        tray.showMessage(QStringLiteral("Settings not saved"),
                         QStringLiteral("%1\n%2").arg(reason, path), QSystemTrayIcon::Warning,
                         kSaveNoticeMilliseconds);
        if (sessionEnding_ || qApp->isSavingSession()) return;
        window_.hide();  // the close goes on once the message is told
        // The icon stays with its message and nothing else to offer until the message is
        // clicked or its time is up.
        QObject::disconnect(&tray, &QSystemTrayIcon::activated, nullptr, nullptr);
        tray.setContextMenu(nullptr);
        QEventLoop loop;
        QTimer::singleShot(kSaveNoticeMilliseconds, &loop, &QEventLoop::quit);
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

void ConnectJournal(TFloatingWindow& window, TJournal& journal) {
    // The host is told when it is set, not asked at every outcome: asking takes the worker's lock.
    journal.SetHost(window.Address());
    QObject::connect(&window, &TFloatingWindow::AddressSet, &journal, &TJournal::SetHost);
    QObject::connect(&window, &TFloatingWindow::OutcomeAdded, &journal, &TJournal::Add);
    TOutageWatch& outages = window.Outages();
    QObject::connect(&outages, &TOutageWatch::Started, &journal, &TJournal::OutageStarted);
    QObject::connect(&outages, &TOutageWatch::Extended, &journal, &TJournal::OutageExtended);
    QObject::connect(&outages, &TOutageWatch::Ended, &journal, &TJournal::OutageEnded);
}

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
    // Made now so no outcome is missed; its database is opened after the first paint.
    std::unique_ptr<TJournal> journal;
    if (window.JournalOn()) {
        journal = std::make_unique<TJournal>();
        ConnectJournal(window, *journal);
        QObject::connect(journal.get(), &TJournal::Noticed, &window,
                         [&window, path = journal->Path()](const TJournalNotice& notice) {
                             TellJournalNotice(window, path, notice);
                         });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, journal.get(), &TJournal::Close);
    }

    // Taking the name on the bus costs milliseconds the first paint does not need. What the
    // start leaves free goes back at once, not with the next outcome.
    if (window.StartsShown()) {
        // Queued: runs once the first exposure has been painted.
        QObject::connect(
            &window, &TFloatingWindow::Exposed, &window,
            [instance, &journal] {
                if (instance) instance->ClaimBusName();
                if (journal) journal->Start();
                TrimMemory();
            },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        window.show();
    } else {
        if (instance) instance->ClaimBusName();
        if (journal) journal->Start();
    }
    return QApplication::exec();
}

int RunFirstProgram() {
    platform::SingleInstance instance(QString::fromLatin1(kApplicationId));
    if (!instance.IsFirst()) return 0;
    return RunProgram(platform::SystemEchoPlatform(), &instance);
}

}  // namespace nodrel
