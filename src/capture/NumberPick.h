#pragma once

#include <QString>
#include <optional>

// The first number in a line from an instrument, as a spreadsheet should
// read it: "ST,+00012.34  g" is 12.34 with the unit g.
namespace NumberPick {

struct Number {
    QString value; // "-12.5", "0.0015e-3": no "+", no leading zeros, "." as separator
    QString unit;  // the word right after the number ("g", "mV", "°C"), or empty
};

// Looks for an optional sign (spaces may follow it), digits with at most one
// decimal separator ("." or ","), and an exponent. Where both separators
// appear, the last one is the decimal one ("1,234.5"); one kind repeated
// before groups of three digits groups thousands ("1.234.567"); a single one
// is decimal ("12,5"). nullopt when the line holds no digit.
std::optional<Number> first(const QString& line);

// value with its "." replaced by decimal.
QString withDecimal(const QString& value, const QString& decimal);

} // namespace NumberPick
