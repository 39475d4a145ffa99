#include "capture/SpreadsheetEntry.h"

#include "platform/KeyActions.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

bool isSeparator(QChar c) {
    return c == u'\t' || c == u'\r' || c == QChar(KeyActions::DownMark) ||
           c == QChar(KeyActions::RightMark);
}

// Whether a key goes into the cell: controls other than the separators
// are not typed.
bool typesSomething(QStringView cell) {
    for (QChar c : cell)
        if (c.unicode() >= 0x20 && !(c.unicode() >= 0x7f && c.unicode() <= 0x9f))
            return true;
    return false;
}

// A sign, a number and words of letters: what Calc keeps as text when it is
// typed (its formula reading fails on the unit).
bool isNumberWithUnit(QStringView cell) {
    static const QRegularExpression re(
        QStringLiteral("^[+-]\\s*(\\d+([.,]\\d*)?|[.,]\\d+)\\s*[\\p{L}°][\\p{L}°/\\s]*$"));
    return re.match(cell).hasMatch();
}

// What LibreOffice's AutoCorrect acts on as it is typed with its settings as
// installed: a first word in small letters, a lone "i", fractions and other
// entries of the replacement table, straight quotes.
bool mayAutoCorrect(QStringView cell) {
    static const QRegularExpression re(
        QStringLiteral("^\\s*\\p{Ll}\\S*\\s+\\S|(^|\\s)i(\\s|$)|['\"]|\\d/"
                       "\\d|\\([crCR]\\)|\\(tm\\)|->|<-|--|\\.\\.\\."));
    return re.match(cell).hasMatch();
}

QString asData(Spreadsheet sheet, const QString& cell) {
    if (!typesSomething(cell) || SpreadsheetEntry::isPlainNumber(cell))
        return cell;
    const QChar first = cell.at(0);
    if (sheet == Spreadsheet::LibreOfficeCalc) {
        const bool formula =
            first == u'=' || ((first == u'+' || first == u'-') && !isNumberWithUnit(cell));
        return formula ? QLatin1Char('\'') + cell : cell;
    }
    return QLatin1Char('\'') + cell;
}

} // namespace

Spreadsheet SpreadsheetEntry::recognise(const QString& program, const QString& windowClass,
                                        const QString& title) {
    const QString cls = windowClass.toLower();
    if (cls.contains(QLatin1String("libreoffice-calc")) ||
        title.endsWith(QLatin1String("LibreOffice Calc")))
        return Spreadsheet::LibreOfficeCalc;
    if (cls.contains(QLatin1String("gnumeric")) || title.endsWith(QLatin1String(" - Gnumeric")))
        return Spreadsheet::Gnumeric;
    if (cls.contains(QLatin1String("xlmain")) || title.endsWith(QLatin1String(" - Excel")) ||
        title.startsWith(QLatin1String("Microsoft Excel")))
        return Spreadsheet::Excel;
    if (!windowClass.isEmpty() || !title.isEmpty())
        return Spreadsheet::None;
    // Either kind of slash: the settings may come from the other system.
    QString name =
        program.mid(std::max(program.lastIndexOf(u'/'), program.lastIndexOf(u'\\')) + 1).toLower();
    if (name.endsWith(QLatin1String(".exe")))
        name.chop(4);
    if (name == QLatin1String("localc") || name == QLatin1String("scalc"))
        return Spreadsheet::LibreOfficeCalc;
    if (name.startsWith(QLatin1String("gnumeric")))
        return Spreadsheet::Gnumeric;
    if (name == QLatin1String("excel"))
        return Spreadsheet::Excel;
    return Spreadsheet::None;
}

QString SpreadsheetEntry::nameOf(Spreadsheet sheet) {
    switch (sheet) {
    case Spreadsheet::LibreOfficeCalc:
        return QStringLiteral("LibreOffice Calc");
    case Spreadsheet::Gnumeric:
        return QStringLiteral("Gnumeric");
    case Spreadsheet::Excel:
        return QStringLiteral("Excel");
    case Spreadsheet::None:
        break;
    }
    return {};
}

bool SpreadsheetEntry::isPlainNumber(QStringView cell) {
    static const QRegularExpression re(QStringLiteral("^\\s*[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)\\s*$"));
    return re.match(cell).hasMatch();
}

SpreadsheetEntry::Keys SpreadsheetEntry::keysFor(Spreadsheet sheet, const QString& line,
                                                 qsizetype dataAt, qsizetype dataLength) {
    Keys k;
    if (sheet == Spreadsheet::None) {
        k.keys = line;
        return k;
    }
    QString shown;
    bool changed = false;
    qsizetype begin = 0;
    while (begin <= line.size()) {
        qsizetype end = begin;
        while (end < line.size() && !isSeparator(line.at(end)))
            ++end;
        const QString cell = line.mid(begin, end - begin);
        const bool data = begin >= dataAt && end <= dataAt + dataLength;
        const QString typed = data ? asData(sheet, cell) : cell;
        k.keys += typed;
        if (data) {
            k.autoCorrect = k.autoCorrect || mayAutoCorrect(cell);
            // Gnumeric and Excel hide the apostrophe; Calc shows it.
            const QString inCell = sheet == Spreadsheet::LibreOfficeCalc ? typed : cell;
            changed = changed || inCell != cell;
            shown += inCell;
        }
        if (end == line.size())
            break;
        if (typesSomething(cell))
            k.keys += QChar(KeyActions::DeleteMark);
        // The separator, CR LF as one.
        const qsizetype next =
            line.at(end) == u'\r' && end + 1 < line.size() && line.at(end + 1) == u'\n' ? end + 2
                                                                                        : end + 1;
        k.keys += QStringView(line).mid(end, next - end);
        if (data && next <= dataAt + dataLength)
            shown += QStringView(line).mid(end, next - end);
        begin = next;
    }
    if (changed)
        k.shown = shown;
    return k;
}

void SpreadsheetEntry::startRun() {
    m_sheet = Spreadsheet::None;
    m_known = false;
    m_apostropheTold = false;
    m_autoCorrectTold = false;
}

void SpreadsheetEntry::learn(Spreadsheet sheet) {
    m_sheet = sheet;
    m_known = true;
}

SpreadsheetEntry::Keys SpreadsheetEntry::plan(const QString& line, qsizetype dataAt,
                                              qsizetype dataLength, QStringList* notes) {
    Keys k = keysFor(m_sheet, line, dataAt, dataLength);
    if (m_sheet != Spreadsheet::LibreOfficeCalc)
        return k;
    const QString data = line.mid(dataAt, dataLength);
    if (!k.shown.isEmpty() && !std::exchange(m_apostropheTold, true))
        *notes << QStringLiteral("LibreOffice Calc shows the apostrophe that Parvelo types before "
                                 "a reading such as \"%1\" so that it is text, not a formula: "
                                 "the cell holds \"%2\".")
                      .arg(data, k.shown);
    if (k.autoCorrect && !std::exchange(m_autoCorrectTold, true))
        *notes << QStringLiteral(
                      "LibreOffice Calc's AutoCorrect may change a reading such as \"%1\" as it "
                      "is typed (a first letter made a capital, 1/2 made \u00bd, straight quotes "
                      "made curly). To keep readings exactly as sent, switch off in Calc under "
                      "Tools > AutoCorrect Options: on the Options tab \"Use replacement table\" "
                      "and \"Capitalize first letter of every sentence\", on the Localized "
                      "Options tab \"Replace\" for single and for double quotes.")
                      .arg(data);
    return k;
}
