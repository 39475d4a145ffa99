#pragma once

#include <QByteArray>
#include <QList>

// Undoes the kernel's parity marking (PARMRK): "FF 00 c" is a character
// received with a parity error and becomes "?"; "FF FF" is a real 0xFF.
// A mark split across reads is completed by the next one.
class ParityMarks {
public:
    // damaged, if given, receives the offset in the result of each "?" that
    // stands for a damaged character.
    QByteArray decode(const QByteArray& raw, QList<qsizetype>* damaged = nullptr);
    void reset() { m_pending.clear(); }

private:
    QByteArray m_pending;
};
