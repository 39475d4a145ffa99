#pragma once

#include <QString>
#include <deque>

// A spreadsheet cell by row and column, from 0; "B12" is row 11, column 1.
struct Cell {
    int row = -1, column = -1;
    bool valid() const { return row >= 0 && column >= 0; }
    bool operator==(const Cell& o) const { return row == o.row && column == o.column; }
    QString name() const;
    // "B12", "$B$12"; an invalid Cell for anything else (a range, a name).
    static Cell parse(const QString& name);
};

// Where readings typed into a spreadsheet go. Each key that ends a cell
// (Tab, Return, an arrow) moves the cell cursor; Return goes to the next
// row, back to the column where Tab began the row. From the cell the
// cursor was on before the keys, every reading's cells follow, and where the
// cursor is now tells how many of the keys the sheet has taken.
class SheetMoves {
public:
    struct Move {
        QString id;    // of the reading
        QChar key;     // TAB, CR, or the arrow marks
        QString typed; // into the cell the key leaves
        bool data;     // that cell holds the reading's data
        bool last;     // of its reading
    };

    // Adds the moves of a reading's keys (which end with a move).
    void add(const QString& id, const QString& keys, const QString& data);
    bool empty() const { return m_moves.empty(); }
    const std::deque<Move>& moves() const { return m_moves; }
    // Where the keys begin (the cursor before them).
    void setStart(Cell cursor);
    Cell start() const { return m_start; }
    // How many of the first moves lead from the start to the cursor now:
    // the largest such count; -1 when the cursor is on none of their paths.
    int doneAt(Cell cursor) const;
    // Where the keys began if the first n moves led to cursor, from the
    // first cell of a row (as a run begins): for a start not seen.
    Cell startBefore(Cell cursor, int n) const;
    // The cell move i leaves.
    Cell left(int i) const;
    // Takes the first n moves off; the start moves with them.
    void drop(int n);
    // Takes off the reading's moves and all after them.
    void retract(const QString& id);
    void clear() { m_moves.clear(); }

private:
    // The cursor after move i from pos, whose row began at column *rowStart.
    static Cell after(const Move& move, Cell pos, int* rowStart);

    Cell m_start;
    int m_rowStart = -1; // the column where the start's row began
    std::deque<Move> m_moves;
};
