#include "floating_window.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "about_box.h"
#include "hover_readout.h"
#include "menu_items.h"
#include "options_dialog.h"
#include "sound_player.h"
#include "tray_images.h"
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

// How long the server must keep the window at a place other than the one it asked for before
// Qt is told it is there: a window manager framing the window passes through places of its own
// for as long as a loaded desktop takes.
constexpr std::chrono::milliseconds kPlaceHoldTime{1000};
constexpr std::chrono::milliseconds kPlaceCheckPause{100};

constexpr double kTransparentOpacity = 148.0 / 255.0;
constexpr int kTrayHintLength = 127;

// Where the mode bytes, the colour table and the cell geometry live, in the order of ModeByte,
// ColourSlot and GeometryValue.
constexpr uint8_t TRenderSettings::*kModeFields[] = {
    &TRenderSettings::viewmode, &TRenderSettings::modenum, &TRenderSettings::blinkmode};
constexpr uint32_t TRenderSettings::*kColourFields[] = {
    &TRenderSettings::col2, &TRenderSettings::col1, &TRenderSettings::col3, &TRenderSettings::col4,
    &TRenderSettings::col5};
constexpr uint16_t TRenderSettings::*kGeometryFields[] = {
    &TRenderSettings::w, &TRenderSettings::h, &TRenderSettings::hs, &TRenderSettings::ws};

const QString kProductName = QStringLiteral("KAVREN Nodrel");

// A 0x00BBGGRR colour as a QColor and back.
QColor ToQColor(uint32_t colour) {
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}
uint32_t FromQColor(QColor colour) {
    return uint32_t(colour.red()) | uint32_t(colour.green()) << 8 | uint32_t(colour.blue()) << 16;
}

}  // namespace

TFramePanel::TFramePanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Panel2"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TFramePanel::SetColour(QColor colour) {
    colour_ = colour;
    update();
}

void TFramePanel::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), colour_);
}

void TFramePanel::resizeEvent(QResizeEvent*) {
    // The drawing surface fills the panel inside its 1-pixel border; its height is set apart.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->resize(std::max(width() - 2, 0), child->height());
    }
}

TDrawingSurface::TDrawingSurface(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Image1"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TDrawingSurface::SetPicture(QImage picture, QColor background) {
    picture_ = std::move(picture);
    background_ = background;
    update();
}

void TDrawingSurface::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // In a size mode without a grid width the surface is wider than the picture.
    for (const QRect& uncovered : QRegion(event->rect()).subtracted(picture_.rect())) {
        painter.fillRect(uncovered, background_);
    }
    painter.drawImage(event->rect(), picture_, event->rect());
}

TFloatingWindow::TFloatingWindow(platform::EchoPlatform& echoPlatform, TSoundPlayer playSound)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      framePanel_(new TFramePanel(this)),
      surface_(new TDrawingSurface(framePanel_)),
      playSound_(playSound ? std::move(playSound)
                           : [](std::string_view name) { platform::PlaySoundFile(name); }),
      readout_(new THoverReadout(surface_, history_, render_, [this] { return Address(); })) {
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
    history_.Reset();
    try {
        worker_ = new TPingThread(
            this,
            [this](bool success, const TOutcomeRecord& record) { AddResult(success, record); },
            echoPlatform);
    } catch (const std::exception& error) {
        startError_ = QString::fromLocal8Bit(error.what());
        return;
    }
    LoadSettings(*this);
    ApplyWidth(render_.modenum);
    framePanel_->move(0, 0);
    UpdateTitles();
    ApplyTransparency();
    ApplyHeight();
    PlaceOnScreen();
    DrawHistory();
    worker_->Resume();
    // The window never has a taskbar button (its Tool flag): hidden, only the tray icon is left.
    startsShown_ = showAtStart_ || !TrayAvailable();
    if (!startsShown_) Tray().Icon().setVisible(true);
}

// The worker is left running: the process ends without waiting for it.
TFloatingWindow::~TFloatingWindow() = default;

