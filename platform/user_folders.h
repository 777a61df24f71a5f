#pragma once

// The user's folders as the XDG base directory rules give them: a variable's value where it is an
// absolute path, else the default under the home folder. Read afresh at each call.

#include <QString>

namespace nodrel::platform {

// $XDG_CONFIG_HOME, else ~/.config.
QString UserConfigHome();

// $XDG_STATE_HOME, else ~/.local/state.
QString UserStateHome();

// $XDG_RUNTIME_DIR: files that live as long as the user's login. Empty where it is not set, as the
// rules have no default for it.
QString UserRuntimeFolder();

}  // namespace nodrel::platform
