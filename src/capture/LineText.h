#pragma once

#include "base/AppError.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace LineText {
// Received bytes as text: UTF-8 where the bytes are valid UTF-8, any other
// byte as the Latin-1 character of that value (instruments that send a
// single-byte degree sign keep it).
QString decode(const QByteArray& bytes);

// The line to type and log: [date TAB][time TAB] data [TAB date][TAB time]
// CR LF, by the two insertion modes. insertDate is the stored text of the
// date mode, compared as a number; text that is not one gives an error.
std::optional<QString> compose(const QString& data, const QString& insertDate,
                               std::int16_t insertTime, const QString& dateText,
                               const QString& timeText, AppError* error);
} // namespace LineText
