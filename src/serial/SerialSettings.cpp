#include "SerialSettings.h"

#include <QStringList>

namespace {
AppError invalid(const QString& text) {
    return makeError(Err::InvalidPropertyValue,
                     QStringLiteral("Invalid property value: \"%1\" is not a usable serial "
                                    "settings string (speed,parity,data bits,stop bits).")
                         .arg(text.left(80)));
}

bool isDigits(const QString& s) {
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}
} // namespace

std::optional<SerialSettings> SerialSettings::parse(const QString& text, AppError* error) {
    auto fail = [&]() -> std::optional<SerialSettings> {
        if (error)
            *error = invalid(text);
        return std::nullopt;
    };
    const QStringList f = text.split(',');
    if (f.size() != 4)
        return fail();
    SerialSettings s;
    // Speed: plain decimal digits; anything from 50 bit/s to 4 Mbit/s.
    if (!isDigits(f[0]) || f[0].size() > 7)
        return fail();
    s.baud = f[0].toInt();
    if (s.baud < 50 || s.baud > 4000000)
        return fail();
    if (f[1].size() != 1)
        return fail();
    const char p = f[1].at(0).toLower().toLatin1();
    if (!QByteArray("eonms").contains(p))
        return fail();
    s.parity = p;
    if (f[2].size() != 1 || f[2] < "4" || f[2] > "8")
        return fail();
    s.dataBits = f[2].toInt();
    if (f[3] == "1")
        s.stopTenths = 10;
    else if (f[3] == "1.5")
        s.stopTenths = 15;
    else if (f[3] == "2")
        s.stopTenths = 20;
    else
        return fail();
    return s;
}

QString SerialSettings::toString() const {
    const QString stop =
        stopTenths == 15 ? QStringLiteral("1.5") : QString::number(stopTenths / 10);
    return QStringLiteral("%1,%2,%3,%4").arg(baud).arg(QChar(parity)).arg(dataBits).arg(stop);
}

Failure SerialSettings::deviceSupports() const {
    if (dataBits == 4)
        return makeError(
            Err::PortSettingUnsupported,
            QStringLiteral("The serial device cannot use 4 data bits; choose 5 to 8."));
    // A UART sends 1.5 stop bits only with 5-bit characters, and with 5-bit
    // characters its "two stop bits" setting gives 1.5.
    if (stopTenths == 15 && dataBits != 5)
        return makeError(Err::PortSettingUnsupported,
                         QStringLiteral("The serial device can use 1.5 stop bits only with 5 data "
                                        "bits."));
    if (stopTenths == 20 && dataBits == 5)
        return makeError(
            Err::PortSettingUnsupported,
            QStringLiteral("The serial device cannot use 2 stop bits with 5 data bits; "
                           "choose 1.5."));
    return std::nullopt;
}
