#include "LineAssembler.h"

LineAssembler::Outcome LineAssembler::feed(char byte) {
    const bool afterCr = m_afterCr;
    m_afterCr = false;
    if (byte == '\n' && afterCr)
        return Outcome::Dropped;
    if (byte == '\r') {
        m_completed = m_pending;
        m_pending.clear();
        m_afterCr = true;
        return Outcome::LineCompleted;
    }
    m_pending += byte;
    return Outcome::Collected;
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
}
