#pragma once

namespace nodrel::platform {

// Returns free heap memory to the system, when there is any it has not been given yet. Cheap
// when there is none: it can follow every probe outcome.
void TrimMemory();

}  // namespace nodrel::platform
