#pragma once

// The registry editor's export format ("Windows Registry Editor Version 5.00"), read and written
// in memory: the settings store keeps its values in it so the value types survive, and a file
// exported on Windows reads as it is.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <vector>

namespace nodrel::platform {

// Registry data types, with the registry's numbers; any other number is kept as it is.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;

// Files bigger than this are not read: nothing this program stores comes near it.
inline constexpr qint64 kMaxRegistryFileSize = 1024 * 1024;

struct RegistryValue {
    QString name;  // empty for the key's default value, "@" in the file
    uint32_t type = REG_NONE;
    QByteArray data;  // as the registry holds it: strings are UTF-16LE with their NUL
    bool operator==(const RegistryValue&) const = default;
};

struct RegistryFile {
    QString keyPath;  // as in the [section] line, e.g. HKEY_CURRENT_USER\Software\KAVREN\Nodrel
    std::vector<RegistryValue> values;  // in file order, names unique without regard to case
    bool operator==(const RegistryFile&) const = default;
};

// Reads an export file: UTF-8 (with or without BOM) or UTF-16LE with BOM, the header
// "Windows Registry Editor Version 5.00", one [key] line, then one value per line. A name given
// twice keeps its first place and its last value. Anything else, including text that is not valid
// in its encoding and files over kMaxRegistryFileSize, gives nullopt.
std::optional<RegistryFile> ParseRegistryFile(QByteArrayView bytes);

// Writes UTF-8 without BOM and with LF line ends, which Linux tools read as plain text; strings
// that a quoted form cannot carry (line breaks, inner NULs, no terminator) are written as hex(1).
// ParseRegistryFile gives back an equal RegistryFile.
QByteArray SerializeRegistryFile(const RegistryFile& file);

// Value names are matched without regard to case, as the registry does: names are equal when
// their keys are.
QString RegistryNameKey(const QString& name);

// A REG_DWORD's data: four bytes, little-endian.
QByteArray DwordData(uint32_t number);
// The number in up to four little-endian bytes.
uint32_t DwordValue(const QByteArray& data);
// A REG_SZ's data: UTF-16LE with a terminating NUL.
QByteArray Utf16Data(QStringView text);
// The text of UTF-16LE data up to its first NUL.
QString Utf16Text(const QByteArray& data);

}  // namespace nodrel::platform
