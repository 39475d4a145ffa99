// The Data settings meet whatever the instrument sends and whatever the user
// types: line ends of every kind split anywhere, bytes in any encoding,
// broken escapes, and lines with anything around their number.
#include "FuzzCheck.h"
#include "capture/DataOptions.h"
#include "capture/LineAssembler.h"
#include "capture/LineText.h"
#include "capture/NumberPick.h"

#include <QRegularExpression>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {
// The line-end rules spelled out on the whole input at once.
std::vector<QByteArray> reference(LineEnd end, const QByteArray& in, QByteArray* pending) {
    std::vector<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in[i];
        const char next = i + 1 < in.size() ? in[i + 1] : 0;
        const bool ends = end == LineEnd::CR   ? c == '\r'
                          : end == LineEnd::LF ? c == '\n' || (c == '\r' && next == '\n')
                                               : c == '\r' || c == '\n';
        if (!ends) {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
        // The second byte of a pair belongs to the same end.
        if ((end != LineEnd::LF && c == '\r' && next == '\n') ||
            (end == LineEnd::Any && c == '\n' && next == '\r') || (end == LineEnd::LF && c == '\r'))
            ++i;
    }
    // LF: a CR at the very end may still become CR LF and is not pending yet.
    if (end == LineEnd::LF && line.endsWith('\r'))
        line.chop(1);
    *pending = line;
    return lines;
}

void checkLineEnds(const QByteArray& in) {
    if (in.size() >= LineAssembler::MaxLine)
        return;
    for (LineEnd end : {LineEnd::CR, LineEnd::LF, LineEnd::Any}) {
        LineAssembler a;
        a.setLineEnd(end);
        std::vector<QByteArray> lines;
        for (char c : in)
            if (a.feed(c) == LineAssembler::Outcome::LineCompleted)
                lines.push_back(a.takeLine());
        QByteArray pending;
        FUZZ_CHECK(lines == reference(end, in, &pending));
        FUZZ_CHECK(a.pending() == pending);
    }
}

void checkDecode(const QByteArray& in) {
    for (Encoding e : {Encoding::Latin1, Encoding::Cp437, Encoding::ShiftJis}) {
        const QString text = LineText::decode(in, e);
        if (e != Encoding::ShiftJis)
            FUZZ_CHECK(text.size() == in.size());
        FUZZ_CHECK(text.size() <= in.size());
        // No byte vanishes without a trace: each character comes from a byte.
        FUZZ_CHECK(in.isEmpty() == text.isEmpty());
        FUZZ_CHECK(!text.contains(QChar(0x1A)) || in.contains('\x1a') || e != Encoding::ShiftJis);
    }
}

void checkEscapes(const QByteArray& in) {
    const QString text = QString::fromUtf8(in);
    QString why;
    const auto bytes = DataOptions::unescape(text, &why);
    FUZZ_CHECK(bytes || !why.isEmpty());
    // Every byte written as \xHH comes back as itself.
    QString escaped;
    for (char c : in)
        escaped += QStringLiteral("\\x%1").arg(static_cast<unsigned char>(c), 2, 16, QChar('0'));
    FUZZ_CHECK(DataOptions::unescape(escaped, &why) == in);
}

void checkNumber(const QByteArray& in) {
    static const QRegularExpression shape(
        QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?$"));
    const QString line = LineText::decode(in, Encoding::Utf8);
    const auto n = NumberPick::first(line);
    bool hasDigit = false;
    for (QChar c : line)
        hasDigit = hasDigit || (c >= '0' && c <= '9');
    FUZZ_CHECK(bool(n) == hasDigit);
    if (!n)
        return;
    FUZZ_CHECK(shape.match(n->value).hasMatch());
    FUZZ_CHECK(!n->unit.contains(QLatin1Char(' ')) && !n->unit.contains(QLatin1Char('\t')));
    FUZZ_CHECK(NumberPick::withDecimal(n->value, QStringLiteral(",")).count(',') <= 1);

    DataSettings s;
    s.NumberOnly = QStringLiteral("1");
    s.UnitColumn = QStringLiteral("1");
    s.Decimal = QStringLiteral(",");
    s.Keep = QStringLiteral("^S S|°C$|\\d");
    AppError error;
    const auto o = DataOptions::from(s, &error);
    FUZZ_CHECK(o);
    QString why;
    const auto typed = o->shape(line, &why);
    FUZZ_CHECK(bool(typed) == hasDigit);
    if (typed)
        FUZZ_CHECK(typed->count(QLatin1Char('\t')) == 1 &&
                   !typed->section(QLatin1Char('\t'), 0, 0).contains(QLatin1Char('.')));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray in(reinterpret_cast<const char*>(data), qsizetype(size));
    checkLineEnds(in);
    checkDecode(in);
    checkEscapes(in.left(256));
    checkNumber(in.left(512));
    return 0;
}
