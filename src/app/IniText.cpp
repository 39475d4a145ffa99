#include "IniText.h"

#include <QMap>
#include <QStringEncoder>
#include <iterator>

// What follows mirrors QSettings' INI writer: sections and the keys in each
// are sorted by name, whatever order the file had; keys and values are
// escaped as QSettings escapes them.

namespace {
constexpr char Hex[] = "0123456789ABCDEF";

bool isHexDigit(char16_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

const char* shortEscape(char16_t c) {
    static constexpr const char* table[] = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, "\\a",   "\\b",   "\\t",
                                            "\\n",   "\\v",   "\\f",   "\\r"};
    return c < std::size(table) ? table[c] : nullptr;
}

void escapeKey(const QString& key, QByteArray& out) {
    for (const QChar qc : key) {
        const char16_t c = qc.unicode();
        if (c == '/') {
            out += '\\';
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '_' || c == '-' || c == '.') {
            out += char(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += Hex[c / 16];
            out += Hex[c % 16];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += Hex[(c >> shift) & 0xF];
        }
    }
}

void escapeString(const QString& text, QByteArray& out) {
    const bool encode = !text.startsWith(QLatin1String("@ByteArray(")) &&
                        !text.startsWith(QLatin1String("@Variant(")) &&
                        !text.startsWith(QLatin1String("@DateTime("));
    QStringEncoder utf8(QStringEncoder::Utf8); // keeps a surrogate pair's first half
    const qsizetype start = out.size();
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == ';' || c == ',' || c == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && isHexDigit(c)) {
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeNextIfDigit = false;
        if (const char* e = shortEscape(c)) {
            out += e;
            continue;
        }
        switch (c) {
        case 0:
            out += "\\0";
            escapeNextIfDigit = true;
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(c);
            break;
        default:
            if (c <= 0x1F || (c >= 0x7F && !encode)) {
                out += "\\x" + QByteArray::number(c, 16);
                escapeNextIfDigit = true;
            } else if (encode) {
                out += QByteArray(utf8(QStringView(&qc, 1)));
            } else {
                out += char(c);
            }
        }
    }
    if (needsQuotes || (start < out.size() && (out.at(start) == ' ' || out.back() == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

// A stored text; a text that starts with '@' gets a second one, which the
// reader takes away again. Of the typed values QSettings knows, only byte
// arrays (a hand edit) keep their type; others are kept as their text.
QString asText(const QVariant& v) {
    if (!v.isValid())
        return QStringLiteral("@Invalid()");
    if (v.typeId() == QMetaType::QByteArray)
        return "@ByteArray(" + QString::fromLatin1(v.toByteArray()) + ')';
    const QString s = v.toString();
    return s.startsWith('@') ? '@' + s : s;
}

void escapeValue(const QVariant& v, QByteArray& out) {
    if (v.typeId() != QMetaType::QStringList) {
        escapeString(asText(v), out);
        return;
    }
    const QStringList items = v.toStringList();
    if (items.isEmpty())
        out += "@Invalid()";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i)
            out += ", ";
        escapeString(asText(items[i]), out);
    }
}

} // namespace

QByteArray IniText::format(const QVariantMap& values) {
    QMap<QString, QVariantMap> sections;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const qsizetype slash = it.key().indexOf('/');
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section].insert(it.key().mid(slash + 1), it.value());
    }
    QByteArray out;
    for (const QString& name : sections.keys()) {
        if (!out.isEmpty())
            out += '\n';
        QByteArray header;
        escapeKey(name, header);
        if (header.isEmpty())
            header = "General";
        else if (header.compare("general", Qt::CaseInsensitive) == 0)
            header.prepend('%');
        out += '[' + header + "]\n";
        const QVariantMap& keys = sections[name];
        for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
            escapeKey(it.key(), out);
            out += '=';
            escapeValue(it.value(), out);
            out += '\n';
        }
    }
    return out;
}
