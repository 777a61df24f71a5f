#pragma once

#include <QIcon>
#include <QImage>

namespace nodrel {

// The notification-area icon's two images, drawn by the program: index 0 a red tile (the latest
// probe failed, or none has succeeded yet), index 1 a blue tile (it succeeded), both with the
// same light emblem. Holds the design at 16 pixels and the sizes trays ask for beyond it.
QIcon DrawTrayImage(int index);

// One size of that design.
QImage DrawTrayTile(int index, int size);

}  // namespace nodrel
