#pragma once

#include <QByteArray>

// What ends a line. CR: a CR; an LF that directly follows it belongs to the
// line end and is dropped whenever it arrives; a lone LF is data. LF: an LF;
// a CR directly before it belongs to the line end; a lone CR is data. Any:
// a CR, an LF, or either pair (CR LF, LF CR) ends one line.
enum class LineEnd { CR, LF, Any };

// Collects received bytes into lines, ended as LineEnd says (CR unless set).
// Every byte that is not part of a line end is data. A line that reaches MaxLine
// bytes without its end is cut off there (a wrong speed or an instrument that
// ends lines otherwise): its bytes so far are handed over as too long, and
// the rest up to the next line end is dropped.
class LineAssembler {
public:
    enum class Outcome { Collected, Dropped, LineCompleted, LineTooLong };
    static constexpr qsizetype MaxLine = 4096;

    // Takes effect with the next byte; reset() keeps it.
    void setLineEnd(LineEnd end) { m_end = end; }

    Outcome feed(char byte);
    // The data of the line the last feed() completed or cut off.
    QByteArray takeLine();
    // Bytes collected since the last line end.
    const QByteArray& pending() const { return m_pending; }
    // Bytes are being dropped up to the next line end.
    bool discarding() const { return m_discarding; }
    // Forgets the partial line and the line-end state (a new run starts afresh).
    void reset();

private:
    Outcome endLine();
    Outcome collect(char byte);

    LineEnd m_end = LineEnd::CR;
    QByteArray m_pending;
    QByteArray m_completed;
    char m_lastEnd = 0;     // CR or LF that just ended a line (its pair is dropped)
    bool m_crWaits = false; // LF mode: a CR that may be the start of CR LF
    bool m_discarding = false;
};
