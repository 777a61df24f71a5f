#include "window_place.h"

#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "x11_desktop.h"

namespace nodrel {

namespace {

// How long the server must keep the window at a place other than the one it asked for before
// Qt is told it is there: a window manager framing the window passes through places of its own
// for as long as a loaded desktop takes.
constexpr std::chrono::milliseconds kPlaceHoldTime{1000};
constexpr std::chrono::milliseconds kPlaceCheckPause{100};

}  // namespace

TWindowPlace::TWindowPlace(QWidget& window) : QObject(&window), window_(window) {}

QPoint TWindowPlace::Place() const {
    return placeKnown_ ? window_.pos() : intendedPlace_;
}

void TWindowPlace::MoveTo(QPoint place) {
    intendedPlace_ = place;
    window_.move(place);
}

void TWindowPlace::KeepOnScreen(QPoint fallback) {
    const QRect frame(window_.pos(), window_.size());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(frame)) return;
    }
    MoveTo(fallback);
}

void TWindowPlace::Shown() {
    placeWhenHidden_.reset();
    exposedSinceShown_ = false;
    window_.windowHandle()->installEventFilter(
        this);  // once: a filter installed again is not doubled
}

void TWindowPlace::Hidden() {
    placeWhenHidden_ = window_.pos();
}

void TWindowPlace::Moved() {
    // Qt can learn a place the manager only passed through while framing the window.
    QueuePlaceCheck();
}

void TWindowPlace::NativeEvent(const QByteArray& eventType, const void* message) {
    // Qt handles the event after the window's handler returns: the place is compared once it has.
    if (X11PlacementEvent(eventType, message)) QueuePlaceCheck();
}

void TWindowPlace::Press(QPoint inControl) {
    pressPoint_ = inControl;
}

void TWindowPlace::DragTo(const QWidget& control, QPoint mouseOnScreen) {
    // A Wayland compositor places windows itself: it moves the window while the button is held.
    if (!placeKnown_) {
        window_.windowHandle()->startSystemMove();
        return;
    }
    // Working from the screen position rather than the control's own keeps the window steady
    // while the window manager catches up with each move.
    const QPoint controlOrigin = control.mapTo(&window_, QPoint(0, 0));
    MoveTo(mouseOnScreen - controlOrigin - pressPoint_);
}

bool TWindowPlace::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.windowHandle() && event->type() == QEvent::Expose &&
        !exposedSinceShown_ && window_.windowHandle()->isExposed()) {
        exposedSinceShown_ = true;
        QueuePlaceCheck();
        emit Exposed();
    }
    return false;
}

void TWindowPlace::QueuePlaceCheck() {
    // Until the window is first exposed the manager is still framing it, and its first paint
    // comes before any round trip to the server: the exposure asks.
    if (placeCheckQueued_ || !exposedSinceShown_) return;
    placeCheckQueued_ = true;
    QMetaObject::invokeMethod(this, &TWindowPlace::TakePlaceFromServer, Qt::QueuedConnection);
}

void TWindowPlace::TakePlaceFromServer() {
    placeCheckQueued_ = false;
    // A window manager that lets the window go can report it anywhere: it stays where it was.
    if (!window_.isVisible()) {
        if (placeWhenHidden_ && window_.pos() != *placeWhenHidden_) MoveTo(*placeWhenHidden_);
        return;
    }
    // While the left button drags, the server lags behind the moves asked for.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) return;
    const std::optional<QPoint> origin = X11WindowOrigin(&window_);
    if (!origin || *origin == window_.pos()) {
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
    QTimer::singleShot(kPlaceCheckPause, this, &TWindowPlace::TakePlaceFromServer);
}

}  // namespace nodrel
