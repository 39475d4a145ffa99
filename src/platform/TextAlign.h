#pragma once

#include <QString>
#include <vector>

// Where readings typed into a text ended up. The text just before the
// caret should be the pieces typed since, in order; a piece the target
// lost or changed is not there, and the pieces around it still are. Each
// piece is looked for in order, from where the one before it ended.
namespace TextAlign {

struct Found {
    bool found = false;
    qsizetype at = 0; // in the text given, where the piece begins (found)
    QString instead;  // not found: the text between its neighbours that were
};

// before: the text that ends at the caret, as long as all pieces together.
std::vector<Found> align(const QString& before, const std::vector<QString>& pieces);

// True when the pieces fill before exactly, one after the other.
bool whole(const QString& before, const std::vector<QString>& pieces);

// How many of the first pieces can be decided while keys may still be on
// their way: all up to the last one found. Keys arrive in order, so a
// piece missing before one that arrived was lost or changed, and readings
// streaming in without a pause do not keep it pending for ever.
std::size_t settled(const std::vector<Found>& found);

} // namespace TextAlign
