#include "LineAssembler.h"

#include <utility>

LineAssembler::Outcome LineAssembler::feed(char byte) {
    const bool afterCr = m_afterCr;
    m_afterCr = false;
    if (byte == '\n' && afterCr)
        return Outcome::Dropped;
    if (byte == '\r') {
        m_afterCr = true;
        if (std::exchange(m_discarding, false))
            return Outcome::Dropped;
        m_completed = m_pending;
        m_pending.clear();
        return Outcome::LineCompleted;
    }
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
    m_afterCr = false;
    m_discarding = false;
}
