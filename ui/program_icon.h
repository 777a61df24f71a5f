#pragma once

// The program's icon: one design, drawn by the program, shown in the notification area in two
// colours and, under the application id, installed for launchers and docks.

#include <QIcon>
#include <QImage>

namespace nodrel {

// The notification-area icon's two images, drawn by the program: index 0 a red tile (the latest
// probe failed, or none has succeeded yet), index 1 a blue tile (it succeeded), both with the
// same light emblem. Holds the design at 16 pixels and the sizes trays ask for beyond it.
QIcon DrawTrayImage(int index);

// One size of that design.
QImage DrawTrayTile(int index, int size);

// The name of the installed launcher and icon, so docks and task switchers match windows to them.
inline constexpr char kApplicationId[] = "example.kavren.Nodrel";

// The application's window icon, set at the first call where none is set yet: the installed one
// where the icon theme has it, else the blue tile. The theme lookup and the images cost
// milliseconds and some hundred kilobytes, so only windows that show the icon ask for it, when
// they are made: dialogs and message boxes, not the borderless window without a taskbar button.
QIcon ApplicationIcon();

}  // namespace nodrel
