#pragma once

#include <QString>
#include <QStringList>

// The spreadsheets Parvelo knows how to type into as data.
enum class Spreadsheet { None, LibreOfficeCalc, Gnumeric, Excel };

// Typing a reading into a spreadsheet so that it lands in its own cell as
// data. A spreadsheet reads what is typed into a cell: "=1+1" is run as a
// formula, "-3.5 C" starts one and Return accepts the function its input
// help offers for the "C" ("CEILING("), which swallows the lines after it;
// and a reading that begins like an earlier cell of the column ("12" under
// "12.5 g") is completed to that cell by Return. So:
//  - Delete before the key that ends a cell, when something was typed into
//    it: it drops a proposed completion and, in the cell being edited,
//    nothing else. (On a cell not being edited it would clear the cell, so
//    it never goes into a cell that got no key.)
//  - A leading apostrophe makes a cell text. Gnumeric and Excel hide it,
//    so every reading that is not a plain number gets one. LibreOffice
//    shows it unless the rest reads as a number, so there it goes only
//    before a reading that would be a formula: one that starts with "=",
//    or with "+" or "-" and is not a number with a unit ("-3.5 C" stays as
//    sent: Calc takes a sign, a number and a unit as text).
//  - Plain numbers go as they are and become numbers.
// The date and time fields go as they are, for the spreadsheet to read as
// a date and a time.
class SpreadsheetEntry {
public:
    // Which spreadsheet the target is, from its window's class and title and
    // the program that was started; the window decides when it says.
    static Spreadsheet recognise(const QString& program, const QString& windowClass,
                                 const QString& title);
    static QString nameOf(Spreadsheet sheet);
    // Digits with an optional sign and decimal point or comma, blanks around.
    static bool isPlainNumber(QStringView cell);

    struct Keys {
        QString keys;             // what to type
        QString shown;            // what the cells show, where not the reading's data
        bool autoCorrect = false; // holds text that AutoCorrect may change
    };
    // line: the composed reading (cells separated by TAB, the arrow marks,
    // CR LF); its data is [dataAt, dataAt + dataLength).
    static Keys keysFor(Spreadsheet sheet, const QString& line, qsizetype dataAt,
                        qsizetype dataLength);

    // A new run: the target is learnt again, and each note is said once.
    void startRun();
    bool known() const { return m_known; }
    void learn(Spreadsheet sheet);
    Spreadsheet sheet() const { return m_sheet; }
    // The keys for a reading; notes for the log, each once a run, are added
    // to *notes.
    Keys plan(const QString& line, qsizetype dataAt, qsizetype dataLength, QStringList* notes);

private:
    Spreadsheet m_sheet = Spreadsheet::None;
    bool m_known = false;
    bool m_apostropheTold = false;
    bool m_autoCorrectTold = false;
};