TWindowTray& TFloatingWindow::Tray() {
    if (!tray_) {
        tray_ = new TWindowTray(*this);
        tray_->ShowImage(trayImage_);
        tray_->Icon().setToolTip(TrayHint());
        connect(tray_, &TWindowTray::PresenceChanged, this, &TFloatingWindow::CheckTrayHost);
    }
    return *tray_;
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

void TFloatingWindow::PlaceOnScreen() {
    const QRect frame(pos(), size());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(frame)) return;
    }
    // Placed as on a first start: the screen it was on is gone, or the store was edited.
    MoveTo({kFallbackLeft, FirstMonitorHeight() - kDesignedHeight});
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
    setWindowOpacity(transparentMarked_ ? kTransparentOpacity : 1.0);
}

QString TFloatingWindow::TrayHint() const {
    return windowTitle().left(kTrayHintLength);
}

void TFloatingWindow::UpdateTitles() {
    // Not the application's display name: Qt would append that to every other window's title.
    setWindowTitle(kProductName + QStringLiteral(" - ") + Address());
    if (tray_) tray_->Icon().setToolTip(TrayHint());
}

// An outcome's redraw and a command's look the same: the picture is always composed whole,
// background included.
void TFloatingWindow::DrawHistory() {
    QImage picture =
        ComposeHistory(history_, render_, framePanel_->size(), surface_->height(), colourRegister_);
    if (!picture.isNull()) surface_->SetPicture(std::move(picture), ToQColor(render_.col5));
}

void TFloatingWindow::AddResult(bool success, const TOutcomeRecord& record) {
    const TOutcomeEffects effects = history_.AddResult(success, SoundsMarked(), record);
    if (effects.Sound != TDueSound::None) playSound_(SoundFileName(effects.Sound));
    DrawHistory();
    // The tray is told only of a change: each new image travels to the panel.
    if (effects.IconImage != trayImage_) {
        trayImage_ = effects.IconImage;
        if (tray_) tray_->ShowImage(trayImage_);
    }
    readout_->Refresh();
    emit OutcomeAdded(success, record);
    outages_.Add(success, record);
}

void TFloatingWindow::showEvent(QShowEvent* event) {
    if (event->spontaneous()) return;
    placeWhenHidden_.reset();
    exposedSinceShown_ = false;
    windowHandle()->installEventFilter(this);  // once: a filter installed again is not doubled
    if (tray_) tray_->Icon().setVisible(false);
    // The window manager forgets the window's states when it is withdrawn: state them again
    // before every mapping.
    SetDesktopStates(this);
}

void TFloatingWindow::hideEvent(QHideEvent* event) {
    if (event->spontaneous()) return;
    placeWhenHidden_ = pos();
    if (!closing_) Tray().Icon().setVisible(true);
}

void TFloatingWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
    // Iconified by the window manager (a shortcut, "show desktop"): a borderless window has no
    // taskbar button to come back from, so it goes to the notification area, or, without one,
    // stays where it is.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    if (TrayAvailable()) {
        hide();
    } else {
        ShowFromTray();
    }
}

void TFloatingWindow::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        closing_ = true;
        Save();
        QCoreApplication::quit();
    }
    event->accept();
}

