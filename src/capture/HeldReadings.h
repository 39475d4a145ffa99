#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <deque>

// One received line on its way to the target.
struct Reading {
    QString id;           // in the journal
    QByteArray raw;       // as received, without the CR
    QString text;         // composed: date and time inserted, CR LF at the end
    qsizetype dataAt = 0; // where in text the data is
    qsizetype dataLength = 0;
    QDateTime receivedAt; // the date and time in text are these
    // What is typed: text, as the target needs it (a spreadsheet's cells);
    // made when the target is known, before the first key of the reading.
    QString keys;
    bool planned = false;
    QString shownInCell;     // what the target shows instead of the data, if known
    int typedChars = 0;      // of keys, already typed (a line cut short)
    bool markedHeld = false; // the log and the journal say it is held

    // The composed line without its CR LF, as the log shows it.
    QString shown() const { return text.endsWith(QLatin1String("\r\n")) ? text.chopped(2) : text; }
};

// Readings waiting to be typed, oldest first. Bounded, so that a target that
// never takes keys again cannot make the program grow without end: past the
// bound a reading is refused (the caller records it as not typed).
class HeldReadings {
public:
    static constexpr int MaxCount = 50000;
    static constexpr qsizetype MaxChars = 8 * 1024 * 1024;

    bool push(const Reading& reading);
    bool isEmpty() const { return m_queue.empty(); }
    int size() const { return int(m_queue.size()); }
    Reading& front() { return m_queue.front(); }
    void pop();
    std::deque<Reading>& all() { return m_queue; }
    const std::deque<Reading>& all() const { return m_queue; }
    void clear();

    // Readings marked held always come first, so marking costs nothing for
    // those marked before, however long the hold.
    int markedCount() const { return m_marked; }
    // Marks every reading not marked yet, calling each(reading) for it.
    template <typename Each> void markRest(Each each) {
        for (; m_marked < size(); ++m_marked) {
            m_queue[std::size_t(m_marked)].markedHeld = true;
            each(m_queue[std::size_t(m_marked)]);
        }
    }
    void markFront() {
        if (m_marked == 0 && !isEmpty()) {
            m_queue.front().markedHeld = true;
            m_marked = 1;
        }
    }

private:
    std::deque<Reading> m_queue;
    qsizetype m_chars = 0;
    int m_marked = 0;
};
