#pragma once

// Shell commands and waiting, as the tests that look from outside use them.

#include <chrono>
#include <functional>
#include <string>

namespace nodrel::testing {

// What a shell command line prints on its standard output. Its standard error is dropped unless
// the command line sends it to the output itself ("2>&1").
std::string Capture(const std::string& command);

// Whether `condition` holds within `deadline`, asked every 50 ms.
bool PollUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

}  // namespace nodrel::testing
