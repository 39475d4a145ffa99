#pragma once

#include <QByteArray>

// Collects received bytes into lines. A CR ends a line; an LF that directly
// follows that CR belongs to the line end and is dropped whenever it arrives.
// Every other byte, a lone LF included, is data.
class LineAssembler {
public:
    enum class Outcome { Collected, Dropped, LineCompleted };

    Outcome feed(char byte);
    // The data of the line the last feed() completed.
    QByteArray takeLine();
    // Bytes collected since the last CR.
    const QByteArray& pending() const { return m_pending; }
    // Forgets the partial line and the CR state (a new run starts afresh).
    void reset();

private:
    QByteArray m_pending;
    QByteArray m_completed;
    bool m_afterCr = false;
};
