#include "program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "floating_window.h"
#include "journal.h"
#include "journal_notice.h"
#include "memory_trim.h"
#include "metrics_export.h"
#include "notifier.h"
#include "program_icon.h"
#include "settings.h"
#include "signal_listener.h"
#include "single_instance.h"

namespace nodrel {

namespace {

const QString kApplicationTitle = QStringLiteral("KAVREN Nodrel");
const QString kNoPingHandle = QStringLiteral("Unable to get ping handle");

void ReportStartError(const QString& message) {
    QString advice;
    if (message == kNoPingHandle) {
        advice = QStringLiteral(
                     "Allow ICMP for users:\n"
                     "  sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\"\n"
                     "or let the program open raw sockets:\n"
                     "  sudo setcap cap_net_raw+ep %1\n")
                     .arg(QCoreApplication::applicationFilePath());
    }
    // The same for a user who started the program from a terminal.
    std::fprintf(stderr, "%s: %s\n%s", qUtf8Printable(kApplicationTitle),
                 qUtf8Printable(ErrorBoxText(message)), qUtf8Printable(advice));
    ApplicationIcon();
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, ErrorBoxText(message),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("StartError"));
    if (!advice.isEmpty()) {
        // In the box's details, shown at once: a text field, selectable, as wide as its longest
        // command where the screen allows, which wraps a longer one instead of cutting it, and
        // copies it unbroken.
        box.setDetailedText(advice.trimmed());
        if (auto* buttons = box.findChild<QDialogButtonBox*>()) {
            for (QAbstractButton* button : buttons->buttons()) {
                if (buttons->buttonRole(button) == QDialogButtonBox::ActionRole) button->click();
            }
        }
        if (auto* field = box.findChild<QTextEdit*>()) {
            const QFontMetrics metrics(field->font());
            const QStringList lines = advice.split(u'\n', Qt::SkipEmptyParts);
            int longest = 0;
            for (const QString& line : lines) {
                longest = std::max(longest, metrics.horizontalAdvance(line));
            }
            const int margins =
                2 * (field->frameWidth() + int(field->document()->documentMargin()));
            const int screenWidth = box.screen()->availableGeometry().width();
            field->setMinimumWidth(std::min(longest + margins + 4, screenWidth * 4 / 5));
            field->setFixedHeight(metrics.lineSpacing() * (int(lines.size()) + 2) + margins);
        }
    }
    box.exec();
}

const QString kSaveTopic = QStringLiteral("save");
// How long the message of a failed save stays before a program closed by its user ends.
constexpr int kSaveNoticeMilliseconds = 8000;
// How long an ending session waits at most for the notification server to take the message.
constexpr int kServerAnswerMilliseconds = 1000;

// The first failed save of a run, or a save the disk did not confirm, is told once: a line on
// standard error always, and a notification that outlasts the program, or, without a notification
// server or refused by it, the tray icon's message where the icon can be shown. A user who closed
// the program gets the time to read it; an ending session is never kept waiting for more than the
// server's answer.
class SaveFailureNotice : public QObject {
public:
    explicit SaveFailureNotice(TFloatingWindow& window) : window_(window) {}

    void SessionEnding() { sessionEnding_ = true; }

    void Tell(const StoreFailure& failure) {
        if (told_) return;
        told_ = true;
        // Where the new file took the old one's place, the values are there: no "not saved".
        std::fprintf(stderr, "KAVREN Nodrel: settings %s %s: %s\n",
                     failure.written ? "in" : "not saved to", qPrintable(failure.path),
                     qPrintable(failure.reason));
        TNotifier& notifier = window_.Notifier();
        TNotifier::TChannel channel =
            notifier.Tell(kSaveTopic,
                          {failure.written ? QStringLiteral("Settings saved, not confirmed")
                                           : QStringLiteral("Settings not saved"),
                           QStringLiteral("%1\n%2").arg(failure.reason, failure.path), true, true},
                          TNotifier::TFallback::ShowIcon);
        const bool ending = sessionEnding_ || qApp->isSavingSession();
        QEventLoop loop;
        QTimer::singleShot(ending ? kServerAnswerMilliseconds : kSaveNoticeMilliseconds, &loop,
                           &QEventLoop::quit);
        if (channel == TNotifier::TChannel::Server) {
            // The server keeps the notification once it has it; one it refused goes to the icon.
            const QMetaObject::Connection answered =
                QObject::connect(&notifier, &TNotifier::Answered, &loop,
                                 [&](const QString& topic, TNotifier::TChannel answer) {
                                     if (topic != kSaveTopic) return;
                                     channel = answer;
                                     loop.quit();
                                 });
            loop.exec();
            QObject::disconnect(answered);
        }
        if (channel != TNotifier::TChannel::TrayMessage || ending) return;
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

// A closing program gives its instance up before anything else (the save, the notice of a failed
// one): a start from then on runs, instead of being answered by a copy that is about to end.
class ReleaseOnClose : public QObject {
public:
    ReleaseOnClose(QWidget& window, platform::SingleInstance& instance) : instance_(instance) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) instance_.Release();
        return false;
    }

private:
    platform::SingleInstance& instance_;
};

}  // namespace

void ConnectJournal(TFloatingWindow& window, TJournal& journal) {
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

int RunProgram(platform::EchoPlatform& echoPlatform, platform::SingleInstance* instance,
               const TCommandLine& commandLine) {
    // Hiding to the notification area closes no window; only "Close KAVREN Nodrel" ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));

    TFloatingWindow window(echoPlatform);
    if (window.StartError()) {
        ReportStartError(*window.StartError());
        return 1;
    }
    // What a killed run left on screen says nothing of this one.
    TNotifier::WithdrawEarlierRun();
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
    std::optional<ReleaseOnClose> releaseOnClose;
    if (instance) {
        QObject::connect(instance, &platform::SingleInstance::ShowRequested, &window,
                         &TFloatingWindow::ShowFromTray);
        releaseOnClose.emplace(window, *instance);
    }
    // Made now so no outcome is missed; its database is opened after the first paint.
    std::unique_ptr<TJournal> journal;
    if (window.Settings().JournalOn()) {
        journal = std::make_unique<TJournal>();
        ConnectJournal(window, *journal);
        QObject::connect(journal.get(), &TJournal::Noticed, &window,
                         [&window, path = journal->Path()](const TJournalNotice& notice) {
                             TellJournalNotice(window, path, notice);
                         });
        QObject::connect(
            journal.get(), &TJournal::Noticed, &window,
            [&window](const TJournalNotice& notice) { window.Dialogs().JournalNoticed(notice); });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, journal.get(), &TJournal::Close);
    }
    const std::unique_ptr<TMetricsExport> metrics = TMetricsExport::Make(window, commandLine);

    // What the start leaves free goes back once the first exposure has been painted, not with the
    // next outcome.
    if (window.StartsShown()) {
        QObject::connect(
            &window, &TFloatingWindow::Exposed, &window,
            [&window, &journal] {
                window.FollowSleep();
                if (journal) journal->Start();
                platform::TrimMemory();
            },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        window.show();
    } else {
        window.FollowSleep();
        if (journal) journal->Start();
    }
    return QApplication::exec();
}

int RunFirstProgram(const TCommandLine& commandLine) {
    platform::SingleInstance instance(QString::fromLatin1(kApplicationId));
    if (!instance.IsFirst()) return instance.LaterStartStatus();
    return RunProgram(platform::SystemEchoPlatform(), &instance, commandLine);
}

}  // namespace nodrel
