#pragma once

#include "base/AppError.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// How an instrument's bytes are read.
enum class Encoding { Utf8, Latin1, Cp437, ShiftJis };

namespace LineText {
// Received bytes as text. Utf8: UTF-8 where the bytes are valid UTF-8, any
// other byte as the Latin-1 character of that value (instruments that send
// a single-byte degree sign keep it). Cp437: the IBM PC's code page (0xF8
// is °, 0xE6 is µ). ShiftJis: bytes that are no Shift-JIS become U+FFFD.
QString decode(const QByteArray& bytes, Encoding encoding = Encoding::Utf8);
// Length of the valid UTF-8 sequence at i, or 0 when there is none; *cp
// receives its code point.
int utf8Length(const QByteArray& bytes, qsizetype i, char32_t* cp);
// Whether this build can read the encoding (Shift-JIS needs Qt with ICU).
bool canDecode(Encoding encoding);

// The line to type and log: [date TAB][time TAB] data [TAB date][TAB time]
// end, by the two insertion modes; end is CR LF unless the Data settings
// say another key. insertDate is the stored text of the date mode, compared
// as a number; text that is not one gives an error. *dataAt, if given,
// receives where in the line the data begins.
std::optional<QString> compose(const QString& data, const QString& insertDate,
                               std::int16_t insertTime, const QString& dateText,
                               const QString& timeText, AppError* error,
                               const QString& end = QStringLiteral("\r\n"),
                               qsizetype* dataAt = nullptr);
} // namespace LineText
