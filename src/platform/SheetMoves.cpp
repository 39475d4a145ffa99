#include "SheetMoves.h"

#include "KeyActions.h"

#include <QRegularExpression>

QString Cell::name() const {
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar('A' + (c - 1) % 26));
    return letters + QString::number(row + 1);
}

Cell Cell::parse(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^\\$?([A-Z]{1,3})\\$?([0-9]{1,7})$"));
    const auto m = re.match(name.trimmed());
    if (!m.hasMatch())
        return {};
    int c = 0;
    for (QChar ch : m.captured(1))
        c = c * 26 + (ch.unicode() - 'A' + 1);
    return {m.captured(2).toInt() - 1, c - 1};
}

void SheetMoves::add(const QString& id, const QString& keys, const QString& data) {
    QString cell;
    const std::size_t first = m_moves.size();
    for (const QChar c : keys) {
        if (c == QLatin1Char('\n') || c == QChar(KeyActions::DeleteMark))
            continue;
        if (c != QLatin1Char('\t') && c != QLatin1Char('\r') && c != QChar(KeyActions::DownMark) &&
            c != QChar(KeyActions::RightMark)) {
            cell += c;
            continue;
        }
        m_moves.push_back({id, c, cell, !data.isEmpty() && cell.contains(data), false});
        cell.clear();
    }
    if (m_moves.size() > first)
        m_moves.back().last = true;
}

void SheetMoves::setStart(Cell cursor) {
    if (!(cursor == m_start))
        m_rowStart = -1;
    m_start = cursor;
}

Cell SheetMoves::after(const Move& move, Cell pos, int* rowStart) {
    if (*rowStart < 0)
        *rowStart = pos.column;
    if (move.key == QLatin1Char('\t') || move.key == QChar(KeyActions::RightMark))
        return {pos.row, pos.column + 1};
    if (move.key == QChar(KeyActions::DownMark)) {
        *rowStart = pos.column;
        return {pos.row + 1, pos.column};
    }
    const Cell next{pos.row + 1, *rowStart}; // Return
    *rowStart = next.column;
    return next;
}

int SheetMoves::doneAt(Cell cursor) const {
    int done = cursor == m_start ? 0 : -1;
    Cell pos = m_start;
    int rowStart = m_rowStart;
    for (std::size_t i = 0; i < m_moves.size(); ++i) {
        pos = after(m_moves[i], pos, &rowStart);
        if (pos == cursor)
            done = int(i) + 1;
    }
    return done;
}

Cell SheetMoves::startBefore(Cell cursor, int n) const {
    Cell pos = cursor;
    for (int i = n - 1; i >= 0 && pos.valid(); --i) {
        const QChar key = m_moves[std::size_t(i)].key;
        if (key == QLatin1Char('\t') || key == QChar(KeyActions::RightMark)) {
            --pos.column;
        } else if (key == QLatin1Char('\r')) {
            // Back to the end of the row: as many cells right as Tab made.
            int tabs = 0;
            for (int k = i - 1; k >= 0; --k) {
                const QChar before = m_moves[std::size_t(k)].key;
                if (before != QLatin1Char('\t') && before != QChar(KeyActions::RightMark))
                    break;
                ++tabs;
            }
            pos = {pos.row - 1, pos.column + tabs};
        } else {
            --pos.row;
        }
    }
    return pos.valid() ? pos : Cell{};
}

Cell SheetMoves::left(int i) const {
    Cell pos = m_start;
    int rowStart = m_rowStart;
    for (int k = 0; k < i; ++k)
        pos = after(m_moves[std::size_t(k)], pos, &rowStart);
    return pos;
}

void SheetMoves::drop(int n) {
    for (int k = 0; k < n && !m_moves.empty(); ++k) {
        m_start = after(m_moves.front(), m_start, &m_rowStart);
        m_moves.pop_front();
    }
}

void SheetMoves::retract(const QString& id) {
    for (auto it = m_moves.begin(); it != m_moves.end(); ++it)
        if (it->id == id) {
            m_moves.erase(it, m_moves.end());
            return;
        }
}
