#include "LineAssembler.h"

#include <utility>

LineAssembler::Outcome LineAssembler::feed(char byte) {
    const char lastEnd = std::exchange(m_lastEnd, 0);
    switch (m_end) {
    case LineEnd::CR:
        if (byte == '\n' && lastEnd == '\r')
            return Outcome::Dropped;
        if (byte == '\r')
            return m_lastEnd = byte, endLine();
        return collect(byte);
    case LineEnd::Any:
        if ((byte == '\n' && lastEnd == '\r') || (byte == '\r' && lastEnd == '\n'))
            return Outcome::Dropped;
        if (byte == '\r' || byte == '\n')
            return m_lastEnd = byte, endLine();
        return collect(byte);
    case LineEnd::LF:
        break;
    }
    // LF: a CR is data unless an LF follows it, which may come in a later read.
    if (std::exchange(m_crWaits, false)) {
        if (byte == '\n')
            return endLine();
        if (collect('\r') == Outcome::LineTooLong) {
            // The rest of the line is dropped; this byte may start its end.
            m_crWaits = byte == '\r';
            return Outcome::LineTooLong;
        }
    }
    if (byte == '\r') {
        m_crWaits = true;
        return m_discarding ? Outcome::Dropped : Outcome::Collected;
    }
    if (byte == '\n')
        return endLine();
    return collect(byte);
}

LineAssembler::Outcome LineAssembler::endLine() {
    if (std::exchange(m_discarding, false))
        return Outcome::Dropped;
    m_completed = m_pending;
    m_pending.clear();
    return Outcome::LineCompleted;
}

LineAssembler::Outcome LineAssembler::collect(char byte) {
    if (m_discarding)
        return Outcome::Dropped;
    m_pending += byte;
    if (m_pending.size() < MaxLine)
        return Outcome::Collected;
    m_completed.swap(m_pending);
    m_pending.clear();
    m_discarding = true;
    return Outcome::LineTooLong;
}

QByteArray LineAssembler::takeLine() {
    QByteArray line;
    line.swap(m_completed);
    return line;
}

void LineAssembler::reset() {
    m_pending.clear();
    m_completed.clear();
    m_lastEnd = 0;
    m_crWaits = false;
    m_discarding = false;
}
