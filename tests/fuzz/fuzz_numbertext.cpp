// Stored numbers are text the user may have edited by hand; the conversions
// must never misbehave on it and must round the way they promise.
#include "FuzzCheck.h"
#include "base/NumberText.h"

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
void checkText(const QString& text) {
    AppError e16, e32, eq;
    const auto v16 = NumberText::toInt16(text, &e16);
    const auto v32 = NumberText::toInt32(text, &e32);
    const auto eq0 = NumberText::equals(text, 0, &eq);

    bool ok = false;
    const double d = text.trimmed().toDouble(&ok);
    const bool number = ok && std::isfinite(d);
    FUZZ_CHECK(eq0.has_value() == number);
    if (!number) {
        FUZZ_CHECK(!v16 && !v32);
        FUZZ_CHECK(e16.number == Err::TypeMismatch && e32.number == Err::TypeMismatch);
        FUZZ_CHECK(eq.number == Err::TypeMismatch);
        return;
    }
    FUZZ_CHECK(*eq0 == (d == 0));
    if (v32) {
        // Nearest whole number, ties to even.
        const double diff = d - double(*v32);
        FUZZ_CHECK(std::fabs(diff) <= 0.5);
        if (std::fabs(diff) == 0.5)
            FUZZ_CHECK(*v32 % 2 == 0);
        const auto same = NumberText::equals(text, *v32, nullptr);
        FUZZ_CHECK(same && *same == (diff == 0));
    } else {
        FUZZ_CHECK(e32.number == Err::Overflow);
        FUZZ_CHECK(std::fabs(d) >= 2147483647.5);
    }
    if (v16) {
        FUZZ_CHECK(*v16 >= -32768 && *v16 <= 32767);
        FUZZ_CHECK(v32 && *v32 == *v16);
    } else {
        FUZZ_CHECK(e16.number == Err::Overflow);
        FUZZ_CHECK(!v32 || *v32 < -32768 || *v32 > 32767);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* chars = reinterpret_cast<const char*>(data);
    checkText(QString::fromUtf8(chars, qsizetype(size)));
    checkText(QString::fromLatin1(chars, qsizetype(size)));

    // A number written the usual way, with blanks around it, reads back.
    if (size >= 4) {
        std::int32_t v;
        std::memcpy(&v, data, 4);
        const QString text = QStringLiteral(" %1\t").arg(v);
        const auto back = NumberText::toInt32(text, nullptr);
        FUZZ_CHECK(back && *back == v);
        const auto small = NumberText::toInt16(text, nullptr);
        FUZZ_CHECK(small.has_value() == (v >= -32768 && v <= 32767));
        if (small)
            FUZZ_CHECK(*small == v);
    }
    return 0;
}
