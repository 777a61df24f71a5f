#include "registry_format.h"

#include <gtest/gtest.h>

namespace nodrel::platform {
namespace {

// The bytes a save writes, read as a Linux user and the registry editor read them: UTF-8 with
// LF, quoted strings with their escapes, strings a quote cannot carry as hex(1), other types as
// hex(n), long hex lists continued with a backslash within 78 columns; and read back unchanged.
TEST(RegistryFormat, WritesPlainTextThatReadsBackUnchanged) {
    const RegistryFile file{"HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel",
                            {{"left", REG_DWORD, DwordData(20)},
                             {"host", REG_SZ, Utf16Data(u"a\"b\\c\u00fc")},
                             {"note", REG_SZ, Utf16Data(u"x\ny")},
                             {"", REG_SZ, Utf16Data(u"default")},
                             {"odd", 0x1234, "\xde\xad"},
                             {"long", REG_BINARY, QByteArray(30, '\x01')}}};
    const QByteArray expected =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\KAVREN\\Nodrel]\n"
        "\"left\"=dword:00000014\n"
        "\"host\"=\"a\\\"b\\\\c\xc3\xbc\"\n"
        "\"note\"=hex(1):78,00,0a,00,79,00,00,00\n"
        "@=\"default\"\n"
        "\"odd\"=hex(1234):de,ad\n"
        "\"long\"=hex:01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,01,\\\n"
        "  01,01,01,01,01,01,01,01\n"
        "\n";
    EXPECT_EQ(SerializeRegistryFile(file), expected);
    EXPECT_EQ(ParseRegistryFile(expected), file);
    EXPECT_EQ(Utf16Text(Utf16Data(u"a\"b")), "a\"b");
    EXPECT_EQ(DwordValue(DwordData(0xfffffffeu)), 0xfffffffeu);
}

}  // namespace
}  // namespace nodrel::platform
