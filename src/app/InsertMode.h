#pragma once

#include <QString>
#include <cstdint>

// Where the date or the time goes in each typed line.
enum class InsertMode : int { None = 0, Before = 1, After = 2 };

// The two modes as the Option dialog edits them. InsertDate may still be the
// text read from the store; OK makes it the number chosen, as text.
struct InsertModes {
    QString InsertDate = QStringLiteral("0");
    std::int16_t InsertTime = 0;
};
