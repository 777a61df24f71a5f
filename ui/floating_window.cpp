#include "floating_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QMouseEvent>

#include "hover_readout.h"
#include "notifier.h"
#include "sleep_watch.h"
#include "sound_player.h"
#include "window_menu.h"
#include "window_place.h"
#include "window_tray.h"
#include "x11_desktop.h"

namespace nodrel {

namespace {

// The window's designed size and the frame panel's designed width; the loaded settings replace
// them, except the width in a size mode that is neither 1 nor 2.
constexpr int kDesignedWidth = 814;
constexpr int kDesignedHeight = 99;
constexpr int kDesignedPanelWidth = 761;
constexpr int kDesignedPanelHeight = 53;

constexpr double kTransparentOpacity = 148.0 / 255.0;
constexpr int kTrayHintLength = 127;

const QString kProductName = QStringLiteral("KAVREN Nodrel");

// One notification at a time tells of the outages: the end replaces the start.
const QString kOutageTopic = QStringLiteral("outage");

}  // namespace

TFloatingWindow::TFloatingWindow(platform::EchoPlatform& echoPlatform, TSoundPlayer playSound)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      framePanel_(new TFramePanel(this)),
      surface_(new TDrawingSurface(framePanel_)),
      place_(new TWindowPlace(*this)),
      readout_(new THoverReadout(surface_, history_, render_, probedHosts_)),
      worker_(StartWorker(echoPlatform)),
      settings_(*this, *place_, *framePanel_, render_, worker_, probedHosts_, history_),
      announcer_(outages_, AnnouncerOutlets(std::move(playSound))),
      dialogs_(*this, outages_) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Nodrel"));
    resize(kDesignedWidth, kDesignedHeight);
    move(192, 107);
    framePanel_->setGeometry(16, 30, kDesignedPanelWidth, kDesignedPanelHeight);
    surface_->setGeometry(1, 1, kDesignedPanelWidth - 2, kDesignedPanelHeight - 2);
    for (QWidget* control : {static_cast<QWidget*>(framePanel_), static_cast<QWidget*>(surface_)}) {
        control->installEventFilter(this);
    }
    connect(surface_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { WindowMenu().popup(surface_->mapToGlobal(at)); });
    connect(place_, &TWindowPlace::Exposed, this, [this] {
        // Mapped: the manager now keeps the window's states, and takes requests to change them.
        RequestDesktopStates(this);
        emit Exposed();
    });
    connect(&settings_, &TWindowSettings::MarksChanged, this, &TFloatingWindow::ShowMarks);
    history_.Reset();
    if (!worker_) return;
    LoadSettings(settings_);
    ApplyWidth(render_.modenum);
    framePanel_->move(0, 0);
    UpdateTitles();
    ApplyTransparency();
    ApplyHeight();
    place_->KeepOnScreen({kFallbackLeft, settings_.FirstMonitorHeight() - kDesignedHeight});
    DrawHistory();
    worker_->Resume();
    // The window never has a taskbar button (its Tool flag): hidden, only the tray icon is left.
    startsShown_ = settings_.ShowAtStart() || !TrayAvailable();
    if (!startsShown_) Tray().Icon().setVisible(true);
}

TPingThread* TFloatingWindow::StartWorker(platform::EchoPlatform& echoPlatform) {
    try {
        return new TPingThread(
            this,
            [this](bool success, const TOutcomeRecord& record) { AddResult(success, record); },
            echoPlatform);
    } catch (const std::exception& error) {
        startError_ = QString::fromLocal8Bit(error.what());
        return nullptr;
    }
}

TOutageAnnouncer::TOutlets TFloatingWindow::AnnouncerOutlets(TSoundPlayer playSound) {
    return {
        .soundsOn = [this] { return settings_.SoundsMarked(); },
        .notificationsOn = [this] { return settings_.NotifyMarked(); },
        .playSound = playSound ? std::move(playSound)
                               : [](std::string_view name) { platform::PlaySoundFile(name); },
        .tell =
            [this](const platform::DesktopNotice& notice) {
                Notifier().Tell(kOutageTopic, notice);
            },
        .withdraw =
            [this] {
                if (notifier_) notifier_->Withdraw(kOutageTopic);
            },
    };
}

// The worker is left running: the process ends without waiting for it.
TFloatingWindow::~TFloatingWindow() = default;

QMenu& TFloatingWindow::WindowMenu() {
    if (!windowMenu_) {
        windowMenu_ = new TWindowMenu(*this, *this);
        ShowMarks();
    }
    return *windowMenu_;
}

void TFloatingWindow::ShowMarks() {
    if (windowMenu_) windowMenu_->ShowMarks(settings_.Marks());
}

