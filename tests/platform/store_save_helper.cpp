// Saves two values of the settings key in one batch, then one more on its own, and says on
// standard output what each save did and what the key then reads; run by the store's tests under
// strace, which makes chosen system calls fail.

#include <cstdio>

#include "registry_store.h"

int main() {
    using nodrel::platform::RegistryKey;
    std::optional<RegistryKey> key =
        RegistryKey::Open(QStringLiteral("\\Software\\KAVREN\\Nodrel\\"));
    if (!key) return 2;
    const auto say = [&](const char* what, bool saved) {
        if (saved) {
            std::printf("%s: saved\n", what);
        } else {
            std::printf("%s: %s: %s\n", what,
                        key->LastFailureAfterReplacing() ? "replaced, unconfirmed" : "failed",
                        qPrintable(key->LastFailure()));
        }
    };
    key->BeginBatch();
    key->WriteInteger(QStringLiteral("left"), 21);
    key->WriteInteger(QStringLiteral("w"), 7);
    say("batch", key->CommitBatch());
    say("top", key->WriteInteger(QStringLiteral("top"), 5));
    std::printf("left=%u\n", key->ReadInteger(QStringLiteral("left")).value_or(0));
    return 0;
}
