#pragma once

#include <QMenu>
#include <cstdint>

class QAction;

namespace nodrel {

class TFloatingWindow;

// The floating window's context menu: its commands, in the order users know, and the check
// marks that show the window's modes and are its switches: sounds, notifications, transparency.
class TWindowMenu : public QMenu {
    Q_OBJECT

public:
    // Marked as a first start shows it: no sounds, notifications on, opaque, History view,
    // blinking off.
    explicit TWindowMenu(TFloatingWindow& window);

    bool SoundsMarked() const;
    void MarkSounds(bool marked);
    bool TransparentMarked() const;
    void MarkTransparent(bool marked);
    bool NotifyMarked() const;
    void MarkNotify(bool marked);
    // 1 marks Graph, any other value History.
    void MarkViewMode(uint8_t viewMode);
    // 1 to 3; any other value leaves the marks alone.
    void MarkBlinkMode(uint8_t blinkMode);

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
