#include "DataOptions.h"

#include "NumberPick.h"
#include "platform/KeyActions.h"

#include <QLocale>
#include <QStringList>

namespace {
AppError invalid(const char* key, const QString& value, const QString& why) {
    return makeError(Err::DataSettingInvalid,
                     QStringLiteral("The Data setting %1 \"%2\" %3. Open Data and correct it.")
                         .arg(QLatin1String(key), value, why));
}

int hexDigit(QChar c) {
    const int v = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
    return c.unicode() < 128 ? v : -1;
}

std::optional<QString> regexError(const QRegularExpression& re) {
    if (re.isValid())
        return std::nullopt;
    return QStringLiteral("is no regular expression (%1 at character %2)")
        .arg(re.errorString())
        .arg(re.patternErrorOffset() + 1);
}

const QStringList& afterKeys() {
    static const QStringList keys = {QStringLiteral("Return"), QStringLiteral("Tab"),
                                     QStringLiteral("Down"), QStringLiteral("Right"),
                                     QStringLiteral("None")};
    return keys;
}

std::optional<bool> flag(const QString& text) {
    if (text == QLatin1String("0"))
        return false;
    if (text == QLatin1String("1"))
        return true;
    return std::nullopt;
}

// The settings as stored, "Key=value" each, for the journal's run record.
QString describe(const DataSettings& d) {
    const std::pair<const char*, QString> items[] = {
        {"Identify", d.Identify},
        {"Request", d.Request},
        {"RequestEvery", d.RequestEvery},
        {"Keep", d.Keep},
        {"NumberOnly", d.NumberOnly},
        {"Decimal", d.Decimal},
        {"UnitColumn", d.UnitColumn},
        {"Pick", d.Pick},
        {"After", d.After},
        {"PerRow", d.PerRow},
        {"LineEnd", d.LineEnd},
        {"Encoding", d.Encoding},
    };
    QStringList out;
    for (const auto& [key, value] : items)
        out << QLatin1String(key) + QLatin1Char('=') + value;
    return out.join(QStringLiteral("; "));
}

} // namespace

std::optional<QByteArray> DataOptions::unescape(const QString& text, QString* why) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\\')) {
            // One character, both halves of a pair included.
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            out += text.mid(i, n).toUtf8();
            i += n - 1;
            continue;
        }
        const QChar c = i + 1 < text.size() ? text[i + 1] : QChar();
        const char simple = c == QLatin1Char('r')    ? '\r'
                            : c == QLatin1Char('n')  ? '\n'
                            : c == QLatin1Char('t')  ? '\t'
                            : c == QLatin1Char('e')  ? '\x1b'
                            : c == QLatin1Char('\\') ? '\\'
                                                     : 0;
        if (simple) {
            out += simple;
            ++i;
        } else if (c == QLatin1Char('x') && i + 3 < text.size() && hexDigit(text[i + 2]) >= 0 &&
                   hexDigit(text[i + 3]) >= 0) {
            out += char(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3]));
            i += 3;
        } else {
            if (why)
                *why = QStringLiteral("has \"%1\" at character %2, which is no escape: use \\r, "
                                      "\\n, \\t, \\e, \\\\ or \\x with two hex digits")
                           .arg(text.mid(i, c == QLatin1Char('x') ? 4 : 2))
                           .arg(i + 1);
            return std::nullopt;
        }
    }
    return out;
}

