#pragma once

// Where the floating window is, and keeping Qt's idea of it true: a window manager framing the
// window can move it, or leave Qt with a place the window only passed through, and a Wayland
// compositor tells no client where its windows are.

#include <QGuiApplication>
#include <QObject>
#include <QPoint>
#include <chrono>
#include <optional>

class QWidget;

namespace nodrel {

class TWindowPlace : public QObject {
    Q_OBJECT

public:
    // Follows `window`, a top-level widget, which tells it of its showings, hidings, moves and
    // native events.
    explicit TWindowPlace(QWidget& window);

    // Where the window is, as far as the program can know: on Wayland the place last asked for
    // (the stored one) stands.
    QPoint Place() const;
    // Moves the window, remembering the place as the one it asked for.
    void MoveTo(QPoint place);
    // Moves the window to `fallback` when no screen shows any part of it: the screen it was on is
    // gone, or the store was edited.
    void KeepOnScreen(QPoint fallback);

    // From the window's own event handlers.
    void Shown();
    void Hidden();
    void Moved();
    void NativeEvent(const QByteArray& eventType, const void* message);

    // Dragging with the left button from one of the window's controls: the press point, in the
    // control's coordinates, is kept under the mouse.
    void Press(QPoint inControl);
    void DragTo(const QWidget& control, QPoint mouseOnScreen);

signals:
    // The window was exposed for the first time since it was shown; its first paint follows.
    void Exposed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void QueuePlaceCheck();
    // Makes Qt's idea of the window's place the X server's, which a window manager can leave
    // behind while it maps the window.
    void TakePlaceFromServer();

    QWidget& window_;
    const bool placeKnown_ = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    QPoint intendedPlace_;                   // where the window last asked to be
    std::optional<QPoint> placeWhenHidden_;  // where the window was when it was last hidden
    bool placeCheckQueued_ = false;
    bool exposedSinceShown_ = false;  // exposed since it was last shown: its place can be asked
    std::optional<QPoint> serverPlaceSeen_;  // where the server had the window at the last check
    std::chrono::steady_clock::time_point serverPlaceSince_;  // since when it has been there
    QPoint pressPoint_;  // where the left button went down, in the pressed control's coordinates
};

}  // namespace nodrel
