#pragma once

#include <QString>

#include "echo_library.h"

namespace nodrel {

// The text of an error box: the message, with a full stop added unless it already ends in one
// or in a character that sorts before it.
QString ErrorBoxText(const QString& message);

// Runs the monitor in the QApplication that exists: creates the floating window, shows it or its
// icon, and serves events until the window closes. Returns the process's exit status: 0 after a
// normal close, 1 when probing could not be set up (after telling the user why).
int RunProgram(platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform());

}  // namespace nodrel