void TFloatingWindow::Save() {
    if (const auto failure = SaveSettings(*this)) emit SaveFailed(failure->path, failure->reason);
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

void TFloatingWindow::SwitchSize() {
    render_.modenum = render_.modenum == 1 ? 2 : 1;
    ApplyWidth(render_.modenum);
    DrawHistory();
}

void TFloatingWindow::SetViewMode(uint8_t viewMode) {
    MarkViewModeItem(viewMode);
    render_.viewmode = viewMode;
    DrawHistory();
}

void TFloatingWindow::SetBlinkMode(uint8_t blinkMode) {
    MarkBlinkModeItem(blinkMode);
    render_.blinkmode = blinkMode;
    DrawHistory();
}

std::optional<QColor> TFloatingWindow::PickColour(QColor initial) {
    // Made at the first colour command: most runs never need one.
    if (colourDialog_ == nullptr) {
        colourDialog_ = new QColorDialog(this);
        colourDialog_->setObjectName(QStringLiteral("CD"));
    }
    colourDialog_->setCurrentColor(initial);
    if (ShowDialog(*colourDialog_) != QDialog::Accepted) return std::nullopt;
    return colourDialog_->selectedColor();
}

void TFloatingWindow::ChooseColour(ColourSlot slot) {
    if (const std::optional<QColor> chosen = PickColour(ToQColor(Colour(slot)))) {
        SetColour(slot, FromQColor(*chosen));
    }
    DrawHistory();
}

void TFloatingWindow::ChooseFrameColour() {
    if (const std::optional<QColor> chosen = PickColour(framePanel_->Colour())) {
        framePanel_->SetColour(*chosen);
    }
}

void TFloatingWindow::ShowOptions() {
    if (!optionsDialog_) optionsDialog_ = std::make_unique<TOptionsDialog>(this);
    optionsDialog_->Fill(
        {Address(), Timeout(), Interval(), render_.w, render_.h, render_.ws, render_.hs});
    if (ShowDialog(*optionsDialog_) != QDialog::Accepted) return;
    const TProbeOptions chosen = optionsDialog_->Values();
    SetAddress(chosen.Host);
    SetTimeout(chosen.Timeout);
    SetInterval(chosen.Interval);
    UpdateTitles();
    render_.w = chosen.W;
    render_.h = chosen.H;
    render_.ws = chosen.WS;
    render_.hs = chosen.HS;
    ApplyWidth(render_.modenum);
    ApplyHeight();
    DrawHistory();
}

void TFloatingWindow::ShowAbout() {
    if (!aboutBox_) aboutBox_ = std::make_unique<TAboutBox>(nullptr, this);
    ShowDialog(*aboutBox_);
}

int TFloatingWindow::ShowDialog(QDialog& dialog) {
    ApplicationIcon();  // for the title bar
    // Placed by its client area, which is known before the first showing, unlike its frame.
    QRect area(QPoint(0, 0), dialog.size());
    area.moveCenter(screen()->geometry().center());
    dialog.setGeometry(area);
    SetDesktopStates(&dialog);
    return dialog.exec();
}

bool TFloatingWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle()) {
        if (event->type() == QEvent::Expose && !exposedSinceShown_ && windowHandle()->isExposed()) {
            exposedSinceShown_ = true;
            QueuePlaceCheck();
            emit Exposed();
        }
        return false;
    }
    auto* control = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            MouseDown(control, static_cast<QMouseEvent*>(event));
            return false;
        case QEvent::MouseMove:
            MouseMove(control, static_cast<QMouseEvent*>(event));
            return false;
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) return false;
            SwitchSize();
            return true;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void TFloatingWindow::MouseDown(QWidget*, QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) dragPoint_ = event->position().toPoint();
}

void TFloatingWindow::MouseMove(QWidget* control, QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    // A Wayland compositor places windows itself: it moves the window while the button is held.
    if (!placeKnown_) {
        windowHandle()->startSystemMove();
        return;
    }
    // The press point is kept under the mouse. Working from the screen position rather than the
    // control's own keeps the window steady while the window manager catches up with each move.
    const QPoint controlOrigin = control->mapTo(this, QPoint(0, 0));
    MoveTo(event->globalPosition().toPoint() - controlOrigin - dragPoint_);
}

bool TFloatingWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    // Qt handles the event after this returns: the place is compared once it has.
    if (X11PlacementEvent(eventType, message)) QueuePlaceCheck();
    return QWidget::nativeEvent(eventType, message, result);
}

void TFloatingWindow::QueuePlaceCheck() {
    // Until the window is first exposed the manager is still framing it, and its first paint
    // comes before any round trip to the server: the exposure asks.
    if (placeCheckQueued_ || !exposedSinceShown_) return;
    placeCheckQueued_ = true;
    QMetaObject::invokeMethod(this, &TFloatingWindow::TakePlaceFromServer, Qt::QueuedConnection);
}

void TFloatingWindow::TakePlaceFromServer() {
    placeCheckQueued_ = false;
    // A window manager that lets the window go can report it anywhere: it stays where it was.
    if (!isVisible()) {
        if (placeWhenHidden_ && pos() != *placeWhenHidden_) MoveTo(*placeWhenHidden_);
        return;
    }
    // While the left button drags, the server lags behind the moves asked for.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) return;
    const std::optional<QPoint> origin = X11WindowOrigin(this);
    if (!origin || *origin == pos()) {
        serverPlaceSeen_.reset();
        return;
    }
    // Asking for the place the window already has moves nothing, and Qt learns where it is: at
    // once for the place the window asked for, for any other once it has held.
    const auto now = std::chrono::steady_clock::now();
    if (serverPlaceSeen_ != origin) {
        serverPlaceSeen_ = origin;
        serverPlaceSince_ = now;
    }
    if (*origin == intendedPlace_ || now - serverPlaceSince_ >= kPlaceHoldTime) {
        serverPlaceSeen_.reset();
        MoveTo(*origin);
        return;
    }
    QTimer::singleShot(kPlaceCheckPause, this, &TFloatingWindow::TakePlaceFromServer);
}

