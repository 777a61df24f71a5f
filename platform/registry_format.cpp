#include "registry_format.h"

#include <QHash>
#include <QStringDecoder>

namespace nodrel::platform {

namespace {

constexpr QStringView kHeader = u"Windows Registry Editor Version 5.00";
constexpr qsizetype kWrapColumn = 78;

char16_t CodeUnitAt(const QByteArray& data, qsizetype index) {
    return char16_t(uint8_t(data[2 * index]) | uint8_t(data[2 * index + 1]) << 8);
}

std::optional<QString> DecodeText(QByteArrayView bytes) {
    const bool utf16 = bytes.startsWith("\xFF\xFE");
    if (utf16) {
        bytes = bytes.sliced(2);
        if (bytes.size() % 2 != 0) return std::nullopt;
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    // Stateless: a sequence cut off at the end counts as an error instead of waiting for more.
    QStringDecoder decoder(
        utf16 ? QStringConverter::Utf16LE : QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || !QStringView(text).isValidUtf16()) return std::nullopt;
    return text;
}

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// A cursor over the decoded text. Every parse step either advances or fails; a failure anywhere
// rejects the whole file.
class Parser {
public:
    explicit Parser(QStringView text) : text_(text) {}

    std::optional<RegistryFile> Parse() {
        SkipEmptyLines();
        if (RestOfLine().trimmed() != kHeader) return std::nullopt;
        SkipEmptyLines();
        RegistryFile file;
        if (!ParseSection(file.keyPath)) return std::nullopt;

        QHash<QString, qsizetype> indexByName;
        while (SkipEmptyLines()) {
            if (Peek() == u'[') return std::nullopt;  // a key of its own: not part of this one
            RegistryValue value;
            if (!ParseValue(value)) return std::nullopt;
            const QString key = RegistryNameKey(value.name);
            if (const auto found = indexByName.constFind(key); found != indexByName.cend()) {
                RegistryValue& earlier = file.values[*found];
                earlier.type = value.type;
                earlier.data = std::move(value.data);
            } else {
                indexByName.insert(key, qsizetype(file.values.size()));
                file.values.push_back(std::move(value));
            }
        }
        return file;
    }

private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    QChar Peek() const { return AtEnd() ? QChar(u'\n') : text_[pos_]; }
    bool AtLineEnd() const {
        if (AtEnd() || text_[pos_] == u'\n') return true;
        return text_[pos_] == u'\r' && (pos_ + 1 == text_.size() || text_[pos_ + 1] == u'\n');
    }
    void SkipLineEnd() {
        if (!AtEnd() && text_[pos_] == u'\r') ++pos_;
        if (!AtEnd() && text_[pos_] == u'\n') ++pos_;
    }
    void SkipBlanks() {
        while (!AtEnd() && (text_[pos_] == u' ' || text_[pos_] == u'\t')) ++pos_;
    }
    QStringView RestOfLine() {
        const qsizetype start = pos_;
        while (!AtLineEnd()) ++pos_;
        return text_.sliced(start, pos_ - start);
    }
    bool Take(QStringView expected) {
        if (!text_.sliced(pos_).startsWith(expected, Qt::CaseInsensitive)) return false;
        pos_ += expected.size();
        return true;
    }

    // Skips blank and comment lines; false at the end of the text, else stands at the first
    // character of the next line with content.
    bool SkipEmptyLines() {
        for (;;) {
            SkipBlanks();
            if (AtEnd()) return false;
            if (Peek() == u';') RestOfLine();
            if (!AtLineEnd()) return true;
            SkipLineEnd();
        }
    }

    bool ParseSection(QString& keyPath) {
        if (Peek() != u'[') return false;
        const QStringView line = RestOfLine().trimmed();
        if (!line.endsWith(u']')) return false;
        keyPath = line.sliced(1, line.size() - 2).toString();
        return !keyPath.isEmpty() && !keyPath.startsWith(u'-');  // "[-key]" deletes a key
    }

    bool ParseQuoted(QString& out) {
        if (Peek() != u'"') return false;
        ++pos_;
        for (;;) {
            if (AtLineEnd()) return false;
            const QChar c = text_[pos_++];
            if (c == u'"') return true;
            if (c == u'\\') {
                if (AtLineEnd()) return false;
                const QChar escaped = text_[pos_++];
                if (escaped != u'\\' && escaped != u'"') return false;
                out.append(escaped);
            } else {
                out.append(c);
            }
        }
    }

    // One to maxDigits hex digits; more digits than that is an error, not a wrap-around.
    bool ParseHexNumber(int maxDigits, uint32_t& out) {
        out = 0;
        int digits = 0;
        for (; !AtEnd() && HexDigitValue(text_[pos_]) >= 0; ++pos_) {
            if (++digits > maxDigits) return false;
            out = out << 4 | uint32_t(HexDigitValue(text_[pos_]));
        }
        return digits > 0;
    }

    // A backslash at the end of a line continues a hex list on the next one.
    void SkipBlanksAndContinuations() {
        for (;;) {
            SkipBlanks();
            if (Peek() != u'\\') return;
            const qsizetype backslash = pos_;
            ++pos_;
            SkipBlanks();
            if (AtEnd() || !AtLineEnd()) {
                pos_ = backslash;
                return;
            }
            SkipLineEnd();
        }
    }

    bool ParseHexBytes(QByteArray& out) {
        SkipBlanksAndContinuations();
        if (AtLineEnd()) return true;
        for (;;) {
            uint32_t byte = 0;
            if (!ParseHexNumber(2, byte)) return false;
            out.append(char(byte));
            SkipBlanks();
            if (Peek() != u',') return true;
            ++pos_;
            SkipBlanksAndContinuations();
        }
    }

    bool ParseValue(RegistryValue& value) {
        if (Peek() == u'@') {
            ++pos_;
        } else if (!ParseQuoted(value.name)) {
            return false;
        }
        SkipBlanks();
        if (Peek() != u'=') return false;
        ++pos_;
        SkipBlanks();

        if (Peek() == u'"') {
            QString text;
            if (!ParseQuoted(text)) return false;
            value.type = REG_SZ;
            value.data = Utf16Data(text);
        } else if (Take(u"dword:")) {
            uint32_t number = 0;
            if (!ParseHexNumber(8, number)) return false;
            value.type = REG_DWORD;
            value.data = DwordData(number);
        } else if (Take(u"hex:")) {
            value.type = REG_BINARY;
            if (!ParseHexBytes(value.data)) return false;
        } else if (Take(u"hex(")) {
            if (!ParseHexNumber(8, value.type) || !Take(u"):")) return false;
            if (!ParseHexBytes(value.data)) return false;
        } else {
            return false;  // also "=-", which deletes a value on import
        }
        SkipBlanks();
        if (!AtLineEnd()) return false;
        SkipLineEnd();
        return true;
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

QString Quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == u'\\' || c == u'"') out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

// The text of a REG_SZ that a quoted string gives back byte for byte, if there is one.
std::optional<QString> QuotableText(const QByteArray& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
    const qsizetype units = data.size() / 2 - 1;
    if (CodeUnitAt(data, units) != 0) return std::nullopt;
    QString text;
    text.reserve(units);
    for (qsizetype i = 0; i < units; ++i) {
        const char16_t unit = CodeUnitAt(data, i);
        if (unit == 0 || unit == u'\n' || unit == u'\r') return std::nullopt;
        text.append(QChar(unit));
    }
    if (!QStringView(text).isValidUtf16()) return std::nullopt;
    return text;
}

void AppendHexBytes(QString& line, const QByteArray& data) {
    qsizetype column = line.size();
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (i > 0) {
            line.append(u',');
            ++column;
            if (column + 3 > kWrapColumn) {
                line.append(QStringLiteral("\\\n  "));
                column = 2;
            }
        }
        line.append(QString::asprintf("%02x", unsigned(uint8_t(data[i]))));
        column += 2;
    }
}

QString SerializeValue(const RegistryValue& value) {
    QString line = value.name.isEmpty() ? QStringLiteral("@") : Quoted(value.name);
    line.append(u'=');
    if (value.type == REG_SZ) {
        if (const auto text = QuotableText(value.data)) return line + Quoted(*text);
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        return line + QString::asprintf("dword:%08x", DwordValue(value.data));
    }
    line.append(value.type == REG_BINARY ? QStringLiteral("hex:")
                                         : QString::asprintf("hex(%x):", value.type));
    AppendHexBytes(line, value.data);
    return line;
}

}  // namespace

std::optional<RegistryFile> ParseRegistryFile(QByteArrayView bytes) {
    if (bytes.size() > kMaxRegistryFileSize) return std::nullopt;
    const std::optional<QString> text = DecodeText(bytes);
    if (!text) return std::nullopt;
    return Parser(*text).Parse();
}

QByteArray SerializeRegistryFile(const RegistryFile& file) {
    QString text =
        kHeader.toString() + QStringLiteral("\n\n[") + file.keyPath + QStringLiteral("]\n");
    for (const RegistryValue& value : file.values) text += SerializeValue(value) + u'\n';
    text += u'\n';
    return text.toUtf8();
}

QString RegistryNameKey(const QString& name) {
    return name.toCaseFolded();
}

QByteArray DwordData(uint32_t number) {
    QByteArray data;
    for (int shift = 0; shift < 32; shift += 8) data.append(char(number >> shift));
    return data;
}

uint32_t DwordValue(const QByteArray& data) {
    uint32_t number = 0;
    for (qsizetype i = 0; i < data.size(); ++i) number |= uint32_t(uint8_t(data[i])) << (8 * i);
    return number;
}

QByteArray Utf16Data(QStringView text) {
    QByteArray data;
    data.reserve((text.size() + 1) * 2);
    for (QChar c : text) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    data.append(2, '\0');
    return data;
}

QString Utf16Text(const QByteArray& data) {
    QString text;
    for (qsizetype i = 0; i < data.size() / 2; ++i) {
        const char16_t unit = CodeUnitAt(data, i);
        if (unit == 0) break;
        text.append(QChar(unit));
    }
    return text;
}

}  // namespace nodrel::platform
