#include "NumberText.h"

#include <cmath>

namespace {
std::optional<double> toNumber(const QString& text, AppError* error) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        if (error)
            *error = makeError(Err::TypeMismatch, QStringLiteral("Type mismatch"));
        return std::nullopt;
    }
    return v;
}

template <typename T>
std::optional<T> toWhole(const QString& text, AppError* error, double lo, double hi) {
    const auto v = toNumber(text, error);
    if (!v)
        return std::nullopt;
    const double r = std::nearbyint(*v); // ties to even
    if (r < lo || r > hi) {
        if (error)
            *error = makeError(Err::Overflow, QStringLiteral("Overflow"));
        return std::nullopt;
    }
    return static_cast<T>(r);
}
} // namespace

namespace NumberText {
std::optional<std::int16_t> toInt16(const QString& text, AppError* error) {
    return toWhole<std::int16_t>(text, error, -32768, 32767);
}
std::optional<std::int32_t> toInt32(const QString& text, AppError* error) {
    return toWhole<std::int32_t>(text, error, -2147483648.0, 2147483647.0);
}
std::optional<bool> equals(const QString& text, int number, AppError* error) {
    const auto v = toNumber(text, error);
    if (!v)
        return std::nullopt;
    return *v == number;
}
} // namespace NumberText
