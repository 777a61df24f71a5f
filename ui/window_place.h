#pragma once

// Where the floating window is, and keeping Qt's idea of it true: a window manager framing the
// window can move it, or leave Qt with a place the window only passed through, and a Wayland
// compositor tells no client where its windows are. The place is the window's outer corner as it
// asks for it when it is mapped, which the next start asks for again: a manager's frame, or its
// own way of placing a newly mapped window, moves it as much each time.

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
    QPoint Place() const { return place_; }
    // Moves the window, remembering the place as the one it asked for.
    void MoveTo(QPoint place);
    // Moves the window to `fallback` when no screen shows any part of it: the screen it was on is
    // gone, or the store was edited.
    void KeepOnScreen(QPoint fallback);

    // From the window's own event handlers.
    void Shown();
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
    // Takes the window's place from the X server: once mapped, where the manager puts a window
    // that asks for its place; later, where the user or the manager moved it. Makes Qt's idea of
    // the place the server's, which a manager can leave behind while it maps the window.
    void TakePlaceFromServer();

    QWidget& window_;
    const bool placeKnown_;  // false on Wayland
    QPoint place_;           // the outer corner the window asks for when it is mapped
    // How far from the place asked for the manager put the window when it last mapped it, once
    // that has held (i3 moves a borderless window by the border and title bar it would have had).
    QPoint mapShift_;
    bool mapShiftKnown_ = false;
    bool placeCheckQueued_ = false;
    bool exposedSinceShown_ = false;  // exposed since it was last shown: its place can be asked
    std::optional<QPoint> serverPlaceSeen_;  // where the server had the window at the last check
    std::chrono::steady_clock::time_point serverPlaceSince_;  // since when it has been there
    QPoint pressPoint_;  // where the left button went down, in the pressed control's coordinates
};

}  // namespace nodrel