TWindowTray& TFloatingWindow::Tray() {
    if (!tray_) {
        tray_ = new TWindowTray(*this, *this);
        tray_->ShowImage(trayImage_);
        tray_->Icon().setToolTip(TrayHint());
        connect(tray_, &TWindowTray::PresenceChanged, this, &TFloatingWindow::CheckTrayHost);
    }
    return *tray_;
}

TNotifier& TFloatingWindow::Notifier() {
    if (notifier_ == nullptr) {
        notifier_ = new TNotifier(*this, [this]() -> TWindowTray& { return Tray(); });
        // A notice clicked while the program closes (its failed save) brings nothing back.
        connect(notifier_, &TNotifier::Activated, this, [this] {
            if (!closing_) ShowFromTray();
        });
    }
    return *notifier_;
}

QSystemTrayIcon& TFloatingWindow::TrayIcon() {
    return Tray().Icon();
}

QMenu& TFloatingWindow::TrayMenu() {
    return Tray().Menu();
}

void TFloatingWindow::CheckTrayHost() {
    if (!closing_ && isHidden() && !TrayAvailable()) ShowFromTray();
}

void TFloatingWindow::ApplyWidth(uint8_t mode) {
    int columns = 0;
    if (mode == 1) columns = kGridColumns;
    if (mode == 2) columns = kSmallGridColumns;
    if (columns != 0) {
        framePanel_->resize(columns * (render_.w + render_.ws) - render_.ws + 4,
                            framePanel_->height());
    }
    resize(framePanel_->width(), height());
}

void TFloatingWindow::ApplyHeight() {
    const int panelHeight = 10 * (render_.h + render_.hs) - render_.hs + 4;
    framePanel_->resize(framePanel_->width(), panelHeight);
    surface_->resize(surface_->width(), panelHeight + render_.hs - 3);
    resize(width(), panelHeight);
}

void TFloatingWindow::ApplyTransparency() {
    setWindowOpacity(settings_.TransparentMarked() ? kTransparentOpacity : 1.0);
}

QString TFloatingWindow::TrayHint() const {
    return windowTitle().left(kTrayHintLength);
}

void TFloatingWindow::UpdateTitles() {
    // Not the application's display name: Qt would append that to every other window's title.
    setWindowTitle(kProductName + QStringLiteral(" - ") + settings_.Address());
    if (tray_) tray_->Icon().setToolTip(TrayHint());
}

// An outcome's redraw and a command's look the same: the picture is always composed whole,
// background included.
void TFloatingWindow::DrawHistory() {
    QImage picture =
        ComposeHistory(history_, render_, framePanel_->size(), surface_->height(), colourRegister_);
    if (!picture.isNull()) surface_->SetPicture(std::move(picture), QColor(ToRgb(render_.col5)));
}

void TFloatingWindow::AddResult(bool success, const TOutcomeRecord& record) {
    const TOutcomeEffects effects = history_.AddResult(success, record);
    const QString* known = probedHosts_.Text(record.Host);
    const QString host = known ? *known : QString();
    // Before the outage watch: an outage told counts the outcome that made it.
    emit OutcomeAdded(success, record, host);
    // Before the drawing: the alarm sounds while the picture still shows the outcome before.
    outages_.Add(success, record, host);
    DrawHistory();
    // The tray is told only of a change: each new image travels to the panel.
    if (effects.IconImage != trayImage_) {
        trayImage_ = effects.IconImage;
        if (tray_) tray_->ShowImage(trayImage_);
    }
    readout_->Refresh();
}

void TFloatingWindow::showEvent(QShowEvent* event) {
    if (event->spontaneous()) return;
    place_->Shown();
    if (tray_) tray_->Icon().setVisible(false);
    // The window manager forgets the window's states when it is withdrawn: state them again
    // before every mapping.
    SetDesktopStates(this);
}

void TFloatingWindow::hideEvent(QHideEvent* event) {
    if (event->spontaneous()) return;
    if (!closing_) Tray().Icon().setVisible(true);
}

void TFloatingWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    place_->Moved();
}

bool TFloatingWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    place_->NativeEvent(eventType, message);
    return QWidget::nativeEvent(eventType, message, result);
}

void TFloatingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    // Hidden by the manager with the rest of another workspace (ICCCM's iconic state): it shows
    // the window again with its workspace.
    if (!X11OnCurrentWorkspace(this)) return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    // Iconified with the group of a dialog of ours that the user minimised: the dialog, which
    // keeps the window's input while it is open, comes back with it, or nothing could be used.
    if (QWidget* dialog = QApplication::activeModalWidget()) {
        ShowFromTray();
        dialog->setWindowState(dialog->windowState() & ~Qt::WindowMinimized);
        dialog->raise();
        return;
    }
    // Iconified by the user through the manager (a shortcut, "show desktop"): a borderless
    // window has no taskbar button to come back from, so it goes to the notification area, or,
    // without one, stays where it is.
    if (TrayAvailable()) {
        hide();
    } else {
        ShowFromTray();
    }
}

void TFloatingWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        StopProbing();
        // What the notices said of the watch no longer holds once the program has ended.
        if (notifier_) notifier_->WithdrawAll();
        Save();
        QCoreApplication::quit();
    }
    event->accept();
}

void TFloatingWindow::Save() {
    if (const auto failure = SaveSettings(settings_)) emit SaveFailed(*failure);
}

bool TFloatingWindow::TrayAvailable() {
    return Tray().Available();
}

void TFloatingWindow::ShowFromTray() {
    show();
    raise();
}

void TFloatingWindow::MinimizeToTray() {
    // Without a notification area nothing could bring the window back.
    if (TrayAvailable()) hide();
}

void TFloatingWindow::FollowSleep() {
    auto* sleep = new platform::SleepWatch(this);
    connect(sleep, &platform::SleepWatch::Sleeping, this, &TFloatingWindow::StopProbing);
    connect(sleep, &platform::SleepWatch::Woke, this, [this] {
        announcer_.Woke(QDateTime::currentMSecsSinceEpoch());
        if (worker_) worker_->ResumeProbing();
    });
}

void TFloatingWindow::StopProbing() {
    if (worker_) worker_->SuspendProbing();
    outages_.Interrupt(QDateTime::currentMSecsSinceEpoch());
}

void TFloatingWindow::SwitchSize() {
    render_.modenum = render_.modenum == 1 ? 2 : 1;
    ApplyWidth(render_.modenum);
    DrawHistory();
}

void TFloatingWindow::CloseProgram() {
    close();
}

void TFloatingWindow::SetSounds(bool on) {
    settings_.SetSoundsMarked(on);
}

void TFloatingWindow::SetNotifications(bool on) {
    settings_.SetNotifyMarked(on);
}

void TFloatingWindow::SetTransparent(bool on) {
    settings_.SetTransparentMarked(on);
    ApplyTransparency();
}

void TFloatingWindow::SetViewMode(uint8_t viewMode) {
    settings_.MarkViewModeItem(viewMode);
    render_.viewmode = viewMode;
    DrawHistory();
}

void TFloatingWindow::SetBlinkMode(uint8_t blinkMode) {
    settings_.MarkBlinkModeItem(blinkMode);
    render_.blinkmode = blinkMode;
    DrawHistory();
}

void TFloatingWindow::ChooseColour(ColourSlot slot, const QString& what) {
    if (const std::optional<QColor> chosen =
            dialogs_.PickColour(QColor(ToRgb(settings_.Colour(slot))), what)) {
        settings_.SetColour(slot, FromRgb(chosen->rgb()));
    }
    DrawHistory();
}

void TFloatingWindow::ChooseFrameColour(const QString& what) {
    if (const std::optional<QColor> chosen = dialogs_.PickColour(framePanel_->Colour(), what)) {
        framePanel_->SetColour(*chosen);
    }
}

void TFloatingWindow::ShowOptions() {
    const std::optional<TProbeOptions> chosen =
        dialogs_.PickOptions({settings_.Address(), settings_.Timeout(), settings_.Interval(),
                              render_.w, render_.h, render_.ws, render_.hs});
    if (!chosen) return;
    settings_.SetAddress(chosen->Host);
    settings_.SetTimeout(chosen->Timeout);
    settings_.SetInterval(chosen->Interval);
    UpdateTitles();
    render_.w = chosen->W;
    render_.h = chosen->H;
    render_.ws = chosen->WS;
    render_.hs = chosen->HS;
    ApplyWidth(render_.modenum);
    ApplyHeight();
    DrawHistory();
}

void TFloatingWindow::ShowAbout() {
    dialogs_.ShowAbout();
}

void TFloatingWindow::ShowJournal() {
    dialogs_.ShowJournal();
}

// The frame and the drawing surface take the mouse: the left button drags the window, a double
// click switches its size.
bool TFloatingWindow::eventFilter(QObject* watched, QEvent* event) {
    // Looked at as a mouse event only once its type says it is one.
    const auto mouse = [event] { return static_cast<const QMouseEvent*>(event); };
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse()->buttons() & Qt::LeftButton) place_->Press(mouse()->position().toPoint());
            return false;
        case QEvent::MouseMove:
            if (mouse()->buttons() & Qt::LeftButton) {
                place_->DragTo(*static_cast<QWidget*>(watched),
                               mouse()->globalPosition().toPoint());
            }
            return false;
        case QEvent::MouseButtonDblClick:
            if (mouse()->button() != Qt::LeftButton) return false;
            SwitchSize();
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

}  // namespace nodrel
