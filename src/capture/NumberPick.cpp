#include "NumberPick.h"

#include <QStringList>

namespace {
bool isDigit(const QString& s, qsizetype i) {
    return i >= 0 && i < s.size() && s[i] >= QLatin1Char('0') && s[i] <= QLatin1Char('9');
}

bool isSeparator(QChar c) {
    return c == QLatin1Char('.') || c == QLatin1Char(',');
}

qsizetype digitsEnd(const QString& s, qsizetype i) {
    while (isDigit(s, i))
        ++i;
    return i;
}
} // namespace

namespace NumberPick {

std::optional<Number> first(const QString& line) {
    // The first digit, or a separator right before one (".5").
    qsizetype start = 0;
    while (start < line.size() && !isDigit(line, start) &&
           !(isSeparator(line[start]) && isDigit(line, start + 1)))
        ++start;
    if (start == line.size())
        return std::nullopt;

    // Digit groups and the separators between them.
    QStringList groups;
    QString separators;
    qsizetype end = start;
    for (;;) {
        const qsizetype groupEnd = digitsEnd(line, end);
        groups << line.mid(end, groupEnd - end);
        end = groupEnd;
        if (end < line.size() && isSeparator(line[end]) && isDigit(line, end + 1)) {
            separators += line[end];
            ++end;
            continue;
        }
        break;
    }

    // Which separator is the decimal one; the number ends before a
    // separator that fits no reading (a date such as 12.05.2024 gives 12.05).
    int decimalAt = -1; // index into separators
    const int count = int(separators.size());
    const auto groupsOfThree = [&](int from, int to) { // groups after separators [from, to)
        for (int k = from; k < to; ++k)
            if (groups[k + 1].size() != 3 || separators[k] != separators[from])
                return false;
        return groups[0].size() <= 3;
    };
    if (count == 1) {
        decimalAt = 0;
    } else if (count > 1) {
        const QChar last = separators.back();
        if (separators.count(last) == 1 && groupsOfThree(0, count - 1))
            decimalAt = count - 1;
        else if (separators.count(last) == count && groupsOfThree(0, count))
            decimalAt = -1; // thousands only
        else {
            decimalAt = 0; // the first separator, and the number ends after its digits
            while (groups.size() > 2)
                groups.removeLast();
            separators.truncate(1);
            end = line.indexOf(separators[0], start) + 1 + groups[1].size();
        }
    }

    QString integer;
    const int decimalGroup = decimalAt < 0 ? int(groups.size()) : decimalAt + 1;
    for (int k = 0; k < decimalGroup; ++k)
        integer += groups[k];
    while (integer.size() > 1 && integer[0] == QLatin1Char('0'))
        integer.remove(0, 1);
    if (integer.isEmpty())
        integer = QStringLiteral("0");
    QString value = integer;
    if (decimalAt >= 0)
        value += QLatin1Char('.') + groups[decimalGroup];

    // An exponent only where digits follow the e: "12 eV" has none.
    if (end < line.size() && (line[end] == QLatin1Char('e') || line[end] == QLatin1Char('E'))) {
        qsizetype e = end + 1;
        if (e < line.size() && (line[e] == QLatin1Char('+') || line[e] == QLatin1Char('-')))
            ++e;
        if (isDigit(line, e)) {
            const qsizetype eEnd = digitsEnd(line, e);
            value += line.mid(end, eEnd - end);
            end = eEnd;
        }
    }

    // A sign directly before the number, or before the spaces in front of it.
    qsizetype s = start - 1;
    while (s >= 0 && line[s] == QLatin1Char(' '))
        --s;
    if (s >= 0 && line[s] == QLatin1Char('-'))
        value.prepend(QLatin1Char('-'));

    Number n;
    n.value = value;
    qsizetype u = end;
    while (u < line.size() && line[u].isSpace())
        ++u;
    qsizetype uEnd = u;
    while (uEnd < line.size() && !line[uEnd].isSpace())
        ++uEnd;
    n.unit = line.mid(u, uEnd - u);
    return n;
}

QString withDecimal(const QString& value, const QString& decimal) {
    QString out = value;
    return out.replace(QLatin1Char('.'), decimal);
}

} // namespace NumberPick
