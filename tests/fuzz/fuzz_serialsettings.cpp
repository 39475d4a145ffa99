// Settings strings come from the user and from the stored settings file, so
// parse() sees anything. Whatever it accepts must be a usable value that
// survives a round trip through its reported form.
#include "FuzzCheck.h"
#include "serial/SerialSettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {
void checkDeviceSupports(const SerialSettings& s) {
    const Failure f = s.deviceSupports();
    if (f) {
        FUZZ_CHECK(f->number == Err::PortSettingUnsupported);
        FUZZ_CHECK(!f->message.isEmpty());
    }
    // 8-N-1 and friends with one stop bit work for 5 to 8 data bits.
    if (s.stopTenths == 10 && s.dataBits >= 5)
        FUZZ_CHECK(!f);
    if (s.dataBits == 4)
        FUZZ_CHECK(f);
}

void checkText(const QString& text) {
    AppError error;
    const auto s = SerialSettings::parse(text, &error);
    if (!s) {
        FUZZ_CHECK(error.number == Err::InvalidPropertyValue);
        FUZZ_CHECK(error.message.contains(text.left(80)));
        return;
    }
    FUZZ_CHECK(s->baud >= 50 && s->baud <= 4000000);
    FUZZ_CHECK(QByteArray("eonms").contains(s->parity) && s->parity != '\0');
    FUZZ_CHECK(s->dataBits >= 4 && s->dataBits <= 8);
    FUZZ_CHECK(s->stopTenths == 10 || s->stopTenths == 15 || s->stopTenths == 20);

    const QString reported = s->toString();
    FUZZ_CHECK(reported == reported.toLower());
    FUZZ_CHECK(reported.split(',').size() == 4);
    AppError again;
    const auto back = SerialSettings::parse(reported, &again);
    FUZZ_CHECK(back && *back == *s);
    FUZZ_CHECK(back->toString() == reported);

    // The parity letter is accepted in either case.
    const auto upper = SerialSettings::parse(text.toUpper());
    const auto lower = SerialSettings::parse(text.toLower());
    FUZZ_CHECK(upper && *upper == *s);
    FUZZ_CHECK(lower && *lower == *s);

    checkDeviceSupports(*s);
}

// The other direction: every value in range has a form that parses back.
void checkValue(const std::uint8_t* data, std::size_t size) {
    if (size < 6)
        return;
    SerialSettings s;
    const std::uint32_t raw = data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t(data[3]) << 24;
    s.baud = 50 + static_cast<qint32>(raw % (4000000 - 50 + 1));
    s.parity = "eonms"[data[4] % 5];
    s.dataBits = 4 + (data[5] % 5);
    s.stopTenths = (data[5] / 5) % 3 == 0 ? 10 : (data[5] / 5) % 3 == 1 ? 15 : 20;
    const auto back = SerialSettings::parse(s.toString());
    FUZZ_CHECK(back && *back == s);
    checkDeviceSupports(s);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* chars = reinterpret_cast<const char*>(data);
    const auto n = static_cast<qsizetype>(size);
    checkText(QString::fromUtf8(chars, n));
    checkText(QString::fromLatin1(chars, n));
    // Raw UTF-16 reaches code units no 8-bit decoding produces.
    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * 2);
    checkText(QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())));
    checkValue(data, size);
    return 0;
}