namespace {

// A stored coordinate that Qt's geometry can carry, width added, without overflowing.
int CarriedCoordinate(int32_t stored) {
    return std::clamp(stored, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

}  // namespace

void TFloatingWindow::SetWindowLeft(int32_t left) {
    MoveTo({CarriedCoordinate(left), y()});
}

void TFloatingWindow::SetWindowTop(int32_t top) {
    MoveTo({x(), CarriedCoordinate(top)});
}

QPoint TFloatingWindow::Place() const {
    return placeKnown_ ? pos() : intendedPlace_;
}

void TFloatingWindow::MoveTo(QPoint place) {
    intendedPlace_ = place;
    move(place);
}

void TFloatingWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // Qt can learn a place the manager only passed through while framing the window.
    QueuePlaceCheck();
}

int32_t TFloatingWindow::FirstMonitorHeight() const {
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? 0 : screens.first()->geometry().height();
}

uint8_t TFloatingWindow::Mode(ModeByte which) const {
    return render_.*kModeFields[static_cast<int>(which)];
}

void TFloatingWindow::SetMode(ModeByte which, uint8_t value) {
    render_.*kModeFields[static_cast<int>(which)] = value;
}

uint32_t TFloatingWindow::Colour(ColourSlot slot) const {
    return render_.*kColourFields[static_cast<int>(slot)];
}

void TFloatingWindow::SetColour(ColourSlot slot, uint32_t colour) {
    render_.*kColourFields[static_cast<int>(slot)] = colour;
}

uint32_t TFloatingWindow::FrameColour() const {
    return FromQColor(framePanel_->Colour());
}

void TFloatingWindow::SetFrameColour(uint32_t colour) {
    framePanel_->SetColour(ToQColor(colour));
}

uint16_t TFloatingWindow::Geometry(GeometryValue which) const {
    return render_.*kGeometryFields[static_cast<int>(which)];
}

void TFloatingWindow::SetGeometry(GeometryValue which, uint16_t value) {
    render_.*kGeometryFields[static_cast<int>(which)] = value;
}

void TFloatingWindow::SetSoundsMarked(bool marked) {
    soundsMarked_ = marked;
    if (soundsItem_) soundsItem_->setChecked(marked);
}

void TFloatingWindow::SetTransparentMarked(bool marked) {
    transparentMarked_ = marked;
    if (transparentItem_) transparentItem_->setChecked(marked);
}

void TFloatingWindow::MarkViewModeItem(uint8_t viewMode) {
    if (windowMenu_ == nullptr) return;
    (viewMode == 1 ? graphViewItem_ : historyViewItem_)->setChecked(true);
}

void TFloatingWindow::MarkBlinkModeItem(uint8_t blinkMode) {
    if (windowMenu_ == nullptr) return;
    if (blinkMode == 1) blinkOffItem_->setChecked(true);
    if (blinkMode == 2) blinkSimpleItem_->setChecked(true);
    if (blinkMode == 3) blinkChessItem_->setChecked(true);
}

int32_t TFloatingWindow::Timeout() const {
    return worker_ ? worker_->Ping().Timeout() : 0;
}

void TFloatingWindow::SetTimeout(int32_t milliseconds) {
    if (worker_) worker_->Ping().SetTimeout(milliseconds);
}

QString TFloatingWindow::Address() const {
    return worker_ ? worker_->Ping().Address() : QString();
}

void TFloatingWindow::SetAddress(const QString& host) {
    if (worker_) worker_->Ping().SetAddress(host);
    emit AddressSet(host);
}

int32_t TFloatingWindow::Interval() const {
    return worker_ ? worker_->Interval() : 0;
}

void TFloatingWindow::SetInterval(int32_t milliseconds) {
    if (worker_) worker_->SetInterval(milliseconds);
}

}  // namespace nodrel
