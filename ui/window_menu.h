#pragma once

#include <QMenu>

class QAction;

namespace nodrel {

class TFloatingWindow;

struct TMenuMarks;

// The floating window's context menu: its commands, in the order users know, and check marks
// that show the window's switches (sounds, notifications, transparency) and modes. The window
// holds what the marks show; choosing an item tells the window.
class TWindowMenu : public QMenu {
    Q_OBJECT

public:
    explicit TWindowMenu(TFloatingWindow& window);

    void ShowMarks(const TMenuMarks& marks);

private:
    // Writes or removes the session's autostart entry; a failure is told.
    void SetStartAtLogin(bool start);

    TFloatingWindow& window_;
    QAction* soundsItem_;
    QAction* notifyItem_;
    QAction* startAtLoginItem_;
    QAction* transparentItem_;
    QAction* graphViewItem_;
    QAction* historyViewItem_;
    QAction* blinkOffItem_;
    QAction* blinkSimpleItem_;
    QAction* blinkChessItem_;
};

}  // namespace nodrel
