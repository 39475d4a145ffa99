#pragma once

#include "base/AppError.h"

#include <QString>
#include <optional>

// The serial settings string "speed,parity,data,stop", e.g. "9600,n,8,1".
struct SerialSettings {
    qint32 baud = 9600;
    char parity = 'n';   // e, o, n, m or s
    int dataBits = 8;    // 4 to 8
    int stopTenths = 10; // 10, 15 or 20: stop bits times ten

    // Parses text as the user or the store gives it: parity letter in either
    // case, no blanks. A string that cannot be used gives an error.
    static std::optional<SerialSettings> parse(const QString& text, AppError* error = nullptr);
    // Reported form: parity letter in lower case, stop bits "1", "1.5" or "2".
    QString toString() const;
    // Why a device cannot be set up this way, or nothing when it can.
    Failure deviceSupports() const;

    bool operator==(const SerialSettings& o) const {
        return baud == o.baud && parity == o.parity && dataBits == o.dataBits &&
               stopTenths == o.stopTenths;
    }
};
