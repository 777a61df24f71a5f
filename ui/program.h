#pragma once

#include <QString>

#include "command_line.h"
#include "echo_library.h"

namespace nodrel {

namespace platform {
class SingleInstance;
}
class TFloatingWindow;
class TJournal;

// Hands the window's outcomes and outages to the journal.
void ConnectJournal(TFloatingWindow& window, TJournal& journal);

// The text of an error box: the message, with a full stop added unless it already ends in one
// or in a character that sorts before it.
QString ErrorBoxText(const QString& message);

// Runs the monitor in the QApplication that exists: creates the floating window, shows it or its
// icon, and serves events until the window closes. Returns the process's exit status: 0 after a
// normal close, 1 when probing could not be set up (after telling the user why). A later start
// reported by `instance` shows the window. `commandLine` holds the program's own options.
int RunProgram(platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform(),
               platform::SingleInstance* instance = nullptr, const TCommandLine& commandLine = {});

// RunProgram, unless a monitor runs already in this session: that one is asked to show its
// window, and the result is 0.
int RunFirstProgram(const TCommandLine& commandLine = {});

}  // namespace nodrel
