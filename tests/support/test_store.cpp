#include "support/test_store.h"

#include <QFile>

#include "registry_store.h"

namespace nodrel::testing {

// clang-format off
StoreValues CompleteStore() {
    return {{"left", 100u}, {"top", 100u}, {"viewmode", 2u}, {"modenum", 2u}, {"blinkmode", 1u},
            {"col1", 0x00FF0000u}, {"col2", 0x00C0C0C0u}, {"col3", 0x000000FFu},
            {"col4", 0x000080FFu}, {"col5", 0x00FFFFFFu}, {"col6", 0u}, {"sound", 0u},
            {"timeout", 5000u}, {"host", "127.0.0.1"}, {"interval", 1000u}, {"alpha", 0u},
            {"w", 5u}, {"h", 3u}, {"ws", 1u}, {"hs", 1u}, {"minimized", 0u}};
}
// clang-format on

bool WriteStore(const StoreValues& values) {
    const QString keyPath = QStringLiteral("\\Software\\KAVREN\\Nodrel\\");
    QFile::remove(platform::RegistryFilePath(keyPath));
    std::optional<platform::RegistryKey> key = platform::RegistryKey::Open(keyPath);
    if (!key) return false;
    key->BeginBatch();
    for (const auto& [name, value] : values) {
        const bool written = std::holds_alternative<uint32_t>(value)
                                 ? key->WriteInteger(name, std::get<uint32_t>(value))
                                 : key->WriteString(name, std::get<QString>(value));
        if (!written) return false;
    }
    return key->CommitBatch();
}

}  // namespace nodrel::testing