std::optional<DataOptions> DataOptions::from(const DataSettings& s, AppError* error) {
    const auto fail = [&](const char* key, const QString& value, const QString& why) {
        if (error)
            *error = invalid(key, value, why);
        return std::nullopt;
    };
    DataOptions o;
    o.described = describe(s);
    QString why;
    const auto request = unescape(s.Request, &why);
    if (!request)
        return fail("Request", s.Request, why);
    o.request = *request;
    const auto identify = unescape(s.Identify, &why);
    if (!identify)
        return fail("Identify", s.Identify, why);
    o.identify = *identify;

    bool ok = false;
    const double every =
        QString(s.RequestEvery).replace(QLatin1Char(','), QLatin1Char('.')).trimmed().toDouble(&ok);
    if (!ok || !(every == 0 || (every >= 0.1 && every <= 86400)))
        return fail("RequestEvery", s.RequestEvery,
                    QStringLiteral("is no number of seconds from 0.1 to 86400 (0: only at Read "
                                   "Start)"));
    o.requestEveryMs = int(every * 1000 + 0.5);

    o.keep.setPattern(s.Keep);
    if (const auto bad = regexError(o.keep))
        return fail("Keep", s.Keep, *bad);
    o.pick.setPattern(s.Pick);
    if (const auto bad = regexError(o.pick))
        return fail("Pick", s.Pick, *bad);

    if (!afterKeys().contains(s.After))
        return fail("After", s.After,
                    QStringLiteral("is none of Return, Tab, Down, Right and None"));
    o.after = AfterKey(afterKeys().indexOf(s.After));
    const int perRow = s.PerRow.trimmed().toInt(&ok);
    if (!ok || perRow < 1 || perRow > MaxPerRow)
        return fail("PerRow", s.PerRow,
                    QStringLiteral("is no whole number from 1 to %1 (1: each reading as After "
                                   "says)")
                        .arg(MaxPerRow));
    o.perRow = perRow;

    const auto numberOnly = flag(s.NumberOnly);
    const auto unitColumn = flag(s.UnitColumn);
    if (!numberOnly)
        return fail("NumberOnly", s.NumberOnly, QStringLiteral("is neither 0 nor 1"));
    if (!unitColumn)
        return fail("UnitColumn", s.UnitColumn, QStringLiteral("is neither 0 nor 1"));
    o.numberOnly = *numberOnly;
    o.unitColumn = *unitColumn;

    if (s.Decimal == QLatin1String("locale"))
        o.decimal = QLocale().decimalPoint();
    else if (s.Decimal == QLatin1String(".") || s.Decimal == QLatin1String(","))
        o.decimal = s.Decimal;
    else
        return fail("Decimal", s.Decimal, QStringLiteral("is none of \".\", \",\" and \"locale\""));

    static const QStringList ends = {QStringLiteral("CR"), QStringLiteral("LF"),
                                     QStringLiteral("Any")};
    if (!ends.contains(s.LineEnd))
        return fail("LineEnd", s.LineEnd, QStringLiteral("is none of CR, LF and Any"));
    o.lineEnd = LineEnd(ends.indexOf(s.LineEnd));

    static const QStringList encodings = {QStringLiteral("UTF-8"), QStringLiteral("Latin-1"),
                                          QStringLiteral("CP437"), QStringLiteral("Shift-JIS")};
    if (!encodings.contains(s.Encoding))
        return fail("Encoding", s.Encoding,
                    QStringLiteral("is none of UTF-8, Latin-1, CP437 and Shift-JIS"));
    o.encoding = Encoding(encodings.indexOf(s.Encoding));
    if (!LineText::canDecode(o.encoding))
        return fail("Encoding", s.Encoding, QStringLiteral("cannot be read by this build"));
    return o;
}

std::optional<QString> DataOptions::shape(const QString& received, QString* why) const {
    const auto skip = [why](const QString& because) {
        if (why)
            *why = because;
        return std::nullopt;
    };
    // The key marks mean keys: never let a received byte press one.
    QString line = received;
    line.remove(QChar(KeyActions::DownMark))
        .remove(QChar(KeyActions::RightMark))
        .remove(QChar(KeyActions::DeleteMark));
    if (!keep.pattern().isEmpty() && !keep.match(line).hasMatch())
        return skip(QStringLiteral("not kept by the filter"));

    QStringList values;
    if (pick.pattern().isEmpty()) {
        values << line;
    } else {
        const QRegularExpressionMatch m = pick.match(line);
        if (!m.hasMatch())
            return skip(QStringLiteral("does not match Pick"));
        if (pick.captureCount() == 0)
            values << m.captured(0);
        for (int g = 1; g <= pick.captureCount(); ++g)
            values << m.captured(g);
    }
    if (!numberOnly)
        return values.join(QLatin1Char('\t'));

    QStringList cells;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const std::optional<NumberPick::Number> n = NumberPick::first(values[i]);
        if (!n)
            return skip(pick.pattern().isEmpty() ? QStringLiteral("no number in the line")
                        : values.size() == 1
                            ? QStringLiteral("no number in what Pick took, \"%1\"").arg(values[i])
                            : QStringLiteral("no number in value %1 of %2, \"%3\"")
                                  .arg(i + 1)
                                  .arg(values.size())
                                  .arg(values[i]));
        cells << NumberPick::withDecimal(n->value, decimal);
        if (unitColumn)
            cells << n->unit;
    }
    return cells.join(QLatin1Char('\t'));
}

QString DataOptions::keyAfter(int* column) const {
    if (perRow >= 2) {
        *column = (*column + 1) % perRow;
        return *column == 0 ? QStringLiteral("\r\n") : QStringLiteral("\t");
    }
    *column = 0;
    switch (after) {
    case AfterKey::Return:
        return QStringLiteral("\r\n");
    case AfterKey::Tab:
        return QStringLiteral("\t");
    case AfterKey::Down:
        return QString(QChar(KeyActions::DownMark));
    case AfterKey::Right:
        return QString(QChar(KeyActions::RightMark));
    case AfterKey::None:
        break;
    }
    return {};
}
