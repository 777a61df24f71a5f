#include "window_place.h"

#include <QGuiApplication>
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

TWindowPlace::TWindowPlace(QWidget& window)
    : QObject(&window),
      window_(window),
      placeKnown_(!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {}

void TWindowPlace::MoveTo(QPoint place) {
    place_ = place;
    window_.move(place);
}

void TWindowPlace::KeepOnScreen(QPoint fallback) {
    const QRect frame(place_, window_.size());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(frame)) return;
    }
    MoveTo(fallback);
}

void TWindowPlace::Shown() {
    exposedSinceShown_ = false;
    mapShiftKnown_ = false;
    // Hidden, the window was no longer the manager's, which could report it anywhere: it asks for
    // its place again.
    if (placeKnown_ && window_.pos() != place_) window_.move(place_);
    // Once: a filter installed again is not doubled.
    window_.windowHandle()->installEventFilter(this);
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
    // while the window manager catches up with each move. A mapped window goes where it asks.
    const QPoint controlOrigin = control.mapTo(&window_, QPoint(0, 0));
    const QPoint corner = mouseOnScreen - controlOrigin - pressPoint_;
    place_ = corner - mapShift_;
    window_.move(corner);
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
    // Hidden, it keeps its place whatever is reported for it; while the left button drags, the
    // server lags behind the moves asked for.
    if (!window_.isVisible() || QGuiApplication::mouseButtons() != Qt::NoButton) return;
    const std::optional<X11Place> server = X11WindowPlace(&window_);
    if (!server) return;
    if (mapShiftKnown_) {
        place_ = server->outer - mapShift_;
        return;
    }
    // Where the manager puts the mapped window is taken at once when it is the place asked for,
    // any other once it has held: a loaded manager framing the window passes through places of
    // its own.
    if (server->outer != place_) {
        const auto now = std::chrono::steady_clock::now();
        if (serverPlaceSeen_ != server->outer) {
            serverPlaceSeen_ = server->outer;
            serverPlaceSince_ = now;
        }
        if (now - serverPlaceSince_ < kPlaceHoldTime) {
            QTimer::singleShot(kPlaceCheckPause, this, &TWindowPlace::TakePlaceFromServer);
            return;
        }
    }
    serverPlaceSeen_.reset();
    mapShift_ = server->outer - place_;
    mapShiftKnown_ = true;
    // Asking for the place the window already has moves nothing, and Qt learns where it is.
    const QPoint qtCorner = window_.geometry().topLeft();
    if (server->client != qtCorner) window_.move(window_.pos() + server->client - qtCorner);
}

}  // namespace nodrel
