// Feeds arbitrary bytes to the settings file parser. Whatever it accepts must survive a round
// trip through the writer unchanged, or a save would alter values the program never touched.

#include <array>
#include <cstdint>
#include <cstdlib>

#include "registry_format.h"

namespace {

// With bit 1 of the first byte set, the bytes 0xf0 to 0xf7 stand for these, so the value syntax
// gets explored even without a seed corpus or dictionary.
constexpr std::array<const char*, 8> kTokens{
    "\n\"v\"=", "dword:", "hex:", "hex(", "):", ",\\\n  ", "\r\n", "\n@=",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nodrel::platform;
    if (size == 0) return 0;
    const bool withHead = data[0] & 1;
    const bool withTokens = data[0] & 2;

    QByteArray bytes;
    if (withHead) bytes = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n";
    for (size_t i = 1; i < size; ++i) {
        if (withTokens && data[i] >= 0xf0 && data[i] <= 0xf7) {
            bytes.append(kTokens[data[i] - 0xf0]);
        } else {
            bytes.append(char(data[i]));
        }
    }

    const auto parsed = ParseRegistryFile(bytes);
    if (!parsed) return 0;
    if (ParseRegistryFile(SerializeRegistryFile(*parsed)) != parsed) std::abort();
    return 0;
}
