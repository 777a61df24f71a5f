#pragma once

// Settings stores for tests and benchmarks, written through the program's own registry key.

#include <QString>
#include <cstdint>
#include <map>
#include <variant>

namespace nodrel::testing {

using StoredValue = std::variant<uint32_t, QString>;
using StoreValues = std::map<QString, StoredValue>;

// A store as a previous run leaves it, with every value: first-run values, probing 127.0.0.1
// every second. A store lacking any value is read as none, and the first-run host is a public name.
StoreValues CompleteStore();

// Replaces the store under $XDG_CONFIG_HOME with `values`; false when it cannot be written.
bool WriteStore(const StoreValues& values);

}  // namespace nodrel::testing
