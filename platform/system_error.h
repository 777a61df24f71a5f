#pragma once

#include <QString>

namespace nodrel::platform {

// The system's text for an errno value, e.g. "No space left on device".
QString SystemError(int number);

}  // namespace nodrel::platform
