#include "LineText.h"

#include "base/NumberText.h"

namespace {
// Length of the valid UTF-8 sequence at i, or 0 when there is none.
int utf8Length(const QByteArray& b, int i, char32_t* cp) {
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
} // namespace

namespace LineText {
QString decode(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (int i = 0; i < bytes.size();) {
        char32_t cp = 0;
        const int n = utf8Length(bytes, i, &cp);
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

std::optional<QString> compose(const QString& data, const QString& insertDate,
                               std::int16_t insertTime, const QString& dateText,
                               const QString& timeText, AppError* error) {
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
    if (dateAfter)
        line += tab + dateText;
    if (insertTime == 2)
        line += tab + timeText;
    return line + QStringLiteral("\r\n");
}
} // namespace LineText
