#include "GarbleCheck.h"

namespace {
enum class Kind { Clean, Foreign, Broken };

Kind kindOf(char32_t c) {
    if (c == '\t' || (c >= 0x20 && c < 0x7f))
        return Kind::Clean;
    // Private-use and unassigned code points are no instrument's text either.
    const QChar::Category category = QChar::category(c);
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0xfffd || category == QChar::Other_Control ||
        category == QChar::Other_PrivateUse || category == QChar::Other_NotAssigned)
        return Kind::Broken;
    return Kind::Foreign;
}

void add(GarbleCheck::Counts& n, Kind k) {
    switch (k) {
    case Kind::Clean:
        ++n.clean;
        break;
    case Kind::Foreign:
        ++n.foreign;
        break;
    case Kind::Broken:
        ++n.broken;
        break;
    }
}

bool isFraming(char c) {
    return static_cast<unsigned char>(c) < 0x20 && c != '\t';
}

QString encodingName(Encoding e) {
    switch (e) {
    case Encoding::Latin1:
        return QStringLiteral("Latin-1");
    case Encoding::Cp437:
        return QStringLiteral("CP437");
    case Encoding::ShiftJis:
        return QStringLiteral("Shift-JIS");
    case Encoding::Utf8:
        break;
    }
    return QStringLiteral("UTF-8");
}
} // namespace

GarbleCheck::Counts GarbleCheck::count(const QByteArray& raw, const QString& text,
                                       Encoding encoding, int marked) {
    // Control bytes decode to one character each in every encoding, so the
    // framing is cut off bytes and text alike.
    qsizetype head = 0, tail = raw.size();
    while (head < tail && isFraming(raw[head]))
        ++head;
    while (tail > head && isFraming(raw[tail - 1]))
        --tail;
    Counts n;
    if (encoding == Encoding::Utf8) {
        // Bytes that are no UTF-8 show as Latin-1 in the text: judge the bytes.
        for (qsizetype i = head; i < tail;) {
            char32_t cp = 0;
            const int len = LineText::utf8Length(raw, i, &cp);
            add(n, len ? kindOf(cp) : Kind::Broken);
            i += len ? len : 1;
        }
    } else {
        // Every Latin-1 and CP437 character is one byte; in Shift-JIS only
        // the half-width katakana are.
        const auto oneByte = [encoding](char32_t c) {
            return encoding != Encoding::ShiftJis || (c >= 0xff61 && c <= 0xff9f);
        };
        const QStringView view =
            QStringView(text).mid(head, text.size() - head - (raw.size() - tail));
        for (qsizetype i = 0; i < view.size(); ++i) {
            char32_t c = view[i].unicode();
            if (view[i].isHighSurrogate() && i + 1 < view.size() && view[i + 1].isLowSurrogate()) {
                c = QChar::surrogateToUcs4(view[i], view[i + 1]);
                ++i;
            }
            const Kind kind = kindOf(c);
            add(n, kind);
            if (kind == Kind::Foreign && oneByte(c))
                ++n.oneByte;
        }
    }
    // A damaged character arrives as "?", which looks clean.
    const int damaged = qMin(marked, n.clean);
    n.clean -= damaged;
    n.broken += damaged;
    return n;
}

std::optional<QString> GarbleCheck::garbled(const QByteArray& raw, const QString& text,
                                            Encoding encoding, int marked) {
    const Counts n = count(raw, text, encoding, marked);
    // Half-width katakana spell whole Japanese words; Latin-1 and CP437
    // readings have a sign or a letter here and there.
    const int oneByteWeight = encoding == Encoding::ShiftJis ? 1 : 2;
    const int weight = BrokenWeight * n.broken + oneByteWeight * n.oneByte;
    if (weight < MinWeight || weight <= n.clean)
        return std::nullopt;
    return QStringLiteral("garbled: %1 of %2 characters are no text in %3")
        .arg(n.broken + n.oneByte)
        .arg(n.clean + n.foreign + n.broken)
        .arg(encodingName(encoding));
}
