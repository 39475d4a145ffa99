#pragma once

#include "AppError.h"

#include <QString>
#include <cstdint>

// Conversions of stored text to whole numbers the way the program's settings
// need them: blanks around the number are allowed, a fraction rounds to the
// nearest even, text that is not a number is a type mismatch, a number out of
// range an overflow.
namespace NumberText {
std::optional<std::int16_t> toInt16(const QString& text, AppError* error);
std::optional<std::int32_t> toInt32(const QString& text, AppError* error);
// Compares text with a number; text that is not a number is a type mismatch.
std::optional<bool> equals(const QString& text, int number, AppError* error);
} // namespace NumberText
