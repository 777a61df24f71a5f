#pragma once

#include <QMenu>

#include "menu_marks.h"

class QAction;

namespace nodrel {

class TWindowCommands;

// The floating window's context menu: its commands, in the order users know, and check marks
// that show the window's switches (sounds, notifications, transparency) and modes. The window
// holds what the marks show; choosing an item asks the window through its commands.
class TWindowMenu : public QMenu {
    Q_OBJECT

public:
    TWindowMenu(QWidget& window, TWindowCommands& commands);

    void ShowMarks(const TMenuMarks& marks);

private:
    // Writes or removes the session's autostart entry; a failure is told.
    void SetStartAtLogin(bool start);

    TWindowCommands& commands_;
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
