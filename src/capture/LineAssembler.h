#pragma once

#include <QByteArray>

// Collects received bytes into lines. A CR ends a line; an LF that directly
// follows that CR belongs to the line end and is dropped whenever it arrives.
// Every other byte, a lone LF included, is data. A line that reaches MaxLine
// bytes without its CR is cut off there (a wrong speed or an instrument that
// ends lines otherwise): its bytes so far are handed over as too long, and
// the rest up to the next CR is dropped.
class LineAssembler {
public:
    enum class Outcome { Collected, Dropped, LineCompleted, LineTooLong };
    static constexpr qsizetype MaxLine = 4096;

    Outcome feed(char byte);
    // The data of the line the last feed() completed or cut off.
    QByteArray takeLine();
    // Bytes collected since the last CR.
    const QByteArray& pending() const { return m_pending; }
    // Bytes are being dropped up to the next CR.
    bool discarding() const { return m_discarding; }
    // Forgets the partial line and the CR state (a new run starts afresh).
    void reset();

private:
    QByteArray m_pending;
    QByteArray m_completed;
    bool m_afterCr = false;
    bool m_discarding = false;
};
