#pragma once

#include <QString>
#include <cstdint>

#include "settings.h"

namespace nodrel {

class TNotifier;

// What the window's menu and the tray's menu ask of the window: their items' commands.
class TWindowCommands {
public:
    virtual ~TWindowCommands() = default;

    virtual void ShowAbout() = 0;
    // The switches that are the window menu's check marks.
    virtual void SetSounds(bool on) = 0;
    virtual void SetNotifications(bool on) = 0;
    virtual void SetTransparent(bool on) = 0;
    // 1 Off, 2 Simple order, 3 Chess order.
    virtual void SetBlinkMode(uint8_t blinkMode) = 0;
    // 1 Graph, 2 History.
    virtual void SetViewMode(uint8_t viewMode) = 0;
    // `what` names what the colour colours, in the colour dialog's title.
    virtual void ChooseColour(ColourSlot slot, const QString& what) = 0;
    virtual void ChooseFrameColour(const QString& what) = 0;
    virtual void SwitchSize() = 0;
    virtual void ShowJournal() = 0;
    virtual void ShowOptions() = 0;
    // Whether the notification area can show the icon now.
    virtual bool TrayAvailable() = 0;
    // Hides the window to the notification area, where there is one.
    virtual void MinimizeToTray() = 0;
    // Shows the window again from the notification area.
    virtual void ShowFromTray() = 0;
    // Closes the window, which saves the settings and ends the program.
    virtual void CloseProgram() = 0;
    // Tells the user what a command could not do.
    virtual TNotifier& Notifier() = 0;
};

}  // namespace nodrel
