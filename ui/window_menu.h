#pragma once

#include <QMenu>
#include <cstdint>

class QAction;

namespace nodrel {

class TFloatingWindow;

// The floating window's context menu: its commands, in the order users know, and the check
// marks that show the window's switches and modes.
class TWindowMenu : public QMenu {
    Q_OBJECT

public:
    // Marks the window's switches and modes as they are now.
    explicit TWindowMenu(TFloatingWindow& window);

    void MarkSounds(bool marked);
    void MarkTransparent(bool marked);
    // 1 marks Graph, any other value History.
    void MarkViewMode(uint8_t viewMode);
    // 1 to 3; any other value leaves the marks alone.
    void MarkBlinkMode(uint8_t blinkMode);

private:
    QAction* soundsItem_;
    QAction* transparentItem_;
    QAction* graphViewItem_;
    QAction* historyViewItem_;
    QAction* blinkOffItem_;
    QAction* blinkSimpleItem_;
    QAction* blinkChessItem_;
};

}  // namespace nodrel
