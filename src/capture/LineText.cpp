#include "LineText.h"

#include "base/NumberText.h"

#include <QStringDecoder>

namespace {
// The upper half of code page 437, as Unicode maps it (0xE6 is the micro
// sign, which ICU gives as the Greek mu).
constexpr char16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

QString decodeUtf8(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (int i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int n = LineText::utf8Length(bytes, i, &cp);
        if (n == 0) {
            out += QChar(static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        // Appended as code units: fromUcs4 would take a lone U+FEFF for a
        // byte-order mark and drop it.
        if (QChar::requiresSurrogates(cp)) {
            out += QChar(QChar::highSurrogate(cp));
            out += QChar(QChar::lowSurrogate(cp));
        } else {
            out += QChar(char16_t(cp));
        }
        i += n;
    }
    return out;
}

QString decodeCp437(const QByteArray& bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = QChar(b < 0x80 ? char16_t(b) : Cp437High[b - 0x80]);
    }
    return out;
}

QString decodeShiftJis(const QByteArray& bytes) {
    // A lead byte at the very end would wait for its partner and vanish; an
    // LF after the line (never a second byte) makes it show. ICU marks bytes
    // that are no Shift-JIS with SUB, a control character that is never
    // typed: U+FFFD shows in the target instead.
    QStringDecoder decoder("Shift_JIS", QStringDecoder::Flag::Stateless);
    QString out = decoder(bytes + '\n');
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out.replace(QChar(0x1A), QChar(QChar::ReplacementCharacter));
}
} // namespace

namespace LineText {
int utf8Length(const QByteArray& b, qsizetype i, char32_t* cp) {
    const auto u = [&](int k) { return static_cast<unsigned char>(b[k]); };
    const unsigned char c = u(i);
    int n;
    char32_t v;
    if (c < 0x80)
        return *cp = c, 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, v = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, v = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, v = c & 0x07;
    else
        return 0;
    if (i + n > b.size())
        return 0;
    for (int k = 1; k < n; ++k) {
        if ((u(i + k) & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (u(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
        (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    return *cp = v, n;
}

QString decode(const QByteArray& bytes, Encoding encoding) {
    switch (encoding) {
    case Encoding::Latin1:
        return QString::fromLatin1(bytes);
    case Encoding::Cp437:
        return decodeCp437(bytes);
    case Encoding::ShiftJis:
        return decodeShiftJis(bytes);
    case Encoding::Utf8:
        break;
    }
    return decodeUtf8(bytes);
}

bool canDecode(Encoding encoding) {
    return encoding != Encoding::ShiftJis || QStringDecoder("Shift_JIS").isValid();
}

std::optional<QString> compose(const QString& data, const QString& insertDate,
                               std::int16_t insertTime, const QString& dateText,
                               const QString& timeText, AppError* error, const QString& end,
                               qsizetype* dataAt) {
    const auto dateBefore = NumberText::equals(insertDate, 1, error);
    if (!dateBefore)
        return std::nullopt;
    const bool dateAfter = *NumberText::equals(insertDate, 2, error);
    const QChar tab('\t');
    QString line = data;
    if (insertTime == 1)
        line = timeText + tab + line;
    if (*dateBefore)
        line = dateText + tab + line;
    if (dataAt)
        *dataAt = line.size() - data.size();
    if (dateAfter)
        line += tab + dateText;
    if (insertTime == 2)
        line += tab + timeText;
    return line + end;
}
} // namespace LineText
