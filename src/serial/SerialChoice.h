#pragma once

#include <QString>
#include <cstdint>

// The three port values the user chooses and the store keeps: what the
// communication dialog edits, as plain values with no port behind them.
struct SerialChoice {
    QString Settings = QStringLiteral("9600,n,8,1"); // speed,parity,data bits,stop bits
    std::int16_t CommPort = 1;
    qint32 Handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both
};
